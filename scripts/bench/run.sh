#!/bin/sh
# Times the archive splice against what it cannot beat and against a generic
# patch tool, on a 1.00 archive of the real size with non-repeating content.
#
#   scripts/bench/run.sh          (or scripts/bench.sh; BENCH_ROUNDS=N, default 5)
#   BENCH_COMPARE=COMMIT scripts/bench/run.sh
#                           also times (a) and (b) with the splice and the
#                           program of COMMIT (built from its committed tree),
#                           in the same rounds, for a side-by-side figure
#
# Each round times, one after the other:
#   (a) the updater's splice (its own code, built natively and optimised) on a
#       fresh copy of the archive;
#   (b) one whole update by the shipped i686 program under Wine (or, where
#       this kernel runs no 32-bit programs, by the x86_64 build of the same
#       sources: scripts/wine/runnable-build), both questions answered at once
#       by the box driver;
#   (c) the floor: copying the archive through user space with a reused 16 MiB
#       buffer (dd) and committing the copy to the disk before dd ends
#       (conv=fsync), as the updater commits the rewritten archive before it
#       reports success, and, on its own, the first touch of a fresh block of
#       the archive's size (the splice must fill one);
#   (d) xdelta3 applying a VCDIFF patch from 1.00 to 1.01, output beside the
#       archive, followed by a commit of its output (coreutils' sync FILE,
#       one fsync of that file), so that it is as durable as the splice's;
#   and, for reference, the dd copy over an existing copy of the archive,
#   once truncated on opening (as the splice's "wb" open does) and once
#   overwritten in place without truncation, the floor's copy left in the
#   page cache (no fsync), which is what the floor was before the updater
#   committed its archive, and xdelta3's output left in the page cache, as
#   (d) was timed before.
# Every round runs all of that twice: cold, with the page cache dropped
# (sync, then drop_caches) before each step, so that the step reads its
# files, and for the whole update Wine itself, from the disk as a player's
# first run does; then warm, with all the files in the page cache. Where the
# cache cannot be dropped (not root, or a read-only /proc/sys) the script
# says so and times the warm pass only.
# Copies in, syncs, the settling pauses and checks are not timed. Every
# output is compared with a 1.01 archive built independently (head and
# tail). /usr/bin/time gives each step's peak memory (max RSS) and its minor
# page faults, each a page mapped in without a disk read: for the splice and
# the first touch, a page of a fresh block filled for the first time, which
# this virtual machine makes dear. The extra disk space is the peak growth of
# the folder's apparent size, sampled in one more untimed run of (a) and (d).
#
# Everything lives in build/bench; the big files are removed at the end and
# the table is kept in build/bench/results.md.
set -eu
me=bench
. "$(dirname "$0")/../lib.sh"
work=$repo/build/bench
data=$work/data
native=$work/native
set -- $(sh "$repo/scripts/wine/runnable-build")
win_preset=$1 win_arch=$2
win=$work/$win_preset
prefix=$work/wineprefix
game=$prefix/drive_c/games/velkin
rounds=${BENCH_ROUNDS:-5}
compare=${BENCH_COMPARE:-}
compare_src=$work/compare-src
compare_native=$work/compare-native
compare_win=$work/compare-$win_preset

v100=$data/v100.ovp
expected=$data/expected-v101.ovp
patch=$data/v100-to-v101.vcdiff
times=$work/times.txt

cleanup() {
    rm -rf "$data" "$game/$ARCHIVE_UNIX_PATH" "$compare_src"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "bench: building (native, optimised; $win_arch program for Wine)"
program_dump "$repo" "$work/values"
update=$data/$UPDATE_DATA_FILE
# The table's arithmetic first: a broken verdict would waste the whole run.
python3 "$repo/tests/bench/table_test.py" >"$work/table-test.log" 2>&1 ||
    fail "the table's own checks failed: $work/table-test.log"

# The splice's own code as the program has it, without the sanitizers.
release_native="-DCMAKE_BUILD_TYPE=Release -DORVEX_SANITIZE=OFF -DBUILD_TESTING=OFF"
rm -f "$work/build.log"
logged "$work/build.log" "the native build" \
    build_preset "$repo" "$native" native "splice_bench first_touch" $release_native
logged "$work/build.log" "the $win_preset build" \
    build_preset "$repo" "$win" "$win_preset" "Updater boxdriver"

if [ -n "$compare" ]; then
    echo "bench: building $compare for comparison"
    compare=$(git -C "$repo" rev-parse --short "$compare^{commit}") ||
        fail "no commit $BENCH_COMPARE"
    export_commit "$compare" "$compare_src"
    logged "$work/build-compare.log" "building $compare" \
        build_preset "$compare_src" "$compare_native" native splice_bench $release_native
    logged "$work/build-compare.log" "building $compare" \
        build_preset "$compare_src" "$compare_win" "$win_preset" Updater
fi

echo "bench: generating the 1.00 archive, the update data and the expected 1.01 archive"
rm -rf "$data"
mkdir -p "$data"
head -c "$ARCHIVE_SIZE_V100" /dev/urandom >"$v100"
head -c "$UPDATE_HEAD_LENGTH" /dev/urandom >"$update"
# The 1.01 archive: the update data, then the 1.00 archive from its byte
# REPLACED_HEAD_LENGTH on (tail counts from 1).
{
    cat "$update"
    tail -c +$((REPLACED_HEAD_LENGTH + 1)) "$v100"
} >"$expected"
[ "$(stat -c %s "$expected")" -eq "$ARCHIVE_SIZE_V101" ] || fail "the expected archive has the wrong size"
echo "bench: making the VCDIFF patch (not timed)"
xdelta3 -e -f -s "$v100" "$expected" "$patch"

echo "bench: making the Wine prefix and the installation"
printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\%s]\n"%s"="C:\\\\games\\\\velkin\\\\"\n' \
    "$REGISTRY_KEY" "$REGISTRY_DIR_VALUE" >"$work/install.reg"
