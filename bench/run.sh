#!/usr/bin/env bash
# Builds Release and prints the benchmark figures. Figures, not pass or fail.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh >/dev/null
build/velto_bench build/VeltoMCP build/velto_reference_host
