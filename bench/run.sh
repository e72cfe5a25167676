#!/usr/bin/env bash
# Builds Release and prints the benchmark: VeltoMCP beside the yardsticks, the least that a
# program with its contract can do. Figures, not pass or fail.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh >/dev/null
build/velto_bench build/VeltoMCP build/velto_reference_host build/velto_yardstick_relay build/velto_yardstick_offline bench/NodeHost.mjs
