#!/bin/sh
# Renders a picture of every message box that the updater shows, from the
# real program under Wine on an X server without a screen, and writes them as
# small palette PNGs beside this script. The program is the shipped i686
# build, or, where this kernel runs no 32-bit programs, the x86_64 build of
# the same sources (scripts/wine/runnable-build); the tools around it
# (shotdriver, stand-ins) are x86_64 either way.
#
#   scripts/pictures/render.sh  (or scripts/pictures.sh)
#
# Each situation is set up for real: the registry record, the installation
# folder, archives of the sizes that matter (sparse files), the stand-in game
# or a program that holds the archive. shotdriver.exe holds every box on the
# screen until its picture is taken, then answers it. Every box is named by
# its row in the program's table of boxes (the dump), and its caption and
# text are checked against the row's before its picture is kept.
#
# Scratch space: build/pictures (its own Wine prefix and X display). Needs
# Xvfb, xdotool, ImageMagick, fonts-ipafont-gothic and fonts-wine
# (scripts/setup.sh installs them).
set -eu
me=pictures
. "$(dirname "$0")/../lib.sh"

# The size of what a rewrite cut short leaves here (see the last box).
INTERRUPTED_SIZE=138412032
TIMEOUT_S=60
# Wine's colour for the caption of an inactive window.
INACTIVE_CAPTION="srgb(128,128,128)"

# Scratch space, and the installation inside the Wine prefix.
work=$repo/build/pictures
bin=$work/win64
set -- $(sh "$repo/scripts/wine/runnable-build")
program_preset=$1 program_arch=$2
program_bin=$work/$program_preset
sync=$work/sync
game=$work/wineprefix/drive_c/games/velkin
with_data=$work/cwd-with-data
without_data=$work/cwd-without-data
# Where a player keeps a downloaded update: the rescued copy is named by its
# full path in a box, so the folder is one inside the prefix (drive C:).
downloads=$work/wineprefix/drive_c/users/root/Downloads
downloads_windows='C:\users\root\Downloads'

# The file size limit, in bytes, under which the updater runs for the
# damaged-archive box.
FSIZE_LIMIT=104857600

# wait_for FILE [TEST]: until FILE passes test's TEST (default -e: exists).
wait_for() {
    i=0
    while [ ! "${2:--e}" "$1" ]; do
        i=$((i + 1))
        [ $i -le $((TIMEOUT_S * 10)) ] || fail "gave up waiting for $1"
        sleep 0.1
    done
}

echo "pictures: building the $program_arch program and the x86_64 helpers"
program_dump "$repo" "$work/values"
archive=$game/$ARCHIVE_UNIX_PATH
rescued=$downloads/$RESCUE_NAME
RESCUED_WINDOWS="$downloads_windows\\$RESCUE_NAME"
rm -f "$work/build.log"
logged "$work/build.log" "the x86_64 helpers' build" \
    build_preset "$repo" "$bin" win64 "shotdriver game_standin file_holder"
logged "$work/build.log" "the $program_arch program's build" \
    build_preset "$repo" "$program_bin" "$program_preset" Updater

wine_env "$work/wineprefix"

