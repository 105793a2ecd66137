#!/bin/sh
# The installed package, seen from outside: builds the program in examples/caller/
# against it, once with CMake (find_package) and once with pkg-config, and
# runs it.
#
#   caller_test.sh [--install BUILD] [--toolchain FILE] [--run] PREFIX WORK CXX [RUNNER...]
#
# --install BUILD   first installs the build folder BUILD into PREFIX (made anew)
# --toolchain FILE  builds for Windows with that CMake toolchain file
# --run             runs the CMake-built caller (through RUNNER, for Wine) in
#                   WORK and compares what it prints with what it must print
# PREFIX is the installed tree, WORK a folder of this script's own (made
# anew), CXX the compiler of the pkg-config build. A runner that exits with 77
# (a 32-bit program where the kernel runs none) makes this exit with 77, after
# everything was built.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../../examples/caller" && pwd)
build=""
toolchain=""
run=no
while [ $# -gt 0 ]; do
    case $1 in
    --install) build=$2; shift 2 ;;
    --toolchain) toolchain=$2; shift 2 ;;
    --run) run=yes; shift ;;
    *) break ;;
    esac
done
[ $# -ge 3 ] || { echo "usage: caller_test.sh [--install BUILD] [--toolchain FILE] [--run] PREFIX WORK CXX [RUNNER...]" >&2; exit 2; }
prefix=$1
work=$2
cxx=$3
shift 3

fail() {
    echo "caller_test: $*"
    exit 1
}

# Runs a step with its output in WORK/LOG, shown only when it fails.
step() {
    log=$1
    shift
    "$@" >"$work/$log" 2>&1 || { cat "$work/$log"; fail "$* FAILED"; }
}

rm -rf "$work"
mkdir -p "$work"
if [ -n "$build" ]; then
    rm -rf "$prefix"
    step install.log cmake --install "$build" --prefix "$prefix"
fi

# The headers a caller includes, and nothing else: no test seam, no internal
# header.
headers="./orvex/text.h"
library=orvex-text
exe=caller
if [ -n "$toolchain" ]; then
    headers="$headers ./orvex/sysutil.h"
    library=orvex-sysutil
    exe=caller.exe
fi
installed=$(cd "$prefix/include" && find . -type f | sort | tr '\n' ' ')
[ "$installed" = "$(echo $headers | tr ' ' '\n' | sort | tr '\n' ' ')" ] ||
    fail "installed headers: $installed; expected: $headers"

# The exported targets carry their include folder and libraries only: a
# compile option or definition would reach every caller. The one link option
# allowed is the sanitizer runtime of a native build made with the sanitizers.
targets="$prefix/lib/cmake/orvex/orvexTargets.cmake"
[ -f "$targets" ] || fail "no $targets"
leaked=$(grep -o 'INTERFACE_[A-Z_]*' "$targets" | sort -u |
         grep -vx 'INTERFACE_INCLUDE_DIRECTORIES\|INTERFACE_LINK_LIBRARIES\|INTERFACE_LINK_OPTIONS')
[ -z "$leaked" ] || fail "the exported targets set $leaked"
grep 'INTERFACE_LINK_OPTIONS' "$targets" | grep -v '"-fsanitize=address,undefined"$' &&
    fail "the exported targets pass link options on"

# With CMake, as examples/caller/CMakeLists.txt says. CMake links a mingw program
# with a dozen import libraries of its own choosing (ole32, uuid, shell32
# among them); without them, only what the package names is linked.
step cmake-configure.log cmake -S "$source_dir" -B "$work/cmake" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_STANDARD_LIBRARIES= \
    ${toolchain:+"-DCMAKE_TOOLCHAIN_FILE=$toolchain"}
step cmake-build.log cmake --build "$work/cmake"

# find_package as other callers write it, a row a call:
#   find_row FOLDER STATUS PATTERN FIND [CMAKE-OPTION...]
# configures in WORK/find-FOLDER a project that calls find_package(orvex
# CONFIG FIND) (FIND a CMake list) and prints what it found; the configure
# must exit with STATUS and print what the basic regular expression PATTERN
# matches, CMake's line breaks taken out. The rows of one FOLDER share the
# compiler that the first of them detected.
mkdir -p "$work/find"
cat >"$work/find/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(orvex_find LANGUAGES CXX)
find_package(orvex CONFIG ${ORVEX_FIND})
message(STATUS "found: ${orvex_FOUND}, text: ${orvex_text_FOUND}, sysutil: ${orvex_sysutil_FOUND}")
EOF
find_row() {
    folder=$1
    status=$2
    pattern=$3
    find=$4
    shift 4
    cmake -S "$work/find" -B "$work/find-$folder" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
        "-DORVEX_FIND=$find" "$@" >"$work/find.log" 2>&1
    got=$?
    if [ $got -ne "$status" ] || ! tr '\n' ' ' <"$work/find.log" | tr -s ' ' | grep -q -e "$pattern"; then
        cat "$work/find.log"
        fail "find_package(orvex CONFIG $(echo "$find" | tr ";" " ")) $*: exit $got, expected $status and output matching: $pattern"
    fi
}
find_row same 1 "has no component nosuch: .*; the package's components are text, sysutil\." \
    "REQUIRED;COMPONENTS;text;nosuch" ${toolchain:+"-DCMAKE_TOOLCHAIN_FILE=$toolchain"}
# A compiler of another kind with the install's pointer size (the version
# file turns any other size away before the config file runs) is refused at
# configure, not at its link.
if [ -n "$toolchain" ]; then
    find_row clang 1 "is for C++ programs built for Windows (.*) with mingw-w64 g++" REQUIRED \
        -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_CXX_COMPILER=clang++ \
        "-DCMAKE_CXX_COMPILER_TARGET=$("$cxx" -dumpmachine)" \
        -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY
else
    find_row same 0 "found: 1, text: TRUE, sysutil: FALSE" \
        "REQUIRED;COMPONENTS;text;OPTIONAL_COMPONENTS;sysutil"
    find_row mingw 1 "is for C++ programs built for .* with g++: it is the native build" REQUIRED \
        "-DCMAKE_TOOLCHAIN_FILE=$here/../../scripts/cmake/mingw-x86_64.cmake"
fi

# With pkg-config only, and the same warnings as examples/caller/CMakeLists.txt.
# PKG_CONFIG_LIBDIR, not _PATH: the system's own .pc files are not for a
# cross build.
pc=$(PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" pkg-config --cflags --libs "$library") ||
    fail "pkg-config found no $library in $prefix"
mkdir -p "$work/pkgconfig"
# shellcheck disable=SC2086
step pkgconfig-build.log "$cxx" -std=c++17 -Wall -Wextra -Wpedantic -Wconversion \
    -Wsign-conversion -Werror "$source_dir/caller.cpp" $pc ${toolchain:+-static} \
    -o "$work/pkgconfig/$exe"

[ $run = yes ] || exit 0

# A folder for the listing and the shortcut: two .txt files, one of another
# kind, and a folder whose name looks like a hit.
mkdir -p "$work/run/folder/sub.txt"
for f in a.txt B.TXT c.dat; do
    echo x >"$work/run/folder/$f"
done
(cd "$work/run" && "$@" "$work/cmake/$exe" folder) >"$work/run.out" 2>&1
rc=$?
if [ $rc -eq 77 ]; then
    cat "$work/run.out"
    exit 77
fi
cat >"$work/expected.out" <<'EOF'
code page: 932
drive: c:
directory: \x5C\x83\x5C\x83t\x83g\x5C
extension: .txt
file name stored: 1
file name: \x95\x5C
EOF
[ -z "$toolchain" ] || cat >>"$work/expected.out" <<'EOF'
listed: 2
name: folder\x5Ca.txt
name: folder\x5Cb.txt
shortcut saved: 1, is a file: 1
registry written: 0, read: 0
registry value: \x95\x5C\x8E\xA6
scratch key deleted: yes
EOF
# Wine may end its lines with CR.
tr -d '\r' <"$work/run.out" >"$work/run.txt"
if [ $rc -ne 0 ] || ! diff -u "$work/expected.out" "$work/run.txt"; then
    cat "$work/run.out"
    fail "the caller exited with $rc; what it printed is above"
fi
echo "caller_test: built against $prefix with CMake and with pkg-config; its run printed what it must"
