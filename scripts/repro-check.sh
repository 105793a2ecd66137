#!/bin/sh
# Builds the shipped program twice from the same commit, in two different
# temporary folders, one after the other, under different time zones,
# locales and job counts, and fails unless both give the same bytes.
#
#   repro-check.sh [COMMIT]      (default: HEAD)
set -eu
commit=${1:-HEAD}
repo=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/orvex-repro.XXXXXX")
trap 'rm -rf "$tmp"' EXIT INT TERM

echo "repro: first build of $commit"
first=$(TZ=UTC LC_ALL=C JOBS=2 sh "$repo/scripts/build-shipped.sh" "$commit" "$tmp/a" 2>"$tmp/a.log") \
    || { cat "$tmp/a.log"; echo "repro: first build FAILED"; exit 1; }
sleep 2
echo "repro: second build, elsewhere and later"
second=$(TZ=Asia/Tokyo LC_ALL=C.UTF-8 JOBS=1 \
         sh "$repo/scripts/build-shipped.sh" "$commit" "$tmp/another/place" 2>"$tmp/b.log") \
    || { cat "$tmp/b.log"; echo "repro: second build FAILED"; exit 1; }

sha256sum "$first" "$second"
if cmp -s "$first" "$second"; then
    echo "repro: identical ($(wc -c <"$first") bytes)"
    exit 0
fi
echo "repro: the two builds DIFFER; first differing bytes (offset, octal values):"
cmp -l "$first" "$second" | head -n 20
exit 1
