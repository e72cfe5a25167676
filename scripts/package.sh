#!/usr/bin/env bash
# Builds the bridge alone, as an application that ships it inside its bundle does
# (VELTO_BRIDGE_ONLY: no tests, GoogleTest or Node.js), and packages it: the CPack archives of its
# install (.tar.gz and .zip, each with its .sha256, checked) and the MCP Bundle (.mcpb, with its
# .sha256). Leaves them in build-package/packages/.
#
#   scripts/package.sh [CMake options]      (-DCMAKE_OSX_ARCHITECTURES="x86_64;arm64" on a Mac)
set -euo pipefail
cd "$(dirname "$0")/.."
folder=build-package
jobs=$(nproc 2>/dev/null || sysctl -n hw.ncpu)

fail() { echo "package: $*" >&2; exit 1; }

# GoogleTest is barred from being looked for: the bridge alone must not need it
cmake -S . -B "$folder" --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release -DVELTO_BRIDGE_ONLY=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON "$@" >/dev/null
! grep -qE "^(GTest_DIR|NODE_EXECUTABLE)" "$folder/CMakeCache.txt" || fail "the bridge-only build looked for GoogleTest or Node.js"
cmake --build "$folder" -j "$jobs" > "$folder/build.log" 2>&1 || { cat "$folder/build.log"; fail "the bridge did not build"; }

rm -rf "$folder/packages"
(cd "$folder" && cpack > cpack.log 2>&1) || { cat "$folder/cpack.log"; fail "CPack did not make the archives"; }
rm -rf "$folder/packages/_CPack_Packages"
(cd "$folder/packages" && for sum in *.sha256; do (sha256sum -c "$sum" 2>/dev/null || shasum -a 256 -c "$sum") >/dev/null || exit 1; done) \
    || fail "an archive does not match the SHA-256 beside it"

scripts/bundle.sh "$folder/VeltoMCP" "$folder/packages" | sed 's/^bundle: //'
for archive in "$folder"/packages/*.tar.gz "$folder"/packages/*.zip; do
    echo "$archive, $(wc -c < "$archive" | tr -d ' ') bytes, SHA-256 $(cut -d' ' -f1 "$archive.sha256")"
done
