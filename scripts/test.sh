#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: unit, end-to-end, fault and load, and
# interoperability; then the suite again under AddressSanitizer and UndefinedBehaviorSanitizer;
# then each fuzz target for a bounded time. Ends with the report of figures.
set -euo pipefail
cd "$(dirname "$0")/.."
export VELTO_WITH_CLANG=1   # the fuzz targets need clang and its runtime
scripts/install-deps.sh
scripts/build.sh
rm -rf build/report
ctest --test-dir build --output-on-failure -j 2

echo "== the demo (the main job) must end with status 0"
scripts/demo.sh > build/demo.log 2>&1 || { cat build/demo.log; echo "the demo failed"; exit 1; }
echo "demo: the scripted session through the bridge and the reference host, then offline, ended with status 0" >> build/report/demo.txt

echo "== the suite again under AddressSanitizer and UndefinedBehaviorSanitizer"
sanitize="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$sanitize" >/dev/null
cmake --build build-sanitize -j "$(nproc 2>/dev/null || sysctl -n hw.ncpu)" --target velto_tests >/dev/null
# The SDK tests drive the Release binaries and ran above; everything else runs sanitized
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-sanitize --output-on-failure -j 2 -E '^interop\.'

echo "== the host and its concurrent clients again under ThreadSanitizer: a data race fails the run"
tsan="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_FLAGS="$tsan" -DCMAKE_EXE_LINKER_FLAGS="$tsan" >/dev/null
cmake --build build-tsan -j "$(nproc 2>/dev/null || sysctl -n hw.ncpu)" --target velto_tests >/dev/null
# halt_on_error ends a racing host at once; the test then sees it die
TSAN_OPTIONS="halt_on_error=1 exitcode=66" ctest --test-dir build-tsan --output-on-failure -R '^(ReferenceHost|HostFlood|AnswerRequest)\.'

echo "== fuzzing"
scripts/fuzz.sh 20

bench/report.sh
