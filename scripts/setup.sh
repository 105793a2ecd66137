#!/bin/sh
# Installs every Debian package and the Japanese locale that the builds,
# tests, demo and tooling need. Idempotent: returns at once when all is there.
set -eu

PACKAGES="
cmake ninja-build g++ make python3 pkgconf
mingw-w64
wine wine64
locales
googletest libgtest-dev libgmock-dev
liblnk-utils xdelta3
clang libclang-rt-14-dev clang-tidy cppcheck valgrind
xvfb fonts-ipafont-gothic fonts-wine xdotool imagemagick zip unzip
osslsigncode openssl python3-pefile
stress-ng
"

# The shipped program is 32-bit: where the kernel runs 32-bit programs, Wine's
# 32-bit loader (wine32, of the i386 architecture) runs it for real.
i386=yes
if ! why=$(sh "$(dirname "$0")/wine/i386-probe"); then
    i386=no
    echo "setup: $why; the 32-bit program's end-to-end tests will be skipped"
fi
[ $i386 = no ] || PACKAGES="$PACKAGES wine32:i386"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing="$missing $p"
    fi
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

if [ -n "$missing" ]; then
    echo "setup: installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    if [ $i386 = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
    fi
    $SUDO apt-get update -qq
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

# Wine takes the ANSI code page from the Unix locale, but only once the
# locale exists; without it GetACP() silently stays 1252. The English
# (United States) runs need theirs too: without it Wine's Unix side is
# ASCII, and a folder named Café reaches the program as "CafC)".
missing_locales=""
for l in ja_JP en_US; do
    if ! locale -a 2>/dev/null | grep -qi "^$l\.utf-\?8\$"; then
        missing_locales="$missing_locales $l"
        if ! grep -q "^$l.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null; then
            echo "$l.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
        fi
    fi
done
if [ -n "$missing_locales" ]; then
    echo "setup: generating UTF-8 locales:$missing_locales"
    $SUDO locale-gen >/dev/null
fi
