# What the project's scripts share: [me=NAME;] . "$(dirname "$0")/lib.sh"
# (from a tool's own folder below scripts/: "$(dirname "$0")/../lib.sh").
# $repo is the top of the tree: the nearest folder above the script that
# holds CMakePresets.json, however deep the script lies.
repo=$(cd "$(dirname "$0")" && until [ -f CMakePresets.json ] || [ "$PWD" = / ]; do cd ..; done && pwd)

# fail MESSAGE...: says so on stderr, after $me (default: the script's name).
fail() { echo "${me:-$(basename "$0" .sh)}: $*" >&2; exit 1; }

# logged LOG WHAT COMMAND...: COMMAND's output goes to LOG; on failure the
# end of LOG is shown and the script fails, naming WHAT.
logged() {
    local log=$1 what=$2
    shift 2
    "$@" >>"$log" 2>&1 </dev/null || { tail -n 40 "$log" >&2; fail "$what FAILED (log: $log)"; }
}

# winpath PATH: a Unix path as Wine's programs see it, through drive Z:.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# pinned COMMAND...: runs a build in an environment of its own. CMake and the
# compilers read many variables (CFLAGS, CXXFLAGS, LDFLAGS, RC, CPATH,
# LIBRARY_PATH, GCC_EXEC_PREFIX, CMAKE_BUILD_TYPE, CMAKE_GENERATOR,
# CMAKE_<LANG>_COMPILER_LAUNCHER, DESTDIR, MAKEFLAGS, ...), more with each
# version, so rather than clear a list that would lag behind, the build
# starts from none and gets PATH and HOME (to find the tools), the C
# locale, UTC, umask 022 and SOURCE_DATE_EPOCH when set (a commit's time).
pinned() {
    (umask 022 && exec env -i PATH="$PATH" ${HOME:+HOME="$HOME"} LC_ALL=C TZ=UTC \
        ${SOURCE_DATE_EPOCH:+SOURCE_DATE_EPOCH="$SOURCE_DATE_EPOCH"} "$@")
}

# build_preset SOURCE BUILD PRESET TARGETS [CMAKE_ARGS...]: configures SOURCE
# in BUILD and builds TARGETS (a list, or "all"), JOBS at a time, pinned.
build_preset() {
    local source=$1 build=$2 preset=$3 targets=$4
    shift 4
    (cd "$source" && pinned cmake --preset "$preset" -B "$build" "$@") &&
        pinned cmake --build "$build" -j "${JOBS:-2}" --target $targets
}

commit_epoch() { git -C "$repo" log -1 --format=%ct "$1"; }

# commit_version COMMIT: the version in COMMIT's own version record, read as
# CMakeLists.txt reads it; never the working tree's. Fails when there is none.
commit_version() {
    git -C "$repo" show "$1:res/updater.rc" | tr , . |
        sed -n 's/^FILEVERSION[[:space:]]\{1,\}\([0-9]\{1,\}\(\.[0-9]\{1,\}\)\{3\}\).*/\1/p' | grep .
}

# library_version COMMIT: the library's version in COMMIT's CMakeLists.txt,
# which its package and kit carry; never the working tree's. Fails when there
# is none.
library_version() {
    git -C "$repo" show "$1:CMakeLists.txt" |
        sed -n 's/^set(ORVEX_LIBRARY_VERSION[[:space:]]\{1,\}\([0-9][0-9.]*\))$/\1/p' | grep .
}

# export_commit COMMIT DIR: COMMIT's tree in DIR, made anew; its time becomes
# the SOURCE_DATE_EPOCH of what is built.
export_commit() {
    git -C "$repo" rev-parse -q --verify "$1^{commit}" >/dev/null || fail "no commit $1"
    rm -rf "$2" && mkdir -p "$2" && git -C "$repo" archive "$1" | tar -x -C "$2" || return 1
    SOURCE_DATE_EPOCH=$(commit_epoch "$1")
    export SOURCE_DATE_EPOCH
}

# build_shipped COMMIT WORKDIR: the shipped Updater.exe built from COMMIT's
# tree (left in WORKDIR/src) in WORKDIR/build, output on stderr; prints its path.
build_shipped() {
    export_commit "$1" "$2/src" && rm -rf "$2/build" &&
        build_preset "$2/src" "$2/build" win32 Updater -DBUILD_TESTING=OFF >&2 &&
        echo "$2/build/updater/Updater.exe"
}

