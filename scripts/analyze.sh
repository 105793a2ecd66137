#!/bin/sh
# Static and dynamic analysis of the product code (updater/ probe/ text/
# sysutil/). Exits non-zero when any step has a finding.
#
#   scripts/analyze.sh             all three steps
#   scripts/analyze.sh tidy        clang-tidy (scripts/analysis/clang-tidy.yaml) on the plain files,
#                                  and on the *_win.cpp files through the
#                                  win64 build's compile database, parsed by
#                                  clang for the mingw-w64 target
#   scripts/analyze.sh cppcheck    cppcheck (scripts/analysis/cppcheck-…)
#                                  on the plain files, and on every file as
#                                  a 64-bit and as a 32-bit Windows program
#   scripts/analyze.sh memcheck    the native test programs under Valgrind,
#                                  from a build without the sanitizers
#
# Build folders live under $ANALYZE_BUILD_DIR (default build/analyze).
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
build=${ANALYZE_BUILD_DIR:-build/analyze}
jobs=${JOBS:-2}
steps=${*:-tidy cppcheck memcheck}
status=0

sh scripts/setup.sh || exit 1

fail() {
    echo "== analyze: $1 FAILED"
    status=1
}

# Compile databases of the product files: native, and win64 twice (as clang
# for the mingw target, for clang-tidy; as recorded, for cppcheck).
databases() {
    [ -n "${databases_done:-}" ] && return 0
    databases_done=1
    cmake --preset native -B "$build/native" -DORVEX_SANITIZE=OFF \
        -DBUILD_TESTING=OFF >/dev/null &&
    cmake --preset win64 -B "$build/win64" -DBUILD_TESTING=OFF >/dev/null &&
    python3 scripts/analysis/compdb.py "$build/native/compile_commands.json" \
        "$build/db/native/compile_commands.json" "$root" &&
    python3 scripts/analysis/compdb.py "$build/win64/compile_commands.json" \
        "$build/db/win64/compile_commands.json" "$root" &&
    python3 scripts/analysis/compdb.py "$build/win64/compile_commands.json" \
        "$build/db/win64-clang/compile_commands.json" "$root" --mingw x86_64-w64-mingw32
}

files_of() {
    python3 -c 'import json,sys; [print(e["file"]) for e in json.load(open(sys.argv[1]))]' "$1"
}

run_tidy() {
    echo "== analyze: clang-tidy ($(clang-tidy --version | sed -n 's/.*LLVM version //p'))"
    log="$build/clang-tidy.log"
    : >"$log"
    # The plain files from the native database; the Windows files (and the
    # plain ones once more, as Windows sees them) from the mingw one.
    for db in native win64-clang; do
        files_of "$build/db/$db/compile_commands.json" |
            xargs -r -P "$jobs" -n 1 clang-tidy --config-file=scripts/analysis/clang-tidy.yaml -p "$build/db/$db" --quiet \
                >>"$log" 2>&1 || echo "clang-tidy exited non-zero ($db)" >>"$log"
    done
    # A header's finding repeats for every file that includes it.
    findings=$(grep -E '^[^ ]+:[0-9]+:[0-9]+: (error|warning):' "$log" | sort -u)
    if [ -n "$findings" ] || grep -q 'exited non-zero' "$log"; then
        echo "$findings"
        echo "   full log: $log"
        fail clang-tidy
    else
        echo "   clean: $(files_of "$build/db/native/compile_commands.json" | wc -l) plain files, $(files_of "$build/db/win64-clang/compile_commands.json" | wc -l) files for Windows"
    fi
}

run_cppcheck() {
    echo "== analyze: $(cppcheck --version)"
    set -- --enable=warning,performance,portability --std=c++17 --inline-suppr \
        --suppressions-list=scripts/analysis/cppcheck-suppressions.txt --error-exitcode=1 \
        --quiet -j "$jobs" --template='{file}:{line}: {severity}: {message} [{id}]'
    cppcheck "$@" --project="$build/db/native/compile_commands.json" ||
        fail "cppcheck (plain files)"
    # The Windows files with cppcheck's knowledge of the Win32 API (handles
    # that must be closed, buffer sizes of its calls), as the x86_64 build
    # and as the shipped 32-bit program, where size_t has 32 bits.
    for platform in win64 win32A; do
        cppcheck "$@" --project="$build/db/win64/compile_commands.json" \
            --platform=$platform --library=windows -D_WIN32 -DWIN32 ||
            fail "cppcheck (Windows files, $platform)"
    done
}

run_memcheck() {
    echo "== analyze: valgrind memcheck of the native tests"
    dir="$build/valgrind"
    # Valgrind and AddressSanitizer exclude each other: a build without it.
    if ! cmake --preset native -B "$dir" -DORVEX_SANITIZE=OFF \
            -DMEMORYCHECK_COMMAND=/usr/bin/valgrind \
            "-DMEMORYCHECK_COMMAND_OPTIONS=--error-exitcode=97 --leak-check=full --errors-for-leak-kinds=definite,indirect --track-origins=yes --quiet" \
            >/dev/null ||
       ! cmake --build "$dir" -j "$jobs" >"$dir.log" 2>&1; then
        cat "$dir.log" 2>/dev/null
        fail "memcheck (build)"
        return
    fi
    # A test with a Valgrind error exits with 97 and counts as failed.
    if ! ctest --test-dir "$dir" -T memcheck -j "$jobs" --output-on-failure \
            >"$dir/memcheck.log" 2>&1; then
        tail -n 40 "$dir/memcheck.log"
        fail memcheck
    else
        grep -E 'tests passed|Total Test time|Memory check|Defects' "$dir/memcheck.log"
    fi
}

for step in $steps; do
    case $step in
    tidy) databases || { fail "compile databases"; continue; }; run_tidy ;;
    cppcheck) databases || { fail "compile databases"; continue; }; run_cppcheck ;;
    memcheck) run_memcheck ;;
    *) echo "analyze: unknown step $step"; status=1 ;;
    esac
done
[ $status -eq 0 ] && echo "== analyze: clean" || echo "== analyze: FAILED"
exit $status
