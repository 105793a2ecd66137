#!/bin/sh
# Packs the developers' kit of one commit: the library as an installed
# package for i686 and x86_64 Windows, with a note on using it.
#
#   pack-kit.sh COMMIT OUTDIR
#
# Output in OUTDIR (the release's: build/release):
#   orvex-devkit-VERSION.zip          one folder orvex-devkit-VERSION/ with
#                                     README.txt, SHA256SUMS, i686/, x86_64/
#   orvex-devkit-VERSION.zip.sha256   for "sha256sum -c"
# i686/ and x86_64/ are each what "cmake --install" gives of that build of
# COMMIT's tree (the win32 and win64 presets, the libraries' usual flags):
# include/orvex, the static libraries, lib/cmake/orvex and lib/pkgconfig.
# Built in OUTDIR/kit-work from a copy of COMMIT, never from the working
# tree. The zip is reproducible: the commit's time is the build's
# SOURCE_DATE_EPOCH and every file's time, modes are fixed, no extra
# attributes, a fixed order. Before it is handed out the zip is unpacked
# elsewhere and the program in caller/ is built against each of its two
# trees, with CMake and with pkg-config (tests/package/caller_test.sh).
# Prints the zip's path.
set -eu
[ $# -eq 2 ] || { echo "usage: pack-kit.sh COMMIT OUTDIR" >&2; exit 2; }
commit=$1
mkdir -p "$2"
out=$(cd "$2" && pwd)
repo=$(cd "$(dirname "$0")/.." && pwd)
work="$out/kit-work"
log="$work/kit.log"

fail() {
    echo "pack-kit: $*" >&2
    exit 1
}

rm -rf "$work"
mkdir -p "$work/src"
git -C "$repo" archive --format=tar "$commit" | tar -x -C "$work/src"
epoch=$(git -C "$repo" log -1 --format=%ct "$commit")
SOURCE_DATE_EPOCH=$epoch
export SOURCE_DATE_EPOCH
version=$(sed -n 's/^FILEVERSION[[:space:]]*\([0-9,]*\).*/\1/p' "$work/src/res/updater.rc" | tr , .)
[ -n "$version" ] || fail "no FILEVERSION in res/updater.rc"
name="orvex-devkit-$version"
stage="$work/stage/$name"

for build in "win32 i686" "win64 x86_64"; do
    set -- $build
    { (cd "$work/src" && cmake --preset "$1" -B "$work/build-$2" -DBUILD_TESTING=OFF) &&
        cmake --build "$work/build-$2" -j "${JOBS:-2}" --target orvex_sysutil &&
        cmake --install "$work/build-$2" --prefix "$stage/$2"; } >>"$log" 2>&1 ||
        { cat "$log" >&2; fail "building the $2 library FAILED"; }
done
sed "s/@VERSION@/$version/g" "$work/src/scripts/kit-readme.txt" >"$stage/README.txt"
(cd "$stage" && find . -type f | LC_ALL=C sort | sed 's|^\./||' | xargs sha256sum) >"$work/SHA256SUMS"
mv "$work/SHA256SUMS" "$stage/SHA256SUMS"

# Zip keeps the modes and DOS local times: pin both, and the time zone.
find "$stage" -type d -exec chmod 755 {} +
find "$stage" -type f -exec chmod 644 {} +
find "$stage" -exec touch -d "@$epoch" {} +
rm -f "$out/$name.zip" "$out/$name.zip.sha256"
(cd "$work/stage" && find "$name" -type f | LC_ALL=C sort |
    TZ=UTC zip -q -X -D "$out/$name.zip" -@)
(cd "$out" && sha256sum "$name.zip" >"$name.zip.sha256")

# The kit as a developer gets it: unpacked somewhere else, checked, used.
check="$work/unpacked"
(cd "$out" && sha256sum -c --quiet "$name.zip.sha256") >&2
mkdir -p "$check"
(cd "$check" && unzip -q "$out/$name.zip" && cd "$name" && sha256sum -c --quiet SHA256SUMS) >&2
for arch in i686 x86_64; do
    sh "$work/src/tests/package/caller_test.sh" \
        --toolchain "$work/src/cmake/mingw-$arch.cmake" "$check/$name/$arch" \
        "$work/caller-$arch" "$arch-w64-mingw32-g++-posix" >>"$log" 2>&1 ||
        { cat "$log" >&2; fail "the caller does not build against the kit's $arch tree"; }
done
echo "$out/$name.zip"
