# The plumbing that the project's shell scripts share, sourced by each of
# them (scripts/*.sh, bench/run.sh, pictures/render.sh, testtools/wine-run):
#
#   me=NAME        # the prefix of the script's messages
#   . "$(dirname "$0")/../scripts/lib.sh"
#
# Every script that sources it lies one folder below the top of the tree,
# which is then $repo. Sourcing it only sets $repo.

repo=$(cd "$(dirname "$0")/.." && pwd)

# fail MESSAGE...: says so on stderr and ends the script.
fail() {
    echo "${me:-$(basename "$0")}: $*" >&2
    exit 1
}

# logged LOG WHAT COMMAND...: runs COMMAND with its output added to LOG; when
# it fails, shows the end of LOG and fails, naming WHAT.
logged() {
    local log=$1 what=$2
    shift 2
    "$@" >>"$log" 2>&1 </dev/null && return 0
    tail -n 40 "$log" >&2
    fail "$what FAILED (log: $log)"
}

# winpath PATH: a Unix path as Wine's programs see it, through drive Z:.
winpath() {
    printf 'Z:%s' "$1" | tr / '\\'
}

# ---- Building ----

# pinned COMMAND...: runs COMMAND, a build, in an environment of its own.
# CMake and the compilers read many variables (CC, CXX, CFLAGS, CXXFLAGS,
# LDFLAGS, RC, RCFLAGS, CPATH, LIBRARY_PATH, GCC_EXEC_PREFIX, COMPILER_PATH,
# CMAKE_BUILD_TYPE, CMAKE_GENERATOR, CMAKE_TOOLCHAIN_FILE, CMAKE_PREFIX_PATH,
# CMAKE_<LANG>_COMPILER_LAUNCHER, DESTDIR, MAKEFLAGS, ...) and each version
# reads more: a list of names to clear would always lag behind, so the
# build starts from an empty environment and gets only PATH and HOME (to
# find the tools), the C locale, UTC, umask 022 (install and zip keep modes)
# and SOURCE_DATE_EPOCH when it is set (the commit's time, for a commit).
pinned() {
    (umask 022 && exec env -i PATH="$PATH" ${HOME:+HOME="$HOME"} LC_ALL=C TZ=UTC \
        ${SOURCE_DATE_EPOCH:+SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH"} "$@")
}

# build_preset SOURCE BUILD PRESET TARGETS [CMAKE_ARGS...]: configures the
# tree SOURCE with PRESET in BUILD, CMAKE_ARGS on top of the preset's, and
# builds TARGETS (a list; "all" for everything), JOBS at a time, pinned.
build_preset() {
    local source=$1 build=$2 preset=$3 targets=$4
    shift 4
    (cd "$source" && pinned cmake --preset "$preset" -B "$build" "$@") &&
        pinned cmake --build "$build" -j "${JOBS:-2}" --target $targets
}

# commit_epoch COMMIT: the commit's time, Unix seconds.
commit_epoch() {
    git -C "$repo" log -1 --format=%ct "$1"
}

# commit_version COMMIT: the version in COMMIT's own version record, read as
# CMakeLists.txt reads it for the program and the library; never the working
# tree's. Fails when the record has none.
commit_version() {
    set -- "$(git -C "$repo" show "$1:res/updater.rc" | sed -n \
        's/^FILEVERSION[[:space:]]\{1,\}\([0-9]\{1,\},[0-9]\{1,\},[0-9]\{1,\},[0-9]\{1,\}\).*/\1/p' |
        tr , .)"
    [ -n "$1" ] && echo "$1"
}

# export_commit COMMIT DIR: COMMIT's tree as committed in DIR (made anew), and
# the commit's time as SOURCE_DATE_EPOCH for what is built from it.
export_commit() {
    git -C "$repo" rev-parse -q --verify "$1^{commit}" >/dev/null || fail "no commit $1"
    rm -rf "$2" && mkdir -p "$2" &&
        git -C "$repo" archive --format=tar "$1" | tar -x -C "$2" || return 1
    SOURCE_DATE_EPOCH=$(commit_epoch "$1")
    export SOURCE_DATE_EPOCH
}

# build_shipped COMMIT WORKDIR: builds the shipped Updater.exe from COMMIT's
# tree (left in WORKDIR/src) in WORKDIR/build, its output on stderr, and
# prints the program's path. Uncommitted changes never reach it.
build_shipped() {
    export_commit "$1" "$2/src" && rm -rf "$2/build" &&
        build_preset "$2/src" "$2/build" win32 Updater -DBUILD_TESTING=OFF >&2 &&
        echo "$2/build/updater/Updater.exe"
}

# program_dump SOURCE DIR: the program's fixed values and texts as the tree
# SOURCE compiles them, dumped by tests/messages/dump_texts built natively in
# DIR/build: DIR/texts.hex ("NAME HEX" lines) and DIR/values.sh (NAME=VALUE),
# which is sourced here and named in ORVEX_PROGRAM_VALUES for Python tools.
program_dump() {
    mkdir -p "$2"
    logged "$2/build.log" "building the program's dump" \
        build_preset "$1" "$2/build" native dump_texts
    "$2/build/tests/messages/dump_texts" "$2/texts.hex" &&
        "$2/build/tests/messages/dump_texts" --values "$2/values.sh" ||
        fail "the program's dump FAILED"
    . "$2/values.sh"
    ORVEX_PROGRAM_VALUES=$2/values.sh
    export ORVEX_PROGRAM_VALUES
    # The archive below the game's folder, as a Unix path.
    ARCHIVE_UNIX_PATH=$(printf '%s' "$ARCHIVE_RELATIVE_PATH" | tr '\\' /)
}

# ---- Packing ----

# files_in DIR: every file below DIR, relative to it, in a fixed order.
files_in() {
    (cd "$1" && find . -type f | LC_ALL=C sort | sed 's|^\./||')
}

# checksums DIR [FILE...]: sha256sum's lines for FILEs of DIR (default: every
# file, in files_in's order), for "sha256sum -c" there.
checksums() {
    local dir=$1
    shift
    [ $# -gt 0 ] || set -- $(files_in "$dir")
    (cd "$dir" && sha256sum "$@")
}

# reproducible_zip ZIP DIR EPOCH [FILE...]: zips FILEs of DIR (default: every
# file, in files_in's order), in that order, into ZIP (an absolute path), with
# ZIP.sha256 beside it. Zip keeps every file's mode and its DOS local time:
# the modes are pinned (755 for programs, 644 for the rest), the times are
# EPOCH and the time zone UTC; no extra attributes, no folder entries.
reproducible_zip() {
    local zip=$1 dir=$2 epoch=$3
    shift 3
    [ $# -gt 0 ] || set -- $(files_in "$dir")
    rm -f "$zip" "$zip.sha256"
    (cd "$dir" &&
        find . -type d -exec chmod 755 {} + &&
        find . -type f -perm -u=x -exec chmod 755 {} + &&
        find . -type f ! -perm -u=x -exec chmod 644 {} + &&
        find . -exec touch -d "@$epoch" {} + &&
        printf '%s\n' "$@" | TZ=UTC zip -q -X -D "$zip" -@) &&
        (cd "$(dirname "$zip")" && sha256sum "$(basename "$zip")" >"$zip.sha256")
}

# unpack_checked ZIP DIR [SHA256SUM_OPTION...]: checks ZIP against
# ZIP.sha256, unpacks it into DIR and checks every SHA256SUMS in it.
unpack_checked() {
    local zip=$1 dir=$2 sums
    shift 2
    (cd "$(dirname "$zip")" && sha256sum -c "$@" "$(basename "$zip").sha256") &&
        mkdir -p "$dir" && (cd "$dir" && unzip -q "$zip") || return 1
    for sums in $(cd "$dir" && find . -name SHA256SUMS); do
        (cd "$dir/$(dirname "$sums")" && sha256sum -c "$@" SHA256SUMS) || return 1
    done
}

# ---- Test reports ----

# junit_counts REPORT: what a CTest JUnit report holds: "TESTS FAILED
# SKIPPED", then one line per test that did not run, with the first line of
# its output (the reason). CTest's own summary counts a skipped test as passed.
junit_counts() {
    python3 - "$1" <<'PY'
import sys
import xml.etree.ElementTree as ET
suite = ET.parse(sys.argv[1]).getroot()
skipped = [case for case in suite.iter("testcase") if case.find("skipped") is not None
           or case.get("status") in ("notrun", "disabled")]
print(suite.get("tests", "0"), suite.get("failures", "0"), len(skipped))
for case in skipped:
    out = (case.findtext("system-out") or "").strip().splitlines()
    reason = out[0] if out else "no reason given"
    print(case.get("name") + ":", reason[len("skipped: "):] if reason.startswith("skipped: ") else reason)
PY
}

# ---- Wine ----

# wine_env PREFIX: the environment of every Wine program here: its own
# prefix, the Japanese locale (GetACP() is then 932), quiet, no Mono or
# Gecko installer, no menu entries.
wine_env() {
    export WINEPREFIX="$1"
    export WINEDEBUG="${WINEDEBUG:--all}"
    export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
    export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
    unset WAYLAND_DISPLAY
}

# wine_prefix [SETUP...]: makes $WINEPREFIX where it is not made yet, under a
# lock, so that programs started side by side wait for the first to make it;
# the command SETUP adds what the caller's programs need. A prefix records
# the Wine version and loaders that made it, and is made again when they
# change: one made while only the 64-bit loader was installed fails every
# program once wine32 is added ("could not load kernel32.dll, status
# c0000135"), and wineboot -u does not repair it.
wine_prefix() {
    local loaders
    loaders=$(wine --version 2>/dev/null || echo "no wine")
    [ ! -x /usr/lib/wine/wine ] || loaders="$loaders wine32"
    [ ! -x /usr/lib/wine/wine64 ] || loaders="$loaders wine64"
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ "$(cat "$WINEPREFIX/.prefix-ready" 2>/dev/null)" != "$loaders" ]; then
            wineserver -k >/dev/null 2>&1 </dev/null || true
            rm -rf "$WINEPREFIX"
            wineboot -i >/dev/null 2>&1 </dev/null
            [ $# -eq 0 ] || "$@" >/dev/null 2>&1 </dev/null
            wineserver -w
            echo "$loaders" >"$WINEPREFIX/.prefix-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
}