"$repo/scripts/wine/wine-run" "$prefix" regedit /S "$(winpath "$work/install.reg")" >/dev/null
mkdir -p "$game/$MARKER_PAC_DIR"
: >"$game/$MARKER_INSTALL_INI"

# Before each timed step: everything written so far reaches the disk, in
# the cold pass the page cache is dropped, and the machine is left alone a
# moment, so that every step starts from the same state (here pages freed a
# moment ago cost far less to take again than pages that have been free for
# a while). In the warm pass the inputs are read once more, so that they are
# in the page cache whatever the machine's other work has pushed out.
drop_caches=/proc/sys/vm/drop_caches
settle() {
    sync
    if [ "$cache" = cold ]; then
        echo 3 >"$drop_caches"
    else
        cat "$v100" "$update" "$patch" >/dev/null
    fi
    sleep 3
}

# timed LABEL COMMAND...: appends "LABEL CACHE SECONDS MAX_RSS_KIB
# MINOR_FAULTS" to $times. time waits for COMMAND, so a shell's children
# count in its figures too.
timed() {
    label=$1
    shift
    /usr/bin/time -f "$label $cache %e %M %R" -a -o "$times" "$@" ||
        fail "$label: the command failed"
}

same() {
    cmp -s "$1" "$2" || fail "$3: the output is not the exact 1.01 archive"
}

work_archive=$data/archive.ovp
dd_copy=$data/dd-copy.ovp
xdelta_out=$data/xdelta-out.ovp
transcript=$work/transcript.txt

# time_splice LABEL BUILD: (a) with the splice_bench of that build (in
# bench/ for a commit from before the tooling moved under scripts/).
time_splice() {
    cp "$v100" "$work_archive"
    settle
    splice_bench=$2/scripts/bench/splice_bench
    [ -x "$splice_bench" ] || splice_bench=$2/bench/splice_bench
    timed "$1" "$splice_bench" "$work_archive" "$update"
    same "$work_archive" "$expected" "$1"
}

# The driver records a box's caption as the UTF-16LE it holds; the program's
# own caption is code page 932.
caption_done_utf16=$(python3 -c \
    'import sys; print(bytes.fromhex(sys.argv[1]).decode("cp932").encode("utf-16-le").hex())' \
    "$CAPTION_DONE_HEX")

# time_update LABEL BUILD: (b) with the Updater.exe of that build.
time_update() {
    cp "$v100" "$game/$ARCHIVE_UNIX_PATH"
    settle
    timed "$1" "$repo/scripts/wine/wine-run" "$prefix" "$win/scripts/boxdriver.exe" \
        --transcript "$(winpath "$transcript")" --cwd "$(winpath "$data")" \
        --answers yes,yes,ok -- "$(winpath "$2/updater/Updater.exe")"
    grep -qx 'outcome completed' "$transcript" && grep -qx 'exit 0' "$transcript" &&
        grep -qx 'boxes 3' "$transcript" && grep -qx 'unexpected 0' "$transcript" &&
        [ "$(sed -n 's/^caption-utf16le //p' "$transcript" | tail -1)" = \
            "$caption_done_utf16" ] ||
        fail "$1: the run did not end with the success box: $(cat "$transcript")"
    same "$game/$ARCHIVE_UNIX_PATH" "$expected" "$1"
}

