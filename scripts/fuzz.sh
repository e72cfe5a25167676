#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan and UBSan too), replays every kept crash input,
# then fuzzes each target for a bounded time and prints what it did.
#
#   scripts/fuzz.sh          20 seconds a target (what the test command runs)
#   scripts/fuzz.sh 3600     an hour a target, for a longer hunt
#
# A crash leaves its input in build-fuzz/: copy it into fuzz/regressions/<target>/ once fixed.
set -euo pipefail
shopt -s nullglob
cd "$(dirname "$0")/.."
seconds="${1:-20}"
VELTO_WITH_CLANG=1 scripts/install-deps.sh

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELTO_BUILD_TESTS=OFF -DVELTO_BUILD_FUZZERS=ON \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build build-fuzz -j "$(nproc 2>/dev/null || sysctl -n hw.ncpu)" --target FuzzLineHandler FuzzReadHttp FuzzEndpoint FuzzHostRequest >/dev/null

mkdir -p build/report
report=build/report/fuzz.txt
: > "$report"

for target in FuzzLineHandler FuzzReadHttp FuzzEndpoint FuzzHostRequest; do
    regressions=(fuzz/regressions/$target/*)
    if [ ${#regressions[@]} -gt 0 ]; then
        build-fuzz/fuzz/$target "${regressions[@]}" >/dev/null 2>&1 \
            || { echo "$target: a kept crash input fails again"; build-fuzz/fuzz/$target "${regressions[@]}"; exit 1; }
    fi

    corpus=build-fuzz/corpus/$target
    mkdir -p "$corpus"
    log=build-fuzz/$target.log
    if ! (cd build-fuzz && fuzz/$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
            -print_final_stats=1 "corpus/$target" "../fuzz/corpus/$target") >"$log" 2>&1; then
        tail -40 "$log"
        echo "$target found a failure: the input is in build-fuzz/"
        exit 1
    fi
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 | awk '{print $2 " edges, " $4 " features"}')
    echo "fuzzing $target: $runs inputs in ${seconds} s ($((runs / seconds)) a second), coverage $coverage, ${#regressions[@]} kept crash inputs replayed, no failure" | tee -a "$report"
done