xvfb_pid=""
cleanup() {
    touch "$work/stop" 2>/dev/null || true
    wineserver -k >/dev/null 2>&1 || true
    sh "$repo/scripts/wine/unix-run" "$work/unmount.status" unmount "$(dirname "$archive")" || true
    rm -f "$rescued"
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    rm -f "$archive" "$work"/*.png
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# An X server of our own; -displayfd picks a free display number.
rm -f "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
wait_for "$work/display" -s
DISPLAY=:$(cat "$work/display")
export DISPLAY
root_window=$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')

# Wine's own X11 driver, which draws on Xvfb; the close button of a caption
# is a glyph of this font.
wine_prefix cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

# regedit reads a REGEDIT4 file in the ANSI code page; these are all ASCII.
import_reg() {
    printf 'REGEDIT4\n\n%s\n' "$1" >"$work/settings.reg"
    wine regedit /S "$(winpath "$work/settings.reg")" </dev/null >/dev/null 2>&1
}

# Without a window manager Wine draws the frames and captions itself
# (Decorated = N), and takes the X input focus as activation (UseTakeFocus =
# N: no window manager sends WM_TAKE_FOCUS here). The dialog fonts are mapped to the Japanese font that
# Debian ships, as a Japanese Windows maps them to its own.
import_reg '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"
"UseTakeFocus"="N"

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"MS UI Gothic"="IPAGothic"
"MS Shell Dlg"="IPAGothic"
"MS Shell Dlg 2"="IPAGothic"
"Tahoma"="IPAGothic"
"MS Gothic"="IPAGothic"
"MS PGothic"="IPAPGothic"'

install_record() {
    import_reg "[HKEY_CURRENT_USER\\$REGISTRY_KEY]
\"$REGISTRY_DIR_VALUE\"=\"C:\\\\games\\\\velkin\\\\\""
}

remove_record() {
    import_reg "[-HKEY_CURRENT_USER\\$REGISTRY_KEY]"
}

# A sparse archive of the given size: only the size is looked at.
archive_of_size() {
    rm -f "$archive"
    truncate -s "$1" "$archive"
}

mkdir -p "$(dirname "$archive")" "$with_data" "$without_data"
: >"$game/$MARKER_INSTALL_INI"
rm -f "$without_data/$UPDATE_DATA_FILE"
head -c "$UPDATE_HEAD_LENGTH" /dev/urandom >"$with_data/$UPDATE_DATA_FILE"

# picture_name BOX: the file name of the row's picture, as scripts/records/boxes.py
# names it (BOX_GAME_RUNNING: game-running), under SHOT_LOCALE with its name.
picture_name() {
    name=$(printf '%s' "${1#BOX_}" | tr 'A-Z_' 'a-z-')
    [ -z "${SHOT_LOCALE:-}" ] || name="locale-$(printf '%s' "${SHOT_LOCALE%%.*}" | tr 'A-Z_' 'a-z-')-$name"
    printf '%s' "$name"
}

# check_box N BOX: the n-th box shows the row's caption and text (a box that
# names a file: the rescued copy's path, then the rest of its text), as
# drawn: the driver writes the UTF-16 it read, which is held against the
# program's CP932 bytes decoded from 932.
check_box() {
    eval "caption=\$${2}_CAPTION_HEX text=\$${2}_TEXT_HEX after=\$${2}_AFTER_PATH_HEX"
    [ -z "$after" ] || text=$text$(printf '%s' "$RESCUED_WINDOWS" | od -An -tx1 | tr -d ' \n')$after
    python3 - "$sync/box-$1.txt" "$caption" "$text" <<'PY' || fail "box $1 is not $2"
import sys
seen = dict(line.rstrip("\n").split(" ", 1) for line in open(sys.argv[1]) if " " in line)
for part, expected in (("caption", sys.argv[2]), ("text", sys.argv[3])):
    drawn = bytes.fromhex(seen.get(part + "-utf16le", "")).decode("utf-16-le", "backslashreplace")
    if drawn != bytes.fromhex(expected).decode("cp932"):
        sys.exit("%s drawn: %r" % (part, drawn))
PY
}

# The box as the player sees it: Wine marks a window active only when its X
# window has the input focus, which nobody gives it on a server without a
# window manager.
take_picture() {
    name=$1
    set -- $(sed -n 's/^rect //p' "$sync/box-$2.txt")
    left=$1 top=$2 right=$3 bottom=$4
    window=""
    for id in $(xdotool search --onlyvisible --classname '^updater\.exe$'); do
        geometry=$(xdotool getwindowgeometry "$id" | sed -n 's/^ *Geometry: //p')
        [ "$geometry" = "$((right - left))x$((bottom - top))" ] && window=$id
    done
    [ -n "$window" ] || fail "$name: no X window for the box"
    # Wine activates a window when its X window gains the focus
    # (UseTakeFocus = N), and only on a change: move the focus to the root
    # and then to the box, until the caption is drawn as the active one's.
    attempt=0
    while :; do
        attempt=$((attempt + 1))
        [ $attempt -le 10 ] || fail "$name: the box never became active"
        xdotool windowfocus --sync "$root_window"
        xdotool windowfocus --sync "$window"
        sleep 0.3
        import -window root "$work/screen.png"
        caption_colour=$(convert "$work/screen.png" \
            -format "%[pixel:p{$((left + 6)),$((top + 6))}]" info:)
        [ "$caption_colour" = "$INACTIVE_CAPTION" ] || break
    done
    convert "$work/screen.png" -crop "$((right - left))x$((bottom - top))+$left+$top" +repage \
        -strip +dither -colors 256 -define png:exclude-chunks=date,time \
        "PNG8:$repo/docs/pictures/$name.png"
    echo "pictures: $name.png ($((right - left))x$((bottom - top)))"
}

# shoot CWD ANSWERS HOLD BOX...
# Runs the updater in CWD (a Unix path, or a Windows one on drive C:),
# answering its boxes with ANSWERS; the n-th box must be the n-th BOX, a row
# of the program's table of boxes: its caption and text are checked against
# the row's. A BOX written with a leading + is pictured, as docs/pictures/NAME.png
# (NAME: the row's name without its BOX_, in small letters, - for _). HOLD is a file to
# keep open with read sharing only, or "". No further box may come, and the
# program must end with exit code 0. With FSIZE set, the driver and the
# updater it starts run with their file size limited to FSIZE bytes (SIGXFSZ
# ignored, so a write past it fails). With SHOT_LOCALE set (such as
# en_US.UTF-8), both run under that locale, and the picture is
# docs/pictures/locale-SHOT_LOCALE-NAME.png.
shoot() {
    cwd=$1 answers=$2 hold=$3
    shift 3
    rm -rf "$sync"
    mkdir -p "$sync"
    n=0
    case $cwd in
    C:*) windows_cwd=$cwd ;;
    *) windows_cwd=$(winpath "$cwd") ;;
    esac
    limit=""
    [ -z "${FSIZE:-}" ] || limit="prlimit --fsize=$FSIZE --"
    (
        [ -z "$limit" ] || trap '' XFSZ
        [ -z "${SHOT_LOCALE:-}" ] || export LANG="$SHOT_LOCALE" LC_ALL="$SHOT_LOCALE"
        exec $limit wine "$bin/scripts/pictures/shotdriver.exe" --sync "$(winpath "$sync")" --cwd "$windows_cwd" \
            --answers "$answers" --timeout-ms $((TIMEOUT_S * 1000)) \
            ${hold:+--hold-shared "$(winpath "$hold")"} \
            -- "$(winpath "$program_bin/updater/Updater.exe")"
    ) </dev/null >"$work/shotdriver.log" 2>&1 &
    driver=$!
    for box in "$@"; do
        n=$((n + 1))
        wait_for "$sync/box-$n.txt"
        check_box "$n" "${box#+}"
        case $box in
        +*) take_picture "$(picture_name "${box#+}")" "$n" ;;
        esac
        touch "$sync/shot-$n"
    done
    i=0
    until [ -e "$sync/done" ]; do
        [ ! -e "$sync/box-$((n + 1)).txt" ] || fail "an unexpected box $((n + 1)) came"
        i=$((i + 1))
        [ $i -le $((TIMEOUT_S * 10)) ] || fail "the updater did not end"
        sleep 0.1
    done
    wait "$driver" || true
    [ "$(cat "$sync/done")" = "exit 0" ] || fail "run ended with: $(cat "$sync/done")"
}

# Starts a stand-in program (game_standin or file_holder) and waits until it
# holds what it holds; stop_standin ends it.
start_standin() {
    rm -f "$work/ready" "$work/stop"
    program=$1
    shift
    wine "$bin/scripts/$program.exe" --ready-file "$(winpath "$work/ready")" \
        --stop-file "$(winpath "$work/stop")" --timeout-ms $((TIMEOUT_S * 1000)) "$@" \
        </dev/null >"$work/standin.log" 2>&1 &
    standin=$!
    wait_for "$work/ready"
}

stop_standin() {
    touch "$work/stop"
    wait "$standin" || fail "the stand-in did not end cleanly"
}

# In the order in which a player may meet them.
remove_record
archive_of_size "$ARCHIVE_SIZE_V100"
shoot "$with_data" "" "" +BOX_NOT_INSTALLED_NO1
# The same box on a system whose code page is not Japanese (English, United
# States: 1252), where the boxes read the same.
SHOT_LOCALE=en_US.UTF-8
shoot "$with_data" "" "" +BOX_NOT_INSTALLED_NO1
SHOT_LOCALE=

import_reg "[HKEY_CURRENT_USER\\$REGISTRY_KEY]"
shoot "$with_data" "" "" +BOX_NOT_INSTALLED_NO2

install_record
rm "$game/$MARKER_INSTALL_INI"
shoot "$with_data" "" "" +BOX_NOT_INSTALLED_NO3
: >"$game/$MARKER_INSTALL_INI"

start_standin game_standin "C:\\games\\velkin\\$GAME_EXE_NAME"
shoot "$with_data" "" "" +BOX_GAME_RUNNING
stop_standin

start_standin file_holder "C:\\games\\velkin\\$ARCHIVE_RELATIVE_PATH"
shoot "$with_data" "" "" +BOX_ARCHIVE_BUSY
stop_standin

shoot "$without_data" "" "" +BOX_UPDATE_DATA_MISSING

archive_of_size "$ARCHIVE_SIZE_PATCH_MISSING"
shoot "$with_data" "" "" +BOX_PATCH_MISSING

archive_of_size "$ARCHIVE_SIZE_V101"
shoot "$with_data" "" "" +BOX_ALREADY_APPLIED

archive_of_size "$ARCHIVE_SIZE_V100"
shoot "$with_data" "no" "" BOX_CONFIRM_DETECTED +BOX_CANCELLED

# Another program reads the archive and lets others read it too, but not
# write it: the rewrite cannot open it, and nothing is changed.
shoot "$with_data" "yes,yes" "$archive" BOX_CONFIRM_DETECTED BOX_CONFIRM_START +BOX_WRITE_FAILED
[ "$(stat -c %s "$archive")" -eq "$ARCHIVE_SIZE_V100" ] || fail "the failed update changed the archive"

# The game's folder on a disk too small for the rewrite (its pac folder on a
# tmpfs of 8 MiB, the archive sparse): neither the new archive nor the old
# one written back fits, and the old one is saved beside the update data,
# on another disk.
mkdir -p "$downloads"
cp "$with_data/$UPDATE_DATA_FILE" "$downloads/"
rm -f "$rescued"
mount -t tmpfs -o size=8m tmpfs "$(dirname "$archive")" ||
    fail "a tmpfs cannot be mounted on $(dirname "$archive")"
archive_of_size "$ARCHIVE_SIZE_V100"
shoot "$downloads_windows" "yes,yes" "" BOX_CONFIRM_DETECTED BOX_CONFIRM_START +BOX_ARCHIVE_RESCUED
[ "$(stat -c %s "$rescued")" -eq "$ARCHIVE_SIZE_V100" ] ||
    fail "the rescued copy is not the old archive's size"
cmp -s -n "$ARCHIVE_SIZE_V100" "$rescued" /dev/zero ||
    fail "the rescued copy is not the old (sparse) archive"
rm -f "$rescued"
umount "$(dirname "$archive")"

# The updater's file size limited to 100 MiB: the new archive, the one
# written back and the copy all stop there; the archive is damaged.
archive_of_size "$ARCHIVE_SIZE_V100"
FSIZE=$FSIZE_LIMIT
shoot "$downloads" "yes,yes" "" BOX_CONFIRM_DETECTED BOX_CONFIRM_START +BOX_ARCHIVE_DAMAGED
FSIZE=
[ "$(stat -c %s "$archive")" -eq $FSIZE_LIMIT ] || fail "the archive did not stop at the limit"
[ ! -e "$rescued" ] || fail "a partial copy was left behind"

archive_of_size "$ARCHIVE_SIZE_V100"
shoot "$with_data" "yes,yes" "" +BOX_CONFIRM_DETECTED +BOX_CONFIRM_START +BOX_SUCCESS
[ "$(stat -c %s "$archive")" -eq "$ARCHIVE_SIZE_V101" ] || fail "the update did not give a 1.01 archive"
cmp -s -n "$UPDATE_HEAD_LENGTH" "$archive" "$with_data/$UPDATE_DATA_FILE" ||
    fail "the updated archive does not start with the update data"

# What a rewrite cut short leaves (the updater ended from the task manager):
# the update data, then the first part of the kept tail. The rewrite writes
# in that order, so the 1.01 archive cut at any point is such a file (here
# the update data and about 132 MiB of the tail).
truncate -s $INTERRUPTED_SIZE "$archive"
shoot "$with_data" "" "" +BOX_UPDATE_INTERRUPTED
[ "$(stat -c %s "$archive")" -eq $INTERRUPTED_SIZE ] || fail "the run changed the cut-short archive"

echo "pictures: done, every box shown by the $program_arch Updater.exe"
# A row of the table that no scenario above pictures is named here, with the
# file to edit.
python3 "$repo/scripts/records/boxes.py" check "$ORVEX_PROGRAM_VALUES" ||
    fail "the pictures do not cover the table of boxes"