# program_dump SOURCE DIR: sources the fixed values and shown texts that the
# tree SOURCE compiles (dump_texts --values, built natively in DIR); the file
# is named in ORVEX_PROGRAM_VALUES for Python.
program_dump() {
    mkdir -p "$2"
    logged "$2/build.log" "building the program's dump" \
        build_preset "$1" "$2/build" native dump_texts
    "$2/build/updater/dump_texts" --values "$2/values.sh" || fail "dump_texts FAILED"
    . "$2/values.sh"
    export ORVEX_PROGRAM_VALUES="$2/values.sh"
    ARCHIVE_UNIX_PATH=$(printf '%s' "$ARCHIVE_RELATIVE_PATH" | tr '\\' /)
}

# files_in DIR: every file below DIR, relative to it, in a fixed order.
files_in() { (cd "$1" && find . -type f | LC_ALL=C sort | sed 's|^\./||'); }

# reproducible_zip ZIP DIR EPOCH [FILE...]: zips FILEs of DIR (default:
# files_in), in that order, into ZIP (absolute), with ZIP.sha256 beside it.
# Zip keeps modes and DOS local times: modes 755 for programs and folders,
# 644 else, times EPOCH in UTC; no extra attributes, no folder entries.
reproducible_zip() {
    local zip=$1 dir=$2 epoch=$3
    shift 3
    [ $# -gt 0 ] || set -- $(files_in "$dir")
    rm -f "$zip" "$zip.sha256"
    (cd "$dir" && chmod -R u=rwX,go=rX . && find . -exec touch -d "@$epoch" {} + &&
        printf '%s\n' "$@" | TZ=UTC zip -q -X -D "$zip" -@) &&
        (cd "$(dirname "$zip")" && sha256sum "$(basename "$zip")" >"$zip.sha256")
}

# unpack_checked ZIP DIR FOLDER [SHA256SUM_OPTION...]: checks ZIP by
# ZIP.sha256, unpacks it into DIR and checks the SHA256SUMS in DIR/FOLDER.
unpack_checked() {
    local zip=$1 dir=$2 folder=$3
    shift 3
    (cd "$(dirname "$zip")" && sha256sum -c "$@" "$(basename "$zip").sha256") &&
        mkdir -p "$dir" && (cd "$dir" && unzip -q "$zip") &&
        (cd "$dir/$folder" && sha256sum -c "$@" SHA256SUMS)
}

# junit_counts REPORT: "TESTS FAILED SKIPPED" of a CTest JUnit report, then
# "NAME: REASON" for each test that did not run (CTest counts it as passed).
junit_counts() {
    python3 - "$1" <<'PY'
import sys, xml.etree.ElementTree as ET
suite = ET.parse(sys.argv[1]).getroot()
skipped = [case for case in suite.iter("testcase") if case.find("skipped") is not None
           or case.get("status") in ("notrun", "disabled")]
print(suite.get("tests", "0"), suite.get("failures", "0"), len(skipped))
for case in skipped:
    reason = ((case.findtext("system-out") or "").strip().splitlines() or ["no reason given"])[0]
    print(case.get("name") + ":", reason.removeprefix("skipped: "))
PY
}

# wine_env PREFIX: every Wine program's environment: its own prefix, Japanese
# locale (GetACP() 932), quiet, no Mono or Gecko, no menu entries. Wine
# refuses a relative WINEPREFIX, so a relative PREFIX is taken from here.
wine_env() {
    case $1 in
    /*) WINEPREFIX=$1 ;;
    *) WINEPREFIX=$(pwd)/$1 ;;
    esac
    export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}" LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
    export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
    unset WAYLAND_DISPLAY
}

# wine_prefix [SETUP...]: makes $WINEPREFIX, SETUP run in it, unless it is made,
# under a lock that programs started together wait on. One made with only
# wine64 fails every program once wine32 is added (kernel32.dll, c0000135;
# wineboot -u does not help): it records the Wine version and loaders that
# made it, and is made anew when they change.
wine_prefix() {
    local loaders
    loaders=$(wine --version 2>/dev/null || echo "no wine")
    [ ! -x /usr/lib/wine/wine ] || loaders="$loaders wine32"
    [ ! -x /usr/lib/wine/wine64 ] || loaders="$loaders wine64"
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        [ "$(cat "$WINEPREFIX/.prefix-ready" 2>/dev/null)" != "$loaders" ] || exit 0
        wineserver -k >/dev/null 2>&1 </dev/null || true
        rm -rf "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1 </dev/null
        [ $# -eq 0 ] || "$@" >/dev/null 2>&1 </dev/null
        wineserver -w
        echo "$loaders" >"$WINEPREFIX/.prefix-ready"
    ) 9>"$WINEPREFIX.lock"
}
