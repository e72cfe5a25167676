#!/usr/bin/env bash
# Checks the licence notices of every package that a build made: each archive and the bundle in
# <build folder>/packages hold LICENSE and the build's THIRD-PARTY-NOTICES.txt as it is, the
# notices name the JUCE that the build used and its licence (JUCE 7: ISC; JUCE 8: the AGPLv3 or
# JUCE's EULA) and carry the licences of zlib and the module's number libraries, and the bundle's
# manifest gives the same licence as the notices.
#
#   scripts/check-notices.sh <build folder>
set -euo pipefail
cd "$(dirname "$0")/.."
folder=$1
notices=$folder/THIRD-PARTY-NOTICES.txt

fail() { echo "notices: $*" >&2; exit 1; }

[ -f "$notices" ] || fail "no $notices"
juce=$(sed -n 's|^JUCE_DIR:[A-Z]*=.*/JUCE-\([0-9.]*\)$|\1|p' "$folder/CMakeCache.txt")
[ -n "$juce" ] || fail "$folder/CMakeCache.txt does not say which JUCE the build used"
head -1 "$notices" | grep -q "built with JUCE $juce\$" || fail "$notices does not name JUCE $juce, which built it: $(head -1 "$notices")"
licence=$(sed -n 's/^Licence (SPDX): //p' "$notices")

case "$juce" in
    7.*) expected="MIT AND ISC AND Zlib AND BSL-1.0"; mark="provided under the terms of the ISC license" ;;
    8.*) expected="MIT AND (AGPL-3.0-only OR LicenseRef-JUCE-EULA) AND Zlib AND BSL-1.0"; mark="under the terms of the AGPLv3" ;;
    *)   fail "no licence known for JUCE $juce" ;;
esac
[ "$licence" = "$expected" ] || fail "$notices gives the licence \"$licence\"; a build with JUCE $juce is \"$expected\""
grep -q "$mark" "$notices" || fail "$notices lacks juce_core's own notice (\"$mark\")"
grep -q "Jean-loup Gailly and Mark Adler" "$notices" || fail "$notices lacks zlib's notice"
grep -q "^Boost Software License - Version 1.0" "$notices" || fail "$notices lacks Dragonbox's licence"
grep -q "Copyright (c) 2021 The fast_float authors" "$notices" || fail "$notices lacks fast_float's licence"

# One file out of an archive, to stdout: tar's own for .tar.gz, the zip's directory read by
# Node.js for .zip and .mcpb, which no unzip need be installed for
member() {
    case "$1" in
        *.tar.gz) tar -xzOf "$1" --wildcards "*$2" 2>/dev/null ;;
        *) node -e '
            const fs = require("fs"), zlib = require("zlib"), [archive, wanted] = process.argv.slice(1);
            const zip = fs.readFileSync(archive);
            for (let at = zip.indexOf("PK\x01\x02"); at >= 0; at = zip.indexOf("PK\x01\x02", at + 4)) {
                const name = zip.toString("utf8", at + 46, at + 46 + zip.readUInt16LE(at + 28));
                if (name !== wanted && !name.endsWith("/" + wanted)) continue;
                const local = zip.readUInt32LE(at + 42), method = zip.readUInt16LE(at + 10), size = zip.readUInt32LE(at + 20);
                const start = local + 30 + zip.readUInt16LE(local + 26) + zip.readUInt16LE(local + 28);
                const data = zip.subarray(start, start + size);
                process.stdout.write(method === 8 ? zlib.inflateRawSync(data) : data);
                process.exit(0);
            }
            process.exit(1);' "$1" "$2" ;;
    esac
}

count=0
for package in "$folder"/packages/*.tar.gz "$folder"/packages/*.zip "$folder"/packages/*.mcpb; do
    [ -f "$package" ] || continue
    [ "$(member "$package" THIRD-PARTY-NOTICES.txt)" = "$(cat "$notices")" ] || fail "$package does not hold the build's THIRD-PARTY-NOTICES.txt"
    [ "$(member "$package" LICENSE)" = "$(cat LICENSE)" ] || fail "$package does not hold LICENSE"
    if [[ $package = *.mcpb ]]; then
        manifestLicence=$(member "$package" manifest.json | node -e 'process.stdout.write(JSON.parse(require("fs").readFileSync(0, "utf8")).license)')
        [ "$manifestLicence" = "$licence" ] || fail "$package's manifest gives the licence \"$manifestLicence\", its notices \"$licence\""
    fi
    count=$((count + 1))
done
[ "$count" -ge 3 ] || fail "$count packages in $folder/packages, where the archives and the bundle make 3"
echo "notices: the $count packages of the build with JUCE $juce hold LICENSE and its notices (licence $licence), the bundle's manifest the same licence"
