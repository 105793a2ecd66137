#!/bin/sh
# Builds the shipped program of one commit for each row below, one after the
# other, each in a temporary folder of its own, and the developers' kit where
# the row says so; fails unless every program and kit has the first row's bytes.
#
#   repro-check.sh [COMMIT]      (default: HEAD)
set -eu
commit=${1:-HEAD}
me=repro
. "$(dirname "$0")/../lib.sh"
tmp=$(mktemp -d "${TMPDIR:-/tmp}/orvex-repro.XXXXXX")
trap 'rm -rf "$tmp"' EXIT INT TERM

# FOLDER KIT UMASK VARIABLES. The last row sets what would change the bytes
# if it reached a build: flags, build type, generator, install root, Japanese
# messages, a time zone 14 hours ahead, private file modes, one job.
rows="a yes 022 TZ=UTC LC_ALL=C JOBS=2
another/place no 022 TZ=Asia/Tokyo LC_ALL=C.UTF-8 JOBS=1
hostile yes 077 TZ=Pacific/Kiritimati LC_ALL=ja_JP.UTF-8 JOBS=1 CFLAGS='-O0 -g' CXXFLAGS='-O0 -g' \
LDFLAGS=-s CMAKE_BUILD_TYPE=Debug CMAKE_GENERATOR='Unix Makefiles' DESTDIR=$tmp/destdir"

same() {  # same WHAT FIRST OTHER
    sha256sum "$2" "$3"
    cmp -s "$2" "$3" && echo "repro: $1 identical ($(wc -c <"$2") bytes)" && return
    echo "repro: $1 DIFFER; first differing bytes (offset, octal values):"
    cmp -l "$2" "$3" | head -n 20
    status=1
}
in_row() {  # in_row COMMAND...: COMMAND as the row starts it, its stderr in the log
    (umask "$mask" && eval "export $variables" && "$@") 2>>"$log" </dev/null
}

status=0 first="" first_kit=""
while read -r folder kit mask variables; do
    [ -z "$first" ] || sleep 2
    echo "repro: $folder: building $commit"
    mkdir -p "$tmp/$folder"
    log="$tmp/$folder/log"
    exe=$(in_row build_shipped "$commit" "$tmp/$folder") ||
        { cat "$log"; fail "$folder: build FAILED"; }
    [ -z "$first" ] || same "$folder: program" "$first" "$exe"
    first=${first:-$exe}
    [ "$kit" = yes ] || continue
    kit=$(in_row sh "$repo/scripts/release/pack-kit.sh" "$commit" "$tmp/$folder/kit") ||
        { cat "$log"; fail "$folder: packing the kit FAILED"; }
    [ -z "$first_kit" ] || same "$folder: kit" "$first_kit" "$kit"
    first_kit=${first_kit:-$kit}
done <<EOF_ROWS
$rows
EOF_ROWS
exit $status
