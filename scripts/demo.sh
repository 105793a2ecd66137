#!/bin/sh
# Demonstrates one real update from start to end, under Wine:
#
#   1. installs what is needed (scripts/setup.sh) and builds Updater.exe and
#      the box driver in build/demo: the shipped i686 build, or, where this
#      kernel runs no 32-bit programs, the x86_64 build (testtools/runnable-build);
#   2. makes a Japanese-locale Wine prefix (build/demo/wineprefix), a demo
#      installation of the game (inst.ini, pac\, a 1.00 archive of 638157110
#      bytes of generated, non-repeating content) and records it in the
#      registry (HKCU\Software\Tessaly\velkin, Dir);
#   3. puts a generated 164457-byte update data file in a work folder and
#      runs the updater there, answering Yes to both questions and OK to the
#      end, and prints every box's caption and text;
#   4. checks that the archive became the 1.01 archive: 638151018 bytes, the
#      update data first, then the old archive from its byte 170549 on.
#
# Exits 0 when the update came out right, non-zero otherwise. The large files
# live under build/demo only and are removed at the end.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

sh scripts/setup.sh

build="$root/build/demo"
prefix="$build/wineprefix"
game="$build/game"
work="$build/work"
transcript="$build/transcript.txt"
archive="$game/pac/update1.ovp"
update_data="$work/pikusuna_update.dat"

set -- $(sh testtools/runnable-build)
preset=$1 arch=$2
bin="$build/$arch"
echo "== building the $arch Updater.exe and box driver (build/demo/$arch)"
mkdir -p "$bin"
cmake --preset "$preset" -B "$bin" >"$bin/configure.log" 2>&1 ||
    { cat "$bin/configure.log"; exit 1; }
cmake --build "$bin" -j2 --target Updater boxdriver >"$bin/build.log" 2>&1 ||
    { cat "$bin/build.log"; exit 1; }

# Wine sees the Unix file system as drive Z:.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

cleanup() { rm -f "$archive" "$update_data" "$transcript"; }
trap cleanup EXIT

echo "== demo installation in build/demo/game"
rm -rf "$game" "$work"
mkdir -p "$game/pac" "$work"
printf '[install]\r\n' >"$game/inst.ini"
python3 "$root/testtools/demo_data.py" generate "$archive" "$update_data"

printf '== registry: HKCU\\Software\\Tessaly\\velkin Dir = %s\\\n' "$(winpath "$game")"
# The first use of the prefix creates it (Japanese locale, no display).
testtools/wine-run "$prefix" reg add 'HKCU\Software\Tessaly\velkin' \
    /v Dir /t REG_SZ /d "$(winpath "$game")\\" /f >/dev/null

echo "== running the $arch Updater.exe in build/demo/work: Yes, Yes, OK"
rc=0
testtools/wine-run "$prefix" "$bin/testtools/boxdriver.exe" \
    --transcript "$(winpath "$transcript")" --cwd "$(winpath "$work")" \
    --answers yes,yes,ok --timeout-ms 300000 \
    -- "$(winpath "$bin/updater/Updater.exe")" || rc=$?
testtools/wine-run "$prefix" reg delete 'HKCU\Software\Tessaly\velkin' /f >/dev/null 2>&1 || true

if [ ! -f "$transcript" ]; then
    echo "demo: FAILED: the box driver wrote no transcript (exit code $rc)"
    exit 1
fi
python3 "$root/testtools/demo_data.py" show "$transcript" || rc=1

echo "== checking the archive"
python3 "$root/testtools/demo_data.py" check "$archive" "$update_data" || rc=1

if [ "$rc" -ne 0 ]; then
    echo "demo: FAILED"
    exit 1
fi
echo "demo: OK, the $arch Updater.exe made the 1.00 archive the 1.01 archive"
