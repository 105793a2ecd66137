#!/bin/sh
# Builds the shipped program from the same commit once for every row below,
# each in a temporary folder of its own, one after the other, and packs the
# developers' kit where the row says so; fails unless every program and every
# kit has the bytes of the first row's.
#
#   repro-check.sh [COMMIT]      (default: HEAD)
set -eu
commit=${1:-HEAD}
me=repro
. "$(dirname "$0")/lib.sh"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/orvex-repro.XXXXXX")
trap 'rm -rf "$tmp"' EXIT INT TERM

# FOLDER KIT UMASK VARIABLES: where the row builds, whether it packs the kit,
# and what the build is started with. The last row sets what would change the
# bytes if it reached a build: other flags, build type, generator and install
# root, Japanese messages, a time zone 14 hours ahead, private file modes.
rows="a yes 022 TZ=UTC LC_ALL=C JOBS=2
another/place no 022 TZ=Asia/Tokyo LC_ALL=C.UTF-8 JOBS=1
hostile yes 077 TZ=Pacific/Kiritimati LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8 JOBS=1 \
CFLAGS='-O0 -g' CXXFLAGS='-O0 -g' LDFLAGS=-s CMAKE_BUILD_TYPE=Debug \
CMAKE_GENERATOR='Unix Makefiles' MAKEFLAGS=-j1 DESTDIR=$tmp/destdir SOURCE_DATE_EPOCH=0"

status=0
# same WHAT FIRST OTHER: compares OTHER with the first row's FIRST.
same() {
    sha256sum "$2" "$3"
    if cmp -s "$2" "$3"; then
        echo "repro: $1 identical ($(wc -c <"$2") bytes)"
    else
        echo "repro: $1 DIFFER; first differing bytes (offset, octal values):"
        cmp -l "$2" "$3" | head -n 20
        status=1
    fi
}

first="" first_kit=""
while read -r folder kit mask variables; do
    [ -z "$first" ] || sleep 2
    echo "repro: $folder: building $commit"
    mkdir -p "$tmp/$folder"
    log="$tmp/$folder/log"
    exe=$( (umask "$mask" && eval "export $variables" && build_shipped "$commit" "$tmp/$folder") \
        2>"$log" </dev/null) || { cat "$log"; fail "$folder: build FAILED"; }
    [ -z "$first" ] || same "$folder: program" "$first" "$exe"
    first=${first:-$exe}
    [ "$kit" = yes ] || continue
    kit=$( (umask "$mask" && eval "export $variables" &&
        sh "$repo/scripts/pack-kit.sh" "$commit" "$tmp/$folder/kit") 2>>"$log" </dev/null) ||
        { cat "$log"; fail "$folder: packing the kit FAILED"; }
    [ -z "$first_kit" ] || same "$folder: kit" "$first_kit" "$kit"
    first_kit=${first_kit:-$kit}
done <<EOF_ROWS
$rows
EOF_ROWS
exit $status
