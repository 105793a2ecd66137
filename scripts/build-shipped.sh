#!/bin/sh
# Builds the shipped 32-bit Updater.exe from one commit's tree, away from the
# working tree (whose uncommitted changes never reach a release).
#
#   build-shipped.sh COMMIT WORKDIR
#
# Exports COMMIT into WORKDIR/src, builds it in WORKDIR/build (win32 preset,
# no tests) and prints the path of the program. The commit's own time is the
# build's SOURCE_DATE_EPOCH, so nothing in the output depends on the clock.
set -eu
[ $# -eq 2 ] || { echo "usage: build-shipped.sh COMMIT WORKDIR" >&2; exit 2; }
commit=$1
workdir=$2
repo=$(cd "$(dirname "$0")/.." && pwd)

rm -rf "$workdir/src" "$workdir/build"
mkdir -p "$workdir/src"
git -C "$repo" archive --format=tar "$commit" | tar -x -C "$workdir/src"
SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH

cd "$workdir/src"
cmake --preset win32 -B "$workdir/build" -DBUILD_TESTING=OFF >&2
cmake --build "$workdir/build" -j "${JOBS:-2}" --target Updater >&2
echo "$workdir/build/updater/Updater.exe"
