#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test, leg by leg:
#   1. the suite on Debian's JUCE 7: unit, end-to-end, fault, flood and load, and the MCP
#      TypeScript SDK against the binaries;
#   2. the demo, which must end with status 0;
#   3. the JUCE application that embeds the module, on Debian's JUCE, by add_subdirectory and by
#      juce_add_module;
#   4. install and packages: the bridge built alone, installed into a temporary prefix, the JUCE
#      application built from that install with find_package(VeltoMCP), found before JUCE and
#      after it, the CPack archives and the MCP Bundle checked; then the README's build from
#      source without GoogleTest, installed;
#   5. JUCE 8: the suite and the JUCE application again (skipped, saying so, without the archive);
#   6. macOS: every source compiled for macOS (against JUCE 8's headers when leg 5 has them);
#   7. the suite under AddressSanitizer and UndefinedBehaviorSanitizer;
#   8. the host's tests under ThreadSanitizer;
#   9. each fuzz target for a bounded time.
# Ends with the report of figures, the time of each leg among them.
set -euo pipefail
cd "$(dirname "$0")/.."
export VELTO_WITH_CLANG=1   # the fuzz targets need clang and its runtime
jobs=$(nproc 2>/dev/null || sysctl -n hw.ncpu)
scripts/install-deps.sh

rm -rf build/report
mkdir -p build/report
legs=build/report/legs.txt

leg() {
    local name=$1 started=$SECONDS
    shift
    echo "== $name"
    "$@"
    echo "leg \"$name\": $((SECONDS - started)) s" >> "$legs"
}

suite() {
    scripts/build.sh
    ctest --test-dir build --output-on-failure -j 2
}

demo() {
    scripts/demo.sh > build/demo.log 2>&1 || { cat build/demo.log; echo "the demo failed"; exit 1; }
    echo "demo: the scripted session through the bridge and the reference host, then the bridge alone, ended with status 0" \
        | tee build/report/demo.txt
}

consumer() {
    scripts/consumer.sh build/juce-app build/VeltoMCP | tee build/report/juce-app.txt
    scripts/consumer.sh build/juce-app-module build/VeltoMCP -DVELTO_APP_MODULE=juce_module | tee -a build/report/juce-app.txt
}