# time_xdelta LABEL [COMMIT]: (d) applies the patch; with COMMIT, the output
# is then committed to the disk (sync FILE is one fsync of that file) in the
# same timed command.
time_xdelta() {
    rm -f "$xdelta_out"
    settle
    timed "$1" sh -c 'xdelta3 -d -f -s "$1" "$2" "$3" && { [ -z "$4" ] || sync "$3"; }' \
        sh "$v100" "$patch" "$xdelta_out" "${2:-}"
    same "$xdelta_out" "$expected" "$1"
    rm -f "$xdelta_out"
}

# One round's steps, with $cache telling the settling what to do.
time_steps() {
    # With a comparison, the two builds take turns at going first: whatever
    # the step before leaves to the system (write-back, freed blocks) then
    # weighs on both alike.
    if [ -n "$compare" ] && [ $((r % 2)) -eq 0 ]; then
        time_splice splice-compare "$compare_native"
        time_splice splice "$native"
        time_update wine-compare "$compare_win"
        time_update wine "$win"
    else
        time_splice splice "$native"
        [ -z "$compare" ] || time_splice splice-compare "$compare_native"
        time_update wine "$win"
        [ -z "$compare" ] || time_update wine-compare "$compare_win"
    fi

    rm -f "$dd_copy"
    settle
    timed copy dd if="$v100" of="$dd_copy" bs=16M conv=fsync status=none
    cmp -s "$dd_copy" "$v100" || fail "copy: dd did not copy the archive"
    rm -f "$dd_copy"
    settle
    timed touch "$native/scripts/bench/first_touch"

    time_xdelta xdelta commit
    time_xdelta xdelta-cached

    # For reference, the same copy over an existing copy of the archive:
    # truncated when opened (as "wb" does), and overwritten without truncation.
    cp "$v100" "$dd_copy"
    settle
    timed truncated dd if="$v100" of="$dd_copy" bs=16M status=none
    cp "$v100" "$dd_copy"
    settle
    timed overwritten dd if="$v100" of="$dd_copy" bs=16M conv=notrunc status=none
    cmp -s "$dd_copy" "$v100" || fail "overwritten: dd did not copy the archive"
    rm -f "$dd_copy"
    settle
    timed cached dd if="$v100" of="$dd_copy" bs=16M status=none
    cmp -s "$dd_copy" "$v100" || fail "cached: dd did not copy the archive"
    rm -f "$dd_copy"
}

# The cold pass needs root and a writable /proc/sys (not so in every
# container); without it the run is warm only, and says so.
caches="cold warm"
sync
if ! { echo 3 >"$drop_caches"; } 2>/dev/null; then
    caches=warm
    echo "bench: cannot drop the page cache (writing $drop_caches needs root" \
        "and a writable /proc/sys): warm rows only"
fi

: >"$times"
echo "bench: machine: $(nproc) cores, $(free -m | awk '/^Mem:/ {print $2}') MiB," \
    "load $(cut -d' ' -f1-3 /proc/loadavg)"
r=0
while [ $r -lt "$rounds" ]; do
    r=$((r + 1))
    # Cold first: it brings the programs, Wine and the inputs back into the
    # page cache for the warm pass.
    for cache in $caches; do
        echo "bench: round $r of $rounds, $cache"
        time_steps
    done
done
echo "bench: load at the end $(cut -d' ' -f1-3 /proc/loadavg)"

# peak_growth COMMAND...: the largest growth of $data's apparent size while
# COMMAND runs, in bytes.
peak_growth() {
    before=$(du -sb "$data" | cut -f1)
    rm -f "$work/du.txt" "$work/du.stop"
    (while [ ! -e "$work/du.stop" ]; do du -sb "$data" | cut -f1; sleep 0.02; done) \
        >"$work/du.txt" &
    sampler=$!
    "$@" || fail "$1 failed in the disk space run"
    touch "$work/du.stop"
    wait $sampler
    # What the command left behind counts too: the sampler may have missed
    # its last moments.
    du -sb "$data" | cut -f1 >>"$work/du.txt"
    sort -n "$work/du.txt" | tail -1 | awk -v before="$before" \
        '{ g = $1 - before; print (g > 0 ? g : 0) }'
}

echo "bench: measuring the extra disk space (not timed)"
cp "$v100" "$work_archive"
sync
splice_disk=$(peak_growth "$native/scripts/bench/splice_bench" "$work_archive" "$update")
same "$work_archive" "$expected" splice
xdelta_disk=$(peak_growth xdelta3 -d -f -s "$v100" "$patch" "$xdelta_out")
same "$xdelta_out" "$expected" xdelta
patch_size=$(stat -c %s "$patch")

# table.py fails when the splice misses a target; the table is shown anyway.
status=0
python3 "$repo/scripts/bench/table.py" "$times" "$splice_disk" "$xdelta_disk" "$patch_size" \
    "$win_arch" $compare >"$work/results.md" || status=$?
cat "$work/results.md"
exit $status
