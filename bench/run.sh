#!/usr/bin/env bash
# Builds Release and prints the benchmark: VeltoMCP beside the yardsticks, the least that a
# program with its contract can do, with the JSON scaling table; then VeltoMCP beside two generic
# Node.js bridges from the npm registry (installed once into bench/peers). Figures, not pass or fail.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh >/dev/null
build/velto_bench build/VeltoMCP build/velto_reference_host build/velto_yardstick_relay build/velto_yardstick_offline bench/NodeHost.mjs

if [ ! -d bench/peers/node_modules/supergateway ] || [ ! -d bench/peers/node_modules/mcp-remote ]; then
    echo "Installing the Node.js bridges that the benchmark measures VeltoMCP beside"
    npm install --prefix bench/peers --no-audit --no-fund --no-package-lock --loglevel=error >/dev/null
fi
echo
node bench/peers.mjs build/VeltoMCP build/velto_yardstick_relay build/velto_reference_host
