#!/bin/sh
# Runs the Windows test programs (every test that CTest runs under Wine, in
# the win64 preset and in the win32 preset when it has any) ROUNDS times
# (default 10) while stress-ng keeps every core busy, then prints a table of
# each program's passes and failures and the message of every failure. Exits
# non-zero when anything failed. Not part of scripts/test.sh: it takes long.
#
#   sh scripts/stress.sh [ROUNDS]
#
# Logs of every run stay in build/stress.
set -u
. "$(dirname "$0")/lib.sh"
cd "$repo"

rounds=${1:-10}
case $rounds in
'' | *[!0-9]* | 0*) echo "usage: sh scripts/stress.sh [ROUNDS]  (ROUNDS a number from 1)" >&2; exit 64 ;;
esac

sh scripts/setup.sh || exit 1

work=build/stress
rm -rf "$work"
mkdir -p "$work"
results=$work/results
: >"$results"

# The tests of a configured preset whose command is a Wine wrapper
# (wine-run, or wine-run-i386 for 32-bit programs), one name a line.
wine_tests() {
    ctest --preset "$1" --show-only=json-v1 2>/dev/null | python3 -c '
import json, sys
for test in json.load(sys.stdin).get("tests", []):
    command = test.get("command") or []
    # The e2e set run again against the signed copy of the same program is no
    # program of its own, and its set-up (the signing test) is no Wine
    # program: it would only lengthen every round.
    labels = [p.get("value") for p in test.get("properties", []) if p.get("name") == "LABELS"]
    if any("signed-copy" in (value or []) for value in labels):
        continue
    if command and command[0].rsplit("/", 2)[-2:] in (["wine", "wine-run"],
                                                      ["wine", "wine-run-i386"]):
        print(test["name"])
'
}

# "preset name" a line: what each round runs.
: >"$work/programs"
for preset in win64 win32; do
    cmake --preset "$preset" >"$work/$preset-configure.log" 2>&1 ||
        fail "$preset: configure failed, see $work/$preset-configure.log"
    names=$(wine_tests "$preset")
    if [ -z "$names" ]; then
        echo "stress: $preset has no test programs that run under Wine"
        continue
    fi
    echo "stress: building $preset"
    cmake --build --preset "$preset" -j 2 >"$work/$preset-build.log" 2>&1 ||
        fail "$preset: build failed, see $work/$preset-build.log"
    for name in $names; do
        echo "$preset $name" >>"$work/programs"
    done
done
[ -s "$work/programs" ] || fail "no test programs found"

# The other load: one stress-ng CPU worker per online core, for as long as
# the rounds last. Only the process started here is ended.
stress-ng --cpu 0 --cpu-load 100 --timeout 0 --quiet </dev/null >"$work/stress-ng.log" 2>&1 &
load=$!
stop_load() {
    kill "$load" 2>/dev/null
    wait "$load" 2>/dev/null
}
trap stop_load EXIT
trap 'exit 130' INT TERM

start=$(date +%s)
round=1
while [ "$round" -le "$rounds" ]; do
    echo "stress: round $round of $rounds"
    while read -r preset name; do
        log=$work/$preset-$name-$round.log
        if ctest --preset "$preset" -R "^$name\$" --output-on-failure \
                --output-junit "$repo/$log.xml" </dev/null >"$log" 2>&1; then
            # A 32-bit test on a kernel that cannot run it is skipped, not passed.
            if [ "$(junit_counts "$log.xml" | head -n 1 | cut -d' ' -f3)" != 0 ]; then
                echo "$preset $name $round skipped" >>"$results"
            else
                echo "$preset $name $round pass" >>"$results"
            fi
        else
            echo "$preset $name $round FAIL" >>"$results"
            echo "stress:   $preset $name failed (log: $log)"
        fi
    done <"$work/programs"
    round=$((round + 1))
done
stop_load
trap - EXIT
minutes=$((($(date +%s) - start + 59) / 60))

echo
echo "$rounds rounds under stress-ng (--cpu 0, $(nproc) cores), $minutes min"
echo
awk '
{ key = $1 " " $2; if (!(key in seen)) { seen[key] = 1; order[++n] = key }
  if ($4 == "pass") pass[key]++; else if ($4 == "skipped") skipped[key]++; else failed[key]++ }
END {
  printf "| %-6s | %-36s | %6s | %6s | %7s |\n", "Preset", "Program", "Passed", "Failed", "Skipped"
  printf "|--------|--------------------------------------|-------:|-------:|--------:|\n"
  for (i = 1; i <= n; i++) {
    k = order[i]
    split(k, part, " ")
    printf "| %-6s | %-36s | %6d | %6d | %7d |\n", part[1], part[2], pass[k], failed[k], skipped[k]
    total_pass += pass[k]; total_fail += failed[k]; total_skip += skipped[k]
  }
  printf "\nstress: %d passed, %d failed, %d skipped\n", total_pass, total_fail, total_skip
}' "$results"

# Every failure with its message: the GoogleTest failures, or else what
# CTest said about the run (a crash, a timeout).
status=0
while read -r preset name round outcome; do
    [ "$outcome" = FAIL ] || continue
    status=1
    log=$work/$preset-$name-$round.log
    echo
    echo "== $preset $name, round $round ($log)"
    if grep -q ': Failure' "$log"; then
        tr -d '\r' <"$log" | grep -A 8 ': Failure$' | head -n 40
    else
        grep -E '\*\*\*|Exception|Timeout|Failed' "$log" | head -n 10
    fi
done <"$results"
exit $status
