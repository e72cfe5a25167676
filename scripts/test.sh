#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: unit, end-to-end and interoperability,
# then the same suite again built with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j 2

echo "== the suite again under AddressSanitizer and UndefinedBehaviorSanitizer"
sanitize="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$sanitize" >/dev/null
cmake --build build-sanitize -j "$(nproc 2>/dev/null || sysctl -n hw.ncpu)" --target velto_tests >/dev/null
# The SDK tests drive the Release binaries and ran above; everything else runs sanitized
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-sanitize --output-on-failure -j 2 -E '^interop\.'
