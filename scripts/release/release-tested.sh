#!/bin/sh
# Runs the end-to-end tests of a commit against the very Updater.exe that is
# about to be packed, and fails unless every one of them ran and passed: a
# release ships only what was tested.
#
#   release-tested.sh BUILT PACKED COMMIT WORKDIR
#
# BUILT is the i686 program built from COMMIT, PACKED the file to be packed:
# BUILT itself, or BUILT with its Authenticode signature. WORKDIR/src holds
# COMMIT's tree (build_shipped in lib.sh leaves it there); the tests are
# built from it in WORKDIR/e2e, which must give BUILT byte for byte, and then
# drive PACKED, under Wine in a prefix of their own there. Where this kernel
# runs no 32-bit programs they cannot run, and nothing may be released from
# this machine.
set -eu
[ $# -eq 4 ] || { echo "usage: release-tested.sh BUILT PACKED COMMIT WORKDIR" >&2; exit 2; }
built=$1
packed=$2
commit=$3
workdir=$(cd "$4" && pwd)
me=release
. "$(dirname "$0")/../lib.sh"
build="$workdir/e2e"

why=$(sh "$repo/scripts/wine/i386-probe") ||
    fail "the shipped program's end-to-end tests cannot run here ($why); nothing released"

SOURCE_DATE_EPOCH=$(commit_epoch "$commit")
rm -rf "$build" "$workdir/e2e-build.log" "$workdir/e2e-test.log"
logged "$workdir/e2e-build.log" "building the end-to-end tests" \
    build_preset "$workdir/src" "$build" win32 all

sha() { sha256sum <"$1" | cut -d' ' -f1; }
tests_built=$(sha "$build/updater/Updater.exe")
[ "$tests_built" = "$(sha "$built")" ] ||
    fail "the end-to-end tests' build gave another Updater.exe ($tests_built) than the release's build"
# The tests drive the program at this path (built into them); put the bytes
# to be packed there, the signed copy included.
cp "$packed" "$build/updater/Updater.exe"

junit="$workdir/e2e-junit.xml"
# The signed-copy pass drives the test certificate's signed program, not this
# one, and would pull in the signing test besides.
logged "$workdir/e2e-test.log" "the end-to-end tests" \
    ctest --test-dir "$build" -L e2e -LE signed-copy --output-on-failure --output-junit "$junit"
# CTest passes a run whose tests were skipped; a release needs them run.
set -- $(junit_counts "$junit" | head -n 1)
[ "${1:-0}" -gt 0 ] && [ "$2" -eq 0 ] && [ "$3" -eq 0 ] ||
    fail "not every end-to-end test ran: $workdir/e2e-test.log"
tested=$(sha "$build/updater/Updater.exe")
[ "$tested" = "$(sha "$packed")" ] || fail "the program changed while it was tested"
echo "release: the end-to-end tests passed against this Updater.exe (SHA-256 $tested)," \
    "$1 test programs"
