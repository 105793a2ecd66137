#!/bin/sh
# The whole test suite: installs what it needs, then builds and tests the
# native code (GoogleTest under ASan and UBSan), the x86_64 Windows build
# (unit and end-to-end tests under Wine) and the shipped i686 program (header
# and resource checks, and the end-to-end tests against it under Wine, skipped
# where the kernel runs no 32-bit programs). Exits non-zero when any test
# fails; a skipped test is counted as skipped, never as passed.
set -u
. "$(dirname "$0")/lib.sh"
cd "$repo"
sh scripts/setup.sh || exit 1

# The job count is the presets' (CMakePresets.json), unless JOBS says otherwise.
jobs=${JOBS:+-j $JOBS}
total_passed=0
total_failed=0
total_skipped=0
skipped_names=""
status=0

run_preset() {
    preset=$1
    echo "== $preset: configure and build"
    if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset" $jobs; then
        echo "== $preset: build FAILED"
        status=1
        total_failed=$((total_failed + 1))
        return
    fi
    echo "== $preset: test"
    log=$(mktemp)
    junit=$(mktemp)
    ctest --preset "$preset" $jobs --output-junit "$junit" >"$log" 2>&1
    rc=$?
    cat "$log"
    counts=""
    [ ! -s "$junit" ] || counts=$(junit_counts "$junit")
    rm -f "$log" "$junit"
    if [ -n "$counts" ]; then
        set -- $(echo "$counts" | head -n 1)
        total_passed=$((total_passed + $1 - $2 - $3))
        total_failed=$((total_failed + $2))
        total_skipped=$((total_skipped + $3))
        [ "$3" -eq 0 ] ||
            skipped_names="$skipped_names$(echo "$counts" | sed -n "2,\$ s/^/skipped: $preset: /p")
"
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

# Skipped tests are named, with their reason, just above the last line.
printf '%s' "$skipped_names"
echo "suite: $total_passed passed, $total_failed failed, $total_skipped skipped"
exit $status
