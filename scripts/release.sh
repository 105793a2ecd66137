#!/bin/sh
# Builds the shipped Updater.exe from a commit and packs it for players:
#
#   release.sh [COMMIT]          (default: HEAD)
#
# Output in build/release/:
#   Updater-VERSION/             Updater.exe, readme.txt (CP932, CRLF), SHA256SUMS
#   Updater-VERSION.zip          the same three files
#   Updater-VERSION.zip.sha256   for "sha256sum -c"
# The program is checked (headers, imports, resources) and the commit's
# end-to-end tests are run against those very bytes before it is packed
# (scripts/release-tested.sh).
# The zip is reproducible: fixed file times, no extra attributes, fixed order.
set -eu
commit=${1:-HEAD}
repo=$(cd "$(dirname "$0")/.." && pwd)
out="$repo/build/release"
sh "$repo/scripts/setup.sh"

# The version shown to players is the one in the version record.
version=$(sed -n 's/^FILEVERSION[[:space:]]*\([0-9,]*\).*/\1/p' "$repo/res/updater.rc" | tr , .)
[ -n "$version" ] || { echo "release: no FILEVERSION in res/updater.rc" >&2; exit 1; }
name="Updater-$version"

mkdir -p "$out"
echo "release: building $commit"
exe=$(sh "$repo/scripts/build-shipped.sh" "$commit" "$out/work" 2>"$out/build.log") \
    || { cat "$out/build.log"; echo "release: build FAILED" >&2; exit 1; }
epoch=$(git -C "$repo" log -1 --format=%ct "$commit")

echo "release: checking the program"
PYTHONDONTWRITEBYTECODE=1 python3 "$out/work/src/tests/pe/check_pe.py" --arch i686 "$exe"
echo "release: running the end-to-end tests against it"
sh "$repo/scripts/release-tested.sh" "$exe" "$commit" "$out/work"

stage="$out/$name"
rm -rf "$stage" "$out/$name.zip" "$out/$name.zip.sha256"
mkdir -p "$stage"
cp "$exe" "$stage/Updater.exe"
# Players open the note with Notepad on a Japanese system: CP932, CRLF.
python3 - "$out/work/src/scripts/release-readme.txt" "$stage/readme.txt" "$version" <<'PY'
import sys
source, target, version = sys.argv[1:]
text = open(source, encoding="utf-8").read().replace("@VERSION@", version)
with open(target, "wb") as f:
    f.write(text.replace("\r\n", "\n").replace("\n", "\r\n").encode("cp932"))
PY
(cd "$stage" && sha256sum Updater.exe readme.txt >SHA256SUMS)

# Zip keeps DOS local times: pin both the files' times and the time zone.
for f in Updater.exe readme.txt SHA256SUMS; do
    touch -d "@$epoch" "$stage/$f"
done
(cd "$stage" && TZ=UTC zip -q -X -D "$out/$name.zip" Updater.exe readme.txt SHA256SUMS)
(cd "$out" && sha256sum "$name.zip" >"$name.zip.sha256")

echo "release: verifying"
(cd "$out" && sha256sum -c "$name.zip.sha256")
check=$(mktemp -d "${TMPDIR:-/tmp}/orvex-release.XXXXXX")
trap 'rm -rf "$check"' EXIT INT TERM
(cd "$check" && unzip -q "$out/$name.zip" && sha256sum -c SHA256SUMS)
echo "release: $out/$name.zip"