installAndPackage() {
    scripts/package.sh | tee build/report/packages.txt
    scripts/check-notices.sh build-package | tee -a build/report/packages.txt
    packageNames | tee -a build/report/packages.txt
    local prefix
    prefix=$(mktemp -d)
    cmake --install build-package --prefix "$prefix" >/dev/null
    # What the install puts where: nothing more, nothing less
    local expected="bin/VeltoMCP
include/VeltoMCP/modules/velto_assistant/AssistantDetail.h
include/VeltoMCP/modules/velto_assistant/AssistantEndpoint.cpp
include/VeltoMCP/modules/velto_assistant/AssistantHttp.cpp
include/VeltoMCP/modules/velto_assistant/AssistantInternal.h
include/VeltoMCP/modules/velto_assistant/AssistantJson.cpp
include/VeltoMCP/modules/velto_assistant/AssistantJsonScanner.h
include/VeltoMCP/modules/velto_assistant/AssistantJsonText.h
include/VeltoMCP/modules/velto_assistant/AssistantPlatform.h
include/VeltoMCP/modules/velto_assistant/AssistantProtocol.cpp
include/VeltoMCP/modules/velto_assistant/AssistantRequest.cpp
include/VeltoMCP/modules/velto_assistant/AssistantServer.cpp
include/VeltoMCP/modules/velto_assistant/AssistantServerParts.h
include/VeltoMCP/modules/velto_assistant/AssistantShared.h
include/VeltoMCP/modules/velto_assistant/third_party/dragonbox/LICENSE-Apache2-LLVM
include/VeltoMCP/modules/velto_assistant/third_party/dragonbox/LICENSE-Boost
include/VeltoMCP/modules/velto_assistant/third_party/dragonbox/dragonbox.h
include/VeltoMCP/modules/velto_assistant/third_party/fast_float/LICENSE-APACHE
include/VeltoMCP/modules/velto_assistant/third_party/fast_float/LICENSE-BOOST
include/VeltoMCP/modules/velto_assistant/third_party/fast_float/LICENSE-MIT
include/VeltoMCP/modules/velto_assistant/third_party/fast_float/ascii_number.h
include/VeltoMCP/modules/velto_assistant/third_party/fast_float/bigint.h
include/VeltoMCP/modules/velto_assistant/third_party/fast_float/constexpr_feature_detect.h
include/VeltoMCP/modules/velto_assistant/third_party/fast_float/decimal_to_binary.h
include/VeltoMCP/modules/velto_assistant/third_party/fast_float/digit_comparison.h
include/VeltoMCP/modules/velto_assistant/third_party/fast_float/fast_float.h
include/VeltoMCP/modules/velto_assistant/third_party/fast_float/fast_table.h
include/VeltoMCP/modules/velto_assistant/third_party/fast_float/float_common.h
include/VeltoMCP/modules/velto_assistant/third_party/fast_float/parse_number.h
include/VeltoMCP/modules/velto_assistant/velto_assistant.cpp
include/VeltoMCP/modules/velto_assistant/velto_assistant.h
lib/cmake/VeltoMCP/VeltoMCPConfig.cmake
lib/cmake/VeltoMCP/VeltoMCPConfigVersion.cmake
lib/cmake/VeltoMCP/VeltoMCPTargets-release.cmake
lib/cmake/VeltoMCP/VeltoMCPTargets.cmake
share/doc/VeltoMCP/LICENSE
share/doc/VeltoMCP/README.md
share/doc/VeltoMCP/THIRD-PARTY-NOTICES.txt"
    [ "$(cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)" = "$expected" ] \
        || { (cd "$prefix" && find . -type f); echo "the install puts other files than these:"; echo "$expected"; exit 1; }
    [ -n "$(find "$prefix/bin/VeltoMCP" -perm 0755)" ] || { echo "the installed bridge is not 0755"; exit 1; }
    # An application built from the install, driven through the installed bridge: one that finds
    # JUCE first, and one that has VeltoMCP's package find JUCE for it
    scripts/consumer.sh build/juce-app-package "$prefix/bin/VeltoMCP" -DVELTO_APP_MODULE=package -DCMAKE_PREFIX_PATH="$prefix" \
        | sed 's/^/JUCE found first: /' | tee -a build/report/packages.txt
    scripts/consumer.sh build/juce-app-package-first "$prefix/bin/VeltoMCP" -DVELTO_APP_MODULE=package -DVELTO_APP_PACKAGE_FIRST=ON \
        -DCMAKE_PREFIX_PATH="$prefix" | sed 's/^/VeltoMCP found first: /' | tee -a build/report/packages.txt
    rm -rf "$prefix"
}

packageNames() {
    # A package is named after what its binary holds: a table of headers, one labelled line each
    local file label bytes expected got bundle
    file=$(mktemp)
    while IFS='|' read -r label bytes expected; do
        printf "$bytes" > "$file"
        got=$(scripts/binary-platform.sh "$file" 2>&1 || true)
        [ "$got" = "${expected//FILE/$file}" ] || { echo "package names: $label: \"$got\", not \"$expected\""; exit 1; }
    done <<'TABLE'
universal, two architectures|\xca\xfe\xba\xbe\x00\x00\x00\x02|Darwin-universal
fat, arm64 alone|\xca\xfe\xba\xbe\x00\x00\x00\x01\x01\x00\x00\x0c|Darwin-arm64
Mach-O x86-64|\xcf\xfa\xed\xfe\x07\x00\x00\x01|Darwin-x86_64
Mach-O arm64|\xcf\xfa\xed\xfe\x0c\x00\x00\x01|Darwin-arm64
ELF x86-64|\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x3e\x00|Linux-x86_64
ELF aarch64|\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00|Linux-aarch64
neither|#!/bin/sh|binary-platform: FILE: neither Mach-O nor ELF
TABLE
    rm -f "$file"
    bundle=$(basename "$(ls build-package/packages/*.mcpb)" .mcpb)
    [ -f "build-package/packages/$bundle.tar.gz" ] || { echo "package names: the bundle $bundle.mcpb is not named as the archives"; exit 1; }
    echo "package names: the bundle is named as the archives ($bundle), and a package after what its binary holds (7 headers read)"
}

