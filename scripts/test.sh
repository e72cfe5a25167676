#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: unit, end-to-end and interoperability.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j 2
