#!/bin/sh
# Signs a Windows program with the publisher's Authenticode key, checks the
# signature, and prints the signing certificate's subject.
#
#   sign.sh UNSIGNED SIGNED SIGNING_TIME [PROGRAM_NAME]
#
# The key comes from the environment, never from the command line:
#   ORVEX_SIGN_PKCS12         a PKCS#12 file holding the key and its certificate chain
#   ORVEX_SIGN_KEY            or: a PEM private key ...
#   ORVEX_SIGN_CERT           ... and its PEM certificate chain, the signer's first
#   ORVEX_SIGN_PASSWORD       the password of the PKCS#12 file or of an encrypted key
#   ORVEX_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamp server
#   ORVEX_SIGN_CAFILE         optional: the roots that the signature and the
#                             time-stamp must chain to when they are checked
#                             (default: the system's trusted roots)
# Exits 3 without output when no key is given, 1 on any failure.
#
# SIGNING_TIME (Unix seconds, the commit's time in a release) is written as the
# signature's signing time instead of the clock, so the same bytes signed with
# the same RSA key give the same signed bytes, with the same osslsigncode
# (2.5 and 2.9 were seen to lay out the signature differently). A time-stamp
# comes from the server and differs every time: a time-stamped signature is
# not reproducible.
set -eu
[ $# -ge 3 ] && [ $# -le 4 ] || {
    echo "usage: sign.sh UNSIGNED SIGNED SIGNING_TIME [PROGRAM_NAME]" >&2; exit 2; }
unsigned=$1
signed=$2
signing_time=$3
program_name=${4:-}

if [ -n "${ORVEX_SIGN_PKCS12:-}" ]; then
    [ -z "${ORVEX_SIGN_KEY:-}${ORVEX_SIGN_CERT:-}" ] || {
        echo "sign: give ORVEX_SIGN_PKCS12 or ORVEX_SIGN_KEY and ORVEX_SIGN_CERT, not both" >&2
        exit 1; }
    set -- -pkcs12 "$ORVEX_SIGN_PKCS12"
elif [ -n "${ORVEX_SIGN_KEY:-}" ] || [ -n "${ORVEX_SIGN_CERT:-}" ]; then
    [ -n "${ORVEX_SIGN_KEY:-}" ] && [ -n "${ORVEX_SIGN_CERT:-}" ] || {
        echo "sign: ORVEX_SIGN_KEY and ORVEX_SIGN_CERT go together" >&2; exit 1; }
    set -- -key "$ORVEX_SIGN_KEY" -certs "$ORVEX_SIGN_CERT"
else
    exit 3
fi
[ -z "$program_name" ] || set -- "$@" -n "$program_name"
[ -z "${ORVEX_SIGN_TIMESTAMP_URL:-}" ] || set -- "$@" -ts "$ORVEX_SIGN_TIMESTAMP_URL"

log=$(mktemp "${TMPDIR:-/tmp}/orvex-sign.XXXXXX")
trap 'rm -f "$log"' EXIT INT TERM
rm -f "$signed"
# The password goes through a pipe from the shell's own printf, so it shows
# in no process's arguments and touches no disk (osslsigncode refuses an
# empty one there). /dev/stdin rather than "-", which 2.5 (Debian 12) reads
# as a file name.
[ -z "${ORVEX_SIGN_PASSWORD:-}" ] || set -- "$@" -readpass /dev/stdin
if ! printf '%s' "${ORVEX_SIGN_PASSWORD:-}" |
        osslsigncode sign "$@" -h sha256 -time "$signing_time" \
            -in "$unsigned" -out "$signed" >"$log" 2>&1; then
    cat "$log" >&2
    echo "sign: signing FAILED" >&2
    exit 1
fi

set --
[ -z "${ORVEX_SIGN_CAFILE:-}" ] || set -- -CAfile "$ORVEX_SIGN_CAFILE" -TSA-CAfile "$ORVEX_SIGN_CAFILE"
if ! osslsigncode verify "$@" -in "$signed" >"$log" 2>&1; then
    cat "$log" >&2
    echo "sign: the signed program does NOT verify" >&2
    exit 1
fi
# verify succeeds on a time-stamp whose server it cannot trust (it then
# checks the certificate at the current time): require the time-stamp.
if [ -n "${ORVEX_SIGN_TIMESTAMP_URL:-}" ] &&
        ! grep -q '^Timestamp Server Signature verification: ok' "$log"; then
    cat "$log" >&2
    echo "sign: the time-stamp does NOT verify" >&2
    exit 1
fi
# The first subject after "Signer's certificate" is the signer's own.
subject=$(sed -n "/^Signer's certificate:/,\$ s/^[[:space:]]*Subject: //p" "$log" | head -n 1)
[ -n "$subject" ] || { cat "$log" >&2; echo "sign: no signer subject in the signature" >&2; exit 1; }
echo "$subject"
