#!/usr/bin/env bash
# Packs a built bridge into an MCP Bundle (.mcpb), which Claude's desktop app installs with a
# click, using the official CLI (@anthropic-ai/mcpb, installed into packaging/mcpb where missing).
# The manifest's version, tools and platform come from the binary itself, and its licence from
# the third-party notices that the build left beside it, which go into the bundle with LICENSE;
# the CLI validates the manifest and packs the bundle; the bundle is then unpacked again to check
# that the bridge in it is executable (0755) and is the one that was built. Leaves
# VeltoMCP-<version>-<system>-<architecture>.mcpb and its .sha256 in the output folder, named as
# CPack names the archives, after what the binary holds (x86_64, arm64 or universal).
#
#   scripts/bundle.sh [VeltoMCP [output folder]]     (build/VeltoMCP, and the bridge's folder, by default)
set -euo pipefail
cd "$(dirname "$0")/.."
bridge=${1:-build/VeltoMCP}
[[ $bridge = /* ]] || bridge="$PWD/$bridge"
cli=$PWD/packaging/mcpb/node_modules/.bin/mcpb

fail() { echo "bundle: $*" >&2; exit 1; }

[ -x "$bridge" ] || fail "no bridge at $bridge: build it first (scripts/build.sh)"
if [ ! -x "$cli" ]; then
    echo "bundle: installing the MCP Bundle CLI"
    npm install --prefix packaging/mcpb --no-audit --no-fund --no-package-lock --loglevel=error >/dev/null
fi

version=$("$bridge" --version | cut -d' ' -f2)
binaryPlatform=$(scripts/binary-platform.sh "$bridge")
case "$binaryPlatform" in
    Darwin-*) platform=darwin ;;
    Linux-*)  platform=linux ;;
esac
notices=$(dirname "$bridge")/THIRD-PARTY-NOTICES.txt
[ -f "$notices" ] || fail "no THIRD-PARTY-NOTICES.txt beside $bridge: the build that made it writes one"
licence=$(sed -n 's/^Licence (SPDX): //p' "$notices")
[ -n "$licence" ] || fail "$notices gives no licence"
name=VeltoMCP-$version-$binaryPlatform
outputFolder=${2:-$(dirname "$bridge")}
mkdir -p "$outputFolder"
out=$(cd "$outputFolder" && pwd)/$name.mcpb
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/bundle/server" "$stage/home"

install -m 0755 "$bridge" "$stage/bundle/server/VeltoMCP"
cp LICENSE "$stage/bundle/LICENSE"
cp "$notices" "$stage/bundle/THIRD-PARTY-NOTICES.txt"

# The manifest, filled in from the binary: its version, and its tools as it lists them itself
printf '%s\n' '{"jsonrpc":"2.0","id":1,"method":"tools/list"}' | HOME="$stage/home" CFFIXED_USER_HOME="$stage/home" "$bridge" > "$stage/tools.json"
node -e '
    const fs = require("fs");
    const [template, tools, version, platform, licence, out] = process.argv.slice(1);
    const list = JSON.parse(fs.readFileSync(tools, "utf8")).result.tools.map(({ name, description }) => ({ name, description }));
    fs.writeFileSync(out, fs.readFileSync(template, "utf8").replace("@VERSION@", version).replace("@PLATFORM@", platform).replace("@LICENSE@", licence)
                              .replace("@TOOLS@", JSON.stringify(list, null, 2).replace(/\n/g, "\n  ")));' \
    packaging/mcpb/manifest.json.in "$stage/tools.json" "$version" "$platform" "$licence" "$stage/bundle/manifest.json"

"$cli" validate "$stage/bundle/manifest.json" > "$stage/validate.log" 2>&1 \
    || { cat "$stage/validate.log"; fail "the official CLI refuses the manifest: see above"; }
rm -f "$out" "$out.sha256"
"$cli" pack "$stage/bundle" "$out" > "$stage/pack.log" 2>&1 || { cat "$stage/pack.log"; fail "the official CLI did not pack it"; }

# What the zip holds, and the mode it records for each entry to be unpacked with
entries=$(node -e '
    const zip = require("fs").readFileSync(process.argv[1]);
    for (let at = zip.indexOf("PK\x01\x02"); at >= 0; at = zip.indexOf("PK\x01\x02", at + 4)) {
        const name = zip.toString("utf8", at + 46, at + 46 + zip.readUInt16LE(at + 28));
        console.log(name + " " + ((zip.readUInt32LE(at + 38) >>> 16) & 0o777).toString(8));
    }' "$out" | LC_ALL=C sort)
mode=$(grep "^server/VeltoMCP " <<<"$entries" | cut -d' ' -f2 || true)
[ "$mode" = 755 ] || fail "server/VeltoMCP is packed with mode ${mode:-none}, not 755"

"$cli" unpack "$out" "$stage/unpacked" > "$stage/unpack.log" 2>&1 || { cat "$stage/unpack.log"; fail "the official CLI did not unpack it"; }
[ "$("$stage/unpacked/server/VeltoMCP" --version)" = "VeltoMCP $version" ] || fail "the unpacked bridge does not run as the built one"

(cd "$(dirname "$out")" && (sha256sum "$name.mcpb" 2>/dev/null || shasum -a 256 "$name.mcpb") > "$name.mcpb.sha256")
files=$(cut -d' ' -f1 <<<"$entries" | paste -sd, - | sed 's/,/, /g')
echo "bundle: $out, $(wc -c < "$out" | tr -d ' ') bytes ($files), manifest validated by the official CLI, server/VeltoMCP 0755 and runs once unpacked; SHA-256 $(cut -d' ' -f1 "$out.sha256")"
