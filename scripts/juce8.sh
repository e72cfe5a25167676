#!/usr/bin/env bash
# The JUCE 8 leg of the tests. Builds and installs JUCE 8.0.12 from its archive, once: the install
# stays in build-juce8/juce and serves again while the archive is the same. Then builds this
# project against it and runs the Release suite, and builds the JUCE application that embeds the
# module with JUCE 8 added from its source, as many applications bring JUCE in, and again with
# JUCE 8 installed and the module added by juce_add_module, and drives each.
#
# The archive is $VELTO_JUCE8_ARCHIVE, else ../shared/third_party/JUCE-8.0.12.tar.xz beside the
# checkout. Without one, this says so in one line and ends with status 0.
set -euo pipefail
cd "$(dirname "$0")/.."
version=8.0.12
archive=${VELTO_JUCE8_ARCHIVE:-../shared/third_party/JUCE-$version.tar.xz}
work=build-juce8
jobs=$(nproc 2>/dev/null || sysctl -n hw.ncpu)

fail() { echo "JUCE 8: $*" >&2; exit 1; }

if [ ! -f "$archive" ]; then
    [ -z "${VELTO_JUCE8_ARCHIVE:-}" ] || fail "VELTO_JUCE8_ARCHIVE names $archive, which is not a file"
    echo "JUCE 8: no archive at $archive (VELTO_JUCE8_ARCHIVE can name one): the JUCE 8 leg is skipped"
    exit 0
fi

checksum=$( (sha256sum "$archive" 2>/dev/null || shasum -a 256 "$archive") | cut -d' ' -f1)
source="$work/juce/JUCE-$version"
install="$PWD/$work/juce/install"

if [ "$(cat "$work/juce/checksum" 2>/dev/null)" != "$checksum" ]; then
    # Everything about the archive is checked before anything is built from it, or the kept
    # install of a good one is given up
    listing=$(mktemp)
    trap 'rm -f "$listing"' EXIT
    tar -tJf "$archive" > "$listing" 2>/dev/null || fail "$archive cannot be read as a .tar.xz archive (truncated?)"
    grep -qx "JUCE-$version/CMakeLists.txt" "$listing" || fail "$archive does not hold JUCE-$version/CMakeLists.txt: it is not JUCE $version"
    tar -xJOf "$archive" "JUCE-$version/CMakeLists.txt" | grep -q "^project(JUCE VERSION $version " \
        || fail "$archive holds another version of JUCE than $version"

    rm -rf "$work/juce"
    mkdir -p "$work/juce"
    tar -xJf "$archive" -C "$work/juce" || fail "$archive could not be unpacked"

    echo "JUCE 8: building and installing JUCE $version (once; kept in $work/juce)"
    cmake -S "$source" -B "$work/juce/build" -DCMAKE_BUILD_TYPE=Release > "$work/juce/build.log" 2>&1 \
        && cmake --build "$work/juce/build" -j "$jobs" >> "$work/juce/build.log" 2>&1 \
        && cmake --install "$work/juce/build" --prefix "$install" >> "$work/juce/build.log" 2>&1 \
        || { tail -30 "$work/juce/build.log"; fail "JUCE $version did not build or install: see above"; }
    echo "$checksum" > "$work/juce/checksum"
fi

echo "JUCE 8: this project against JUCE $version, and its Release suite"
cmake -S . -B "$work/project" -DCMAKE_BUILD_TYPE=Release -DJUCE_DIR="$install/lib/cmake/JUCE-$version" >/dev/null
cmake --build "$work/project" -j "$jobs" >/dev/null
grep -q "JUCE-$version" "$work/project/CMakeCache.txt" || fail "the project did not pick up JUCE $version"
ctest --test-dir "$work/project" --output-on-failure -j 2

echo "JUCE 8: the packages of a bridge built with JUCE $version carry its notices"
rm -rf "$work/project/packages"
(cd "$work/project" && cpack > cpack.log 2>&1) || { cat "$work/project/cpack.log"; fail "CPack did not make the archives"; }
rm -rf "$work/project/packages/_CPack_Packages"
scripts/bundle.sh "$work/project/VeltoMCP" "$work/project/packages" >/dev/null
scripts/check-notices.sh "$work/project"

echo "JUCE 8: the JUCE application with JUCE $version added from its source"
scripts/consumer.sh "$work/juce-app" "$work/project/VeltoMCP" -DVELTO_APP_JUCE_SOURCE="$PWD/$source"

echo "JUCE 8: the JUCE application with JUCE $version installed, and the module by juce_add_module"
scripts/consumer.sh "$work/juce-app-module" "$work/project/VeltoMCP" -DJUCE_DIR="$install/lib/cmake/JUCE-$version" -DVELTO_APP_MODULE=juce_module
