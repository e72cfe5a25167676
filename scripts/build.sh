#!/usr/bin/env bash
# Configures and builds Release into build/ (the bridge lands at build/VeltoMCP).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || sysctl -n hw.ncpu)"