fromSource() {
    # The README's install from source on a machine without GoogleTest (as a Homebrew formula
    # builds): configures, builds and installs the bridge and the module, and says the tests are off
    local folder=build-from-source prefix
    prefix=$(mktemp -d)
    rm -rf "$folder"
    mkdir -p "$folder"
    cmake -S . -B "$folder" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON > "$folder/configure.log" 2>&1 \
        || { cat "$folder/configure.log"; echo "from source: it did not configure without GoogleTest"; exit 1; }
    grep -q "^-- VeltoMCP: GoogleTest was not found, so the tests are off" "$folder/configure.log" \
        || { cat "$folder/configure.log"; echo "from source: the configure step did not say that the tests are off"; exit 1; }
    cmake --build "$folder" -j "$jobs" > "$folder/build.log" 2>&1 || { cat "$folder/build.log"; echo "from source: it did not build"; exit 1; }
    cmake --install "$folder" --prefix "$prefix" > /dev/null
    [ -x "$prefix/bin/VeltoMCP" ] && [ -f "$prefix/include/VeltoMCP/modules/velto_assistant/velto_assistant.h" ] \
        && [ -f "$prefix/lib/cmake/VeltoMCP/VeltoMCPConfig.cmake" ] \
        || { (cd "$prefix" && find . -type f); echo "from source: the install lacks the bridge, the module or the package"; exit 1; }
    "$prefix/bin/VeltoMCP" --version | grep -q "^VeltoMCP " || { echo "from source: the installed bridge does not run"; exit 1; }
    rm -rf "$prefix" "$folder"
    echo "from source without GoogleTest: configured (the tests off, saying so), built and installed the bridge, the module and the package" \
        | tee build/report/from-source.txt
}

macos() {
    scripts/macos.sh | tee build/report/macos.txt
}

juce8() {
    scripts/juce8.sh | tee build/juce8.log
    grep -E "^(JUCE 8: no archive|VeltoJuceApp)" build/juce8.log | sed 's/^/JUCE 8: /' > build/report/juce8.txt || true
}

addressSanitizer() {
    local flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
    cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
    cmake --build build-sanitize -j "$jobs" --target velto_tests >/dev/null
    # The SDK tests drive the Release binaries and ran above; everything else runs sanitized
    ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-sanitize --output-on-failure -j 2 -E '^interop\.'
}

threadSanitizer() {
    # The host and its demo session are the only code with threads of its own
    local flags="-fsanitize=thread -fno-omit-frame-pointer"
    cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
          -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
    cmake --build build-tsan -j "$jobs" --target velto_tests >/dev/null
    # halt_on_error ends a racing host at once, and the test sees it die
    TSAN_OPTIONS="halt_on_error=1 exitcode=66" \
        ctest --test-dir build-tsan --output-on-failure -R '^(ReferenceHost|HostFlood|AnswerRequest|Server)\.'
}

leg "the suite on Debian's JUCE" suite
leg "the demo" demo
leg "the JUCE application on Debian's JUCE, by add_subdirectory and juce_add_module" consumer
leg "install and packages: the bridge alone, its install, find_package, CPack, the MCP Bundle" installAndPackage
leg "from source without GoogleTest: configure, build, install" fromSource
leg "JUCE 8: the suite and the JUCE application" juce8
leg "macOS: every source compiled for x86-64 macOS" macos
leg "the suite under AddressSanitizer and UndefinedBehaviorSanitizer" addressSanitizer
leg "the host's tests under ThreadSanitizer" threadSanitizer
leg "fuzzing" scripts/fuzz.sh 20

bench/report.sh
