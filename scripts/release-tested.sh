#!/bin/sh
# Runs the end-to-end tests of a commit against the very Updater.exe that is
# about to be packed, and fails unless every one of them ran and passed: a
# release ships only what was tested.
#
#   release-tested.sh BUILT PACKED COMMIT WORKDIR
#
# BUILT is the i686 program built from COMMIT, PACKED the file to be packed:
# BUILT itself, or BUILT with its Authenticode signature. WORKDIR/src holds
# COMMIT's tree (scripts/build-shipped.sh leaves it there); the tests are
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
repo=$(cd "$(dirname "$0")/.." && pwd)
build="$workdir/e2e"

fail() {
    echo "release: $*" >&2
    exit 1
}

why=$(sh "$repo/testtools/i386-probe") ||
    fail "the shipped program's end-to-end tests cannot run here ($why); nothing released"

SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
rm -rf "$build"
(cd "$workdir/src" && cmake --preset win32 -B "$build") >"$workdir/e2e-build.log" 2>&1 &&
    cmake --build "$build" -j "${JOBS:-2}" >>"$workdir/e2e-build.log" 2>&1 ||
    { cat "$workdir/e2e-build.log" >&2; fail "building the end-to-end tests FAILED"; }

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
ctest --test-dir "$build" -L e2e -LE signed-copy --output-on-failure --output-junit "$junit" \
    >"$workdir/e2e-test.log" 2>&1 ||
    { cat "$workdir/e2e-test.log" >&2; fail "the end-to-end tests FAILED"; }
# CTest passes a run whose tests were skipped; a release needs them run.
python3 - "$junit" <<'PY' || fail "not every end-to-end test ran: $workdir/e2e-test.log"
import sys
import xml.etree.ElementTree as ET
suite = ET.parse(sys.argv[1]).getroot()
cases = list(suite.iter("testcase"))
ran = [c for c in cases if c.get("status") == "run" and c.find("failure") is None]
sys.exit(0 if cases and len(ran) == len(cases) else 1)
PY
tested=$(sha "$build/updater/Updater.exe")
[ "$tested" = "$(sha "$packed")" ] || fail "the program changed while it was tested"
echo "release: the end-to-end tests passed against this Updater.exe (SHA-256 $tested)," \
    "$(grep -c '<testcase' "$junit") test programs"
