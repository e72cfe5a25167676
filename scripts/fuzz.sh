#!/usr/bin/env bash
# Fuzzes each libFuzzer target for a bounded time and prints what it did. Two builds, with clang:
#   build-fuzz           coverage instrumentation alone, to explore at full speed;
#   build-fuzz-sanitize  the same targets with AddressSanitizer and UndefinedBehaviorSanitizer,
#                        which first replays every kept crash input and at the end every input
#                        that the exploration kept (the corpus), so that nothing it reached
#                        escapes the sanitizers.
#
#   scripts/fuzz.sh          20 seconds a target (what the test command runs)
#   scripts/fuzz.sh 300      five minutes a target: every target past ten million inputs
#
# A failing input is left in build-fuzz/: copy it into fuzz/regressions/<target>/ once fixed.
set -euo pipefail
shopt -s nullglob
cd "$(dirname "$0")/.."
seconds="${1:-20}"
VELTO_WITH_CLANG=1 scripts/install-deps.sh

targets=(FuzzLineHandler FuzzReadHttp FuzzEndpoint FuzzHostRequest)
jobs=$(nproc 2>/dev/null || sysctl -n hw.ncpu)
# JUCE's own code is left uninstrumented: see the list
coverageFlags="-fsanitize=fuzzer-no-link -fsanitize-coverage-ignorelist=$PWD/fuzz/coverage-ignorelist.txt"
sanitizers="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"

build() {
    local folder=$1 flags=$2
    CC=clang CXX=clang++ cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELTO_BUILD_TESTS=OFF -DVELTO_BUILD_FUZZERS=ON -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
    cmake --build "$folder" -j "$jobs" --target "${targets[@]}" >/dev/null
}

build build-fuzz "$coverageFlags"
build build-fuzz-sanitize "$coverageFlags $sanitizers"

mkdir -p build/report
report=build/report/fuzz.txt
: > "$report"

for target in "${targets[@]}"; do
    regressions=(fuzz/regressions/$target/*)
    if [ ${#regressions[@]} -gt 0 ]; then
        build-fuzz-sanitize/fuzz/$target "${regressions[@]}" >/dev/null 2>&1 \
            || { echo "$target: a kept crash input fails again"; build-fuzz-sanitize/fuzz/$target "${regressions[@]}"; exit 1; }
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

    # Everything the exploration kept, once more under the sanitizers
    kept=("$corpus"/* fuzz/corpus/$target/*)
    if ! (cd build-fuzz && ../build-fuzz-sanitize/fuzz/$target -runs=0 -timeout=10 "corpus/$target" "../fuzz/corpus/$target") \
            > build-fuzz/$target.replay.log 2>&1; then
        tail -40 build-fuzz/$target.replay.log
        echo "$target: an input that the exploration kept fails under the sanitizers: it is in build-fuzz/"
        exit 1
    fi

    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 | awk '{print $2 " edges, " $4 " features"}')
    echo "fuzzing $target: $runs inputs in ${seconds} s ($((runs / seconds)) a second), coverage $coverage;" \
         "${#kept[@]} kept inputs replayed under ASan and UBSan, ${#regressions[@]} kept crash inputs replayed, no failure" | tee -a "$report"
done
