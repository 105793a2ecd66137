#!/bin/sh
# Builds the libFuzzer targets (tests/fuzz/, with clang) and runs each one for a
# bounded time, starting from the seed corpora in tests/fuzz/corpus and the inputs
# of earlier findings in tests/fuzz/regressions. Exits non-zero when any target
# finds a crash or a broken property.
#
#   scripts/fuzz.sh                 every target for 25 s (what CI runs)
#   scripts/fuzz.sh 600             every target for 10 minutes
#   scripts/fuzz.sh 60 sjis listing only the named targets
#
# Every target is what tests/fuzz/CMakeLists.txt defines: the build writes their
# names to $FUZZ_BUILD_DIR/targets.txt. A target without seeds in
# tests/fuzz/corpus/<target> starts from an empty corpus, and says so.
#
# New inputs that reach new code are kept in the build folder
# ($FUZZ_BUILD_DIR/corpus, default build/fuzz), so a later run goes on from
# there. A finding is saved as $FUZZ_BUILD_DIR/artifacts/<target>/crash-*
# and is replayed with: $FUZZ_BUILD_DIR/<target>_fuzz <file>
set -u
cd "$(dirname "$0")/.."
seconds=${1:-25}
[ $# -gt 0 ] && shift
build=${FUZZ_BUILD_DIR:-build/fuzz}
targets=$*

sh scripts/setup.sh || exit 1
echo "== fuzz: build ($build)"
if ! cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null ||
   ! cmake --build "$build" -j "${JOBS:-2}" >"$build.log" 2>&1; then
    cat "$build.log" 2>/dev/null
    echo "== fuzz: build FAILED"
    exit 1
fi

# The splice's seeds fail each of its calls in turn, as make_seeds.py recorded
# them: when the calls change, the seeds must be made again.
python3 tests/fuzz/make_seeds.py --check "$build/splice_fuzz" || { echo "== fuzz: FAILED"; exit 1; }
[ -n "$targets" ] || targets=$(cat "$build/targets.txt") || { echo "== fuzz: FAILED"; exit 1; }

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
summary="$build/summary.txt"
: >"$summary"
status=0
for t in $targets; do
    exe="$build/${t}_fuzz"
    if [ ! -x "$exe" ]; then
        echo "== fuzz: no target $t"
        status=1
        continue
    fi
    mkdir -p "$build/corpus/$t" "$build/artifacts/$t"
    log="$build/artifacts/$t/last.log"
    set -- "$build/corpus/$t"
    seeds=""
    [ -d "tests/fuzz/corpus/$t" ] && set -- "$@" "tests/fuzz/corpus/$t" || seeds="  (no seeds)"
    [ -d "tests/fuzz/regressions/$t" ] && set -- "$@" "tests/fuzz/regressions/$t"
    "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$t/" "$@" \
        >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    units=$(find "$build/corpus/$t" -type f | wc -l)
    if [ $rc -eq 0 ]; then
        result=ok
    else
        result=FAILED
        status=1
        grep -m 5 -E 'property failed|ERROR:|SUMMARY|runtime error' "$log"
        ls "$build/artifacts/$t"/crash-* "$build/artifacts/$t"/leak-* \
           "$build/artifacts/$t"/timeout-* "$build/artifacts/$t"/oom-* 2>/dev/null
        echo "   full log: $log"
    fi
    printf '%-14s %5ss %12s runs %8s/s  corpus %5s  %s%s\n' "$t" "$seconds" \
        "${runs:-?}" "${rate:-?}" "$units" "$result" "$seeds" | tee -a "$summary"
done
[ $status -eq 0 ] && echo "== fuzz: every target passed" || echo "== fuzz: FAILED"
exit $status
