#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the reference host with HOME (and, for
# macOS, CFFIXED_USER_HOME) in a temporary folder, runs a scripted MCP session through the bridge
# and prints the transcript.
# Ends with status 0 when every step got its answer, from the host and then from the bridge alone.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh >/dev/null

home=$(mktemp -d)
host=""
stopHost() {
    if [ -n "$host" ]; then
        kill "$host" 2>/dev/null || true
        wait "$host" 2>/dev/null || true
        host=""
    fi
}
trap 'stopHost; rm -rf "$home"' EXIT

HOME="$home" CFFIXED_USER_HOME="$home" build/velto_reference_host > "$home/host.log" 2>&1 &
host=$!

for _ in $(seq 100); do
    grep -q "reference host on" "$home/host.log" 2>/dev/null && break
    sleep 0.05
done
head -1 "$home/host.log"

HOME="$home" CFFIXED_USER_HOME="$home" node scripts/demo.mjs "$PWD/build/VeltoMCP"

echo
echo "With the host stopped, the bridge answers by itself:"
stopHost
answer=$(printf '%s\n' '{"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"play","arguments":{}}}' | HOME="$home" CFFIXED_USER_HOME="$home" build/VeltoMCP)
echo "$answer"
grep -q "Velto isn't open" <<<"$answer"
