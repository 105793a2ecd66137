#!/bin/sh
# The whole test suite: installs what it needs, then builds and tests the
# native code (GoogleTest under ASan and UBSan), the x86_64 Windows build
# (unit and end-to-end tests under Wine) and the shipped i686 program (header
# and resource checks). Exits non-zero when any test fails.
set -u
cd "$(dirname "$0")/.."
sh scripts/setup.sh || exit 1

jobs=${JOBS:-2}
total_passed=0
total_failed=0
status=0

run_preset() {
    preset=$1
    echo "== $preset: configure and build"
    if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset" -j "$jobs"; then
        echo "== $preset: build FAILED"
        status=1
        total_failed=$((total_failed + 1))
        return
    fi
    echo "== $preset: test"
    log=$(mktemp)
    ctest --preset "$preset" -j "$jobs" >"$log" 2>&1
    rc=$?
    cat "$log"
    # "100% tests passed, 0 tests failed out of 12"
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    rm -f "$log"
    if [ -n "$line" ]; then
        failed=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
        all=$(echo "$line" | sed -E 's/.* failed out of ([0-9]+).*/\1/')
        total_passed=$((total_passed + all - failed))
        total_failed=$((total_failed + failed))
    elif [ $rc -ne 0 ]; then
        total_failed=$((total_failed + 1))
    fi
    [ $rc -eq 0 ] || status=1
}

for preset in ${PRESETS:-native win64 win32}; do
    run_preset "$preset"
done

# Fuzzing (every target for a bounded time) and analysis (clang-tidy,
# cppcheck, the native tests under Valgrind); each step counts as one test.
# CHECKS picks the steps (empty: none), FUZZ_SECONDS the time per target.
run_check() {
    name=$1
    shift
    echo "== $name"
    if "$@"; then
        total_passed=$((total_passed + 1))
    else
        echo "== $name FAILED"
        total_failed=$((total_failed + 1))
        status=1
    fi
}

for check in ${CHECKS-fuzz tidy cppcheck memcheck}; do
    case $check in
    fuzz) run_check fuzz sh scripts/fuzz.sh "${FUZZ_SECONDS:-25}" ;;
    *) run_check "$check" sh scripts/analyze.sh "$check" ;;
    esac
done

echo "suite: $total_passed passed, $total_failed failed"
exit $status
