#!/usr/bin/env bash
# Builds the JUCE application that embeds the module (examples/juce-app) and drives it through a
# built bridge. Its build itself fails when juce_core is compiled twice into the application or
# the module adds or changes one of its compile definitions.
#
#   scripts/consumer.sh <build folder> <VeltoMCP> [CMake options for the application]
set -euo pipefail
cd "$(dirname "$0")/.."
folder=$1
bridge=$2
shift 2
[[ $bridge = /* ]] || bridge="$PWD/$bridge"
[[ $folder = /* ]] || folder="$PWD/$folder"

cmake -S examples/juce-app -B "$folder" "$@" >/dev/null
cmake --build "$folder" -j "$(nproc 2>/dev/null || sysctl -n hw.ncpu)" > "$folder/build.log" 2>&1 \
    || { cat "$folder/build.log"; echo "the JUCE application did not build: see above"; exit 1; }
# The check runs whenever the application is linked; a failed check deletes it
grep -o "VeltoJuceApp: one juce_core.*" "$folder/build.log" \
    || echo "VeltoJuceApp: up to date, so checked when it was last linked"

VELTO_JUCE_APP="$folder/VeltoJuceApp_artefacts/Debug/VeltoJuceApp" VELTO_BRIDGE="$bridge" \
    node --test --test-timeout=120000 tests/consumer/JuceApp.test.mjs > "$folder/test.log" 2>&1 \
    || { cat "$folder/test.log"; echo "the JUCE application failed its test"; exit 1; }
echo "VeltoJuceApp: the bridge's handshake, a tool call answered on the message thread and a refused token, then a clean stop"
