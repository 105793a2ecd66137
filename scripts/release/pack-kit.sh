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
# VERSION is the library's (ORVEX_LIBRARY_VERSION), not the program's.
# i686/ and x86_64/ are each what "cmake --install" gives of that build of
# COMMIT's tree (the win32 and win64 presets, the libraries' usual flags):
# include/orvex, the static libraries, lib/cmake/orvex and lib/pkgconfig.
# Built in OUTDIR/kit-work from a copy of COMMIT, never from the working
# tree, pinned, and zipped with the commit's time (scripts/lib.sh): the same
# bytes from the same commit. Before it is handed out the zip is unpacked
# elsewhere and the program in examples/caller/ is built against each of its two
# trees, with CMake and with pkg-config (tests/package/caller_test.sh).
# Prints the zip's path.
set -eu
[ $# -eq 2 ] || { echo "usage: pack-kit.sh COMMIT OUTDIR" >&2; exit 2; }
commit=$1
mkdir -p "$2"
out=$(cd "$2" && pwd)
. "$(dirname "$0")/../lib.sh"
work="$out/kit-work"
log="$work/kit.log"

version=$(library_version "$commit") || fail "no ORVEX_LIBRARY_VERSION in CMakeLists.txt of $commit"
rm -rf "$work"
export_commit "$commit" "$work/src"
name="orvex-devkit-$version"
stage="$work/stage/$name"

for build in "win32 i686" "win64 x86_64"; do
    set -- $build
    logged "$log" "building the $2 library" build_preset "$work/src" "$work/build-$2" "$1" \
        orvex_sysutil -DBUILD_TESTING=OFF
    logged "$log" "installing the $2 library" \
        pinned cmake --install "$work/build-$2" --prefix "$stage/$2"
done
sed "s/@VERSION@/$version/g" "$work/src/scripts/release/kit-readme.txt" >"$stage/README.txt"
(cd "$stage" && files_in . | xargs sha256sum) >"$work/SHA256SUMS"
mv "$work/SHA256SUMS" "$stage/SHA256SUMS"
reproducible_zip "$out/$name.zip" "$work/stage" "$SOURCE_DATE_EPOCH"

# The kit as a developer gets it: unpacked somewhere else, checked, used.
check="$work/unpacked"
unpack_checked "$out/$name.zip" "$check" "$name" --quiet >&2
for arch in i686 x86_64; do
    logged "$log" "building the caller against the kit's $arch tree" \
        pinned sh "$work/src/tests/package/caller_test.sh" \
        --toolchain "$work/src/scripts/cmake/mingw-$arch.cmake" "$check/$name/$arch" \
        "$work/caller-$arch" "$arch-w64-mingw32-g++-posix"
done
echo "$out/$name.zip"
