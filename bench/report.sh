#!/usr/bin/env bash
# Prints the figures that the last test run left in build/report: what the fault and load tests
# checked and injected, what the fuzzers ran, and descriptors and memory before and after.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "== report: faults, load and fuzzing"
shopt -s nullglob
files=(build/report/*.txt)
if [ ${#files[@]} -eq 0 ]; then
    echo "no figures yet: run scripts/test.sh"
    exit 0
fi
for file in "${files[@]}"; do
    sort "$file" | sed 's/^/  /'
done
