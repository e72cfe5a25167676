#!/usr/bin/env bash
# Prints the system and architecture that a program was built for, as CPack names its archives
# (Darwin-x86_64, Darwin-arm64, Darwin-universal, Linux-x86_64, Linux-aarch64), read from the
# program's own header, not from the machine that runs this: a universal bridge packed on an
# Apple Silicon Mac is universal, not arm64.
#
#   scripts/binary-platform.sh <program>
set -euo pipefail
program=$1

bytes() { od -An -tx1 -j "$1" -N "$2" "$program" | tr -d ' \n'; }
fail() { echo "binary-platform: $program: $*" >&2; exit 1; }

# Mach-O CPU types (mach/machine.h), as the header stores them
machOArchitecture() {
    case "$1" in
        01000007) echo x86_64 ;;
        0100000c) echo arm64 ;;
        *)        fail "a Mach-O CPU type 0x$1 that no package is named after" ;;
    esac
}

case "$(bytes 0 4)" in
    cafebabe)   # a universal (fat) binary: big-endian, the count of architectures and then each one
        count=$((16#$(bytes 4 4)))
        if [ "$count" -gt 1 ]; then
            echo Darwin-universal
        else
            echo "Darwin-$(machOArchitecture "$(bytes 8 4)")"
        fi ;;
    cffaedfe)   # a 64-bit Mach-O, little-endian: its CPU type follows the magic
        cpu=$(bytes 4 4)
        echo "Darwin-$(machOArchitecture "${cpu:6:2}${cpu:4:2}${cpu:2:2}${cpu:0:2}")" ;;
    7f454c46)   # ELF: e_machine, little-endian, at offset 18
        machine=$(bytes 18 2)
        case "${machine:2:2}${machine:0:2}" in
            003e) echo Linux-x86_64 ;;
            00b7) echo Linux-aarch64 ;;
            *)    fail "an ELF machine 0x${machine:2:2}${machine:0:2} that no package is named after" ;;
        esac ;;
    *) fail "neither Mach-O nor ELF" ;;
esac
