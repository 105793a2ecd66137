#!/bin/sh
# Demonstrates one real update from start to end, under Wine:
#
#   1. installs what is needed (scripts/setup.sh) and builds Updater.exe and
#      the box driver in build/demo: the shipped i686 build, or, where this
#      kernel runs no 32-bit programs, the x86_64 build (scripts/wine/runnable-build);
#   2. makes a Japanese-locale Wine prefix (build/demo/wineprefix), a demo
#      installation of the game (its marker file, the archive's folder and a
#      1.00 archive of the real size and generated, non-repeating content)
#      and records it in the registry under the program's key;
#   3. puts a generated update data file in a work folder and runs the
#      updater there, answering Yes to both questions and OK to the end, and
#      prints every box's caption and text;
#   4. checks that the archive became the 1.01 archive: its size, the update
#      data first, then the old archive from the end of the replaced head on.
#
# Exits 0 when the update came out right, non-zero otherwise. The large files
# live under build/demo only and are removed at the end.
set -eu
. "$(dirname "$0")/lib.sh"
cd "$repo"

sh scripts/setup.sh

build="$repo/build/demo"
prefix="$build/wineprefix"
game="$build/game"
work="$build/work"
transcript="$build/transcript.txt"
program_dump "$repo" "$build/values"
archive="$game/$ARCHIVE_UNIX_PATH"
update_data="$work/$UPDATE_DATA_FILE"
key="HKCU\\$REGISTRY_KEY"

set -- $(sh scripts/wine/runnable-build)
preset=$1 arch=$2
bin="$build/$arch"
echo "== building the $arch Updater.exe and box driver (build/demo/$arch)"
rm -f "$build/build-$arch.log"
logged "$build/build-$arch.log" "building" build_preset "$repo" "$bin" "$preset" "Updater boxdriver"

cleanup() { rm -f "$archive" "$update_data" "$transcript"; }
trap cleanup EXIT

echo "== demo installation in build/demo/game"
rm -rf "$game" "$work"
mkdir -p "$(dirname "$archive")" "$work"
printf '[install]\r\n' >"$game/$MARKER_INSTALL_INI"
python3 "$repo/scripts/demo/demo_data.py" generate "$archive" "$update_data"

printf '== registry: %s %s = %s\\\n' "$key" "$REGISTRY_DIR_VALUE" "$(winpath "$game")"
# The first use of the prefix creates it (Japanese locale, no display).
scripts/wine/wine-run "$prefix" reg add "$key" \
    /v "$REGISTRY_DIR_VALUE" /t REG_SZ /d "$(winpath "$game")\\" /f >/dev/null

echo "== running the $arch Updater.exe in build/demo/work: Yes, Yes, OK"
rc=0
scripts/wine/wine-run "$prefix" "$bin/scripts/boxdriver.exe" \
    --transcript "$(winpath "$transcript")" --cwd "$(winpath "$work")" \
    --answers yes,yes,ok --timeout-ms 300000 \
    -- "$(winpath "$bin/updater/Updater.exe")" || rc=$?
scripts/wine/wine-run "$prefix" reg delete "$key" /f >/dev/null 2>&1 || true

if [ ! -f "$transcript" ]; then
    echo "demo: FAILED: the box driver wrote no transcript (exit code $rc)"
    exit 1
fi
python3 "$repo/scripts/demo/demo_data.py" show "$transcript" || rc=1

echo "== checking the archive"
python3 "$repo/scripts/demo/demo_data.py" check "$archive" "$update_data" || rc=1

if [ "$rc" -ne 0 ]; then
    echo "demo: FAILED"
    exit 1
fi
echo "demo: OK, the $arch Updater.exe made the 1.00 archive the 1.01 archive"
