#!/bin/sh
# Builds the shipped Updater.exe from a commit and packs it for players:
#
#   release.sh [COMMIT]          (default: HEAD)
#
# Output in build/release/:
#   Updater-VERSION/             Updater.exe, readme.txt (CP932, CRLF), SHA256SUMS
#   Updater-VERSION.zip          the same three files
#   Updater-VERSION.zip.sha256   for "sha256sum -c"
#   orvex-devkit-LIBVERSION.zip  the developers' kit: the library's headers,
#                                its i686 and x86_64 static libraries and
#                                package files, with a README (pack-kit.sh),
#                                named by the library's own version
#   orvex-devkit-LIBVERSION.zip.sha256
# With the publisher's key in the environment (ORVEX_SIGN_*, see sign.sh) the
# program is signed with Authenticode before it is packed, and readme.txt and
# SHA256SUMS name the signer; without it the program is packed unsigned.
# The program is checked (headers, imports, resources), and the commit's
# end-to-end tests are run against the very bytes to be packed
# (release-tested.sh), before it is packed.
# The zips are reproducible (scripts/lib.sh); the signature's time is the
# commit's, so only a time-stamp changes the players' one.
set -eu
commit=${1:-HEAD}
. "$(dirname "$0")/lib.sh"
out="$repo/build/release"
sh "$repo/scripts/setup.sh"

# The version shown to players is the one in the commit's version record.
version=$(commit_version "$commit") || fail "no FILEVERSION in res/updater.rc of $commit"
name="Updater-$version"

mkdir -p "$out"
echo "release: building $commit"
exe=$(build_shipped "$commit" "$out/work" 2>"$out/build.log") ||
    { cat "$out/build.log"; fail "build FAILED"; }
epoch=$(commit_epoch "$commit")

# The players' note quotes the program's texts as this commit compiles them,
# and the release stops here when it leaves out a box the program can end with.
texts="$out/work/texts"
rm -rf "$texts"
program_dump "$out/work/src" "$texts"
python3 "$out/work/src/scripts/release/players-note.py" "$out/work/src/scripts/release/release-readme.txt" \
    "$ORVEX_PROGRAM_VALUES"

# Authenticode: the built program stays as it is in $exe; what is packed is
# $program, the signed copy when there is a key. Like this script, the
# signing tool is the working tree's, so any commit can be signed.
program=$exe
signed_by=""
if signed_by=$(sh "$repo/scripts/release/sign.sh" "$exe" "$out/work/Updater-signed.exe" \
                  "$epoch" "ORVEX Updater"); then
    program="$out/work/Updater-signed.exe"
    echo "release: signed by $signed_by"
    [ -z "${ORVEX_SIGN_TIMESTAMP_URL:-}" ] ||
        echo "release: time-stamped: this zip differs from any other signing of the same commit"
else
    [ $? -eq 3 ] || fail "signing FAILED"
    echo "release: no signing key (ORVEX_SIGN_PKCS12 or ORVEX_SIGN_KEY): packing the program UNSIGNED"
fi

echo "release: checking the program"
# pefile is Debian's python3-pefile, which only Debian's own python3 sees; a
# python3 earlier on PATH (pyenv, a virtual environment) may lack it.
pe_python=python3
python3 -c 'import pefile' 2>/dev/null || pe_python=/usr/bin/python3
PYTHONDONTWRITEBYTECODE=1 "$pe_python" "$out/work/src/tests/pe/check_pe.py" --arch i686 \
    ${signed_by:+--signed} "$program"
echo "release: running the end-to-end tests against it"
sh "$repo/scripts/release/release-tested.sh" "$exe" "$program" "$commit" "$out/work"

stage="$out/$name"
rm -rf "$stage"
mkdir -p "$stage"
cp "$program" "$stage/Updater.exe"
# Players open the note with Notepad on a Japanese system: CP932, CRLF. A
# signed program's note names the signer.
python3 "$out/work/src/scripts/release/players-note.py" "$out/work/src/scripts/release/release-readme.txt" \
    "$ORVEX_PROGRAM_VALUES" --write "$stage/readme.txt" --version "$version" --signer "$signed_by"
(
    # sha256sum -c skips lines that begin with '#'.
    [ -z "$signed_by" ] || echo "# Updater.exe: Authenticode signature of $signed_by"
    cd "$stage" && sha256sum Updater.exe readme.txt
) >"$stage/SHA256SUMS"
reproducible_zip "$out/$name.zip" "$stage" "$epoch" Updater.exe readme.txt SHA256SUMS

echo "release: verifying"
check=$(mktemp -d "${TMPDIR:-/tmp}/orvex-release.XXXXXX")
trap 'rm -rf "$check"' EXIT INT TERM
unpack_checked "$out/$name.zip" "$check" .
echo "release: $out/$name.zip"

echo "release: packing the developers' kit"
kit=$(sh "$repo/scripts/release/pack-kit.sh" "$commit" "$out")
echo "release: $kit"
