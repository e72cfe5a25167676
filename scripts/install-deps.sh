#!/usr/bin/env bash
# Installs what building and testing VeltoMCP needs, where it is missing: on Debian, the
# compiler, CMake, JUCE's modules, GoogleTest, Node.js, npm and the locales' sources; then the MCP SDK the
# interoperability tests drive the bridge with. Safe to run again: it installs only what lacks.
set -euo pipefail
cd "$(dirname "$0")/.."

# locales: the sources from which the tests make a decimal-comma locale with localedef
packages=(g++ cmake make pkg-config juce-modules-source libgtest-dev nodejs npm zlib1g-dev locales)
[ "${VELTO_WITH_CLANG:-0}" = 1 ] && packages+=(clang libclang-rt-14-dev)

missing=()
if command -v dpkg-query >/dev/null 2>&1; then
    for package in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
fi

# npm is often bundled with a Node.js that did not come from Debian: then Debian's is not needed
if command -v npm >/dev/null 2>&1; then
    kept=()
    for package in "${missing[@]}"; do
        [ "$package" = npm ] || [ "$package" = nodejs ] || kept+=("$package")
    done
    missing=("${kept[@]+"${kept[@]}"}")
fi

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" = 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

if [ ! -d tests/interop/node_modules/@modelcontextprotocol/sdk ]; then
    echo "Installing the MCP TypeScript SDK for the interoperability tests"
    npm install --prefix tests/interop --no-audit --no-fund --no-package-lock --loglevel=error >/dev/null
fi
