#!/bin/sh
# Signs the shipped program with scripts/release/sign.sh and a throwaway self-signed
# code-signing certificate made here (in the build tree, never committed),
# then checks what a publisher and a player rely on:
#   - the key given as PEM, as PEM encrypted with a password, or as PKCS#12
#     with a password gives the same signed bytes, and so does a second
#     signing: the signing time is the one given, not the clock's;
#   - osslsigncode verify accepts it against that certificate, and rejects a
#     copy with one byte changed and the same file against another root;
#   - signing only appends the certificate table: every byte of the program
#     stays, but for the header's checksum and the table's directory entry;
#   - the PE checks pass on the signed file, certificate table included;
#   - a time-stamp from a throwaway RFC 3161 server on this machine is taken
#     and checked, and one whose server's root is not trusted is refused.
# Leaves the signed program at WORKDIR/Updater.exe.
#
#   signing_test.sh PYTHON REPO PROGRAM WORKDIR
set -eu
[ $# -eq 4 ] || { echo "usage: signing_test.sh PYTHON REPO PROGRAM WORKDIR" >&2; exit 2; }
python=$1
repo=$2
program=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
work=$4
signing_time=1700000000

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

rm -rf "$work"
mkdir -p "$work/key"
cd "$work"
umask 077

# The throwaway publisher, and an unrelated one whose root must not do.
for who in publisher stranger; do
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 \
        -subj "/CN=Throwaway $who/O=ORVEX signing test" \
        -addext "keyUsage=critical,digitalSignature" \
        -addext "extendedKeyUsage=codeSigning" \
        -addext "basicConstraints=critical,CA:FALSE" \
        -keyout "key/$who.key" -out "key/$who.pem" 2>/dev/null
done
password=not-on-any-command-line
printf '%s' "$password" >key/password
openssl pkcs12 -export -inkey key/publisher.key -in key/publisher.pem \
    -passout file:key/password -out key/publisher.p12
openssl pkey -in key/publisher.key -aes256 -passout file:key/password \
    -out key/publisher-encrypted.key
subject=$(openssl x509 -in key/publisher.pem -noout -subject -nameopt compat)
subject=${subject#subject=}

unset ORVEX_SIGN_PKCS12 ORVEX_SIGN_KEY ORVEX_SIGN_CERT ORVEX_SIGN_PASSWORD \
      ORVEX_SIGN_TIMESTAMP_URL ORVEX_SIGN_CAFILE
sign() {  # sign OUTPUT VAR=VALUE...: sign.sh with these variables set, checked
          # against the publisher's root unless ORVEX_SIGN_CAFILE is among them
    out=$1
    shift
    env ORVEX_SIGN_CAFILE=key/publisher.pem "$@" \
        sh "$repo/scripts/release/sign.sh" "$program" "$out" "$signing_time" "ORVEX Updater"
}

# No key: nothing signed, and the caller told so by the exit status.
status=0
sign none.exe >/dev/null 2>&1 || status=$?
[ $status -eq 3 ] && [ ! -e none.exe ] || fail "without a key: status $status, expected 3 and no file"

# Every way of giving the key, and a second signing, give the same bytes.
for way in pem pem-again pem-encrypted pkcs12; do
    case $way in
    pem|pem-again) set -- ORVEX_SIGN_KEY=key/publisher.key ORVEX_SIGN_CERT=key/publisher.pem ;;
    pem-encrypted) set -- ORVEX_SIGN_KEY=key/publisher-encrypted.key \
                          ORVEX_SIGN_CERT=key/publisher.pem ORVEX_SIGN_PASSWORD="$password" ;;
    pkcs12) set -- ORVEX_SIGN_PKCS12=key/publisher.p12 ORVEX_SIGN_PASSWORD="$password" ;;
    esac
    if ! said=$(sign "$way.exe" "$@"); then
        fail "signing with the key as $way"
        continue
    fi
    [ "$said" = "$subject" ] || fail "$way: signer reported as '$said', expected '$subject'"
    if [ "$way" != pem ] && ! cmp -s pem.exe "$way.exe"; then
        fail "$way: signed bytes differ from the first signing"
    fi
done
[ -f pem.exe ] || { echo "signing: nothing signed ($failures failure(s))"; exit 1; }
cp pem.exe Updater.exe

# The signature's time is the one given.
osslsigncode verify -CAfile key/publisher.pem -in Updater.exe >verify.log 2>&1 \
    || fail "osslsigncode verify rejects the signed program against its own certificate"
want_time=$(LC_ALL=C date -u -d "@$signing_time" '+%b %e %H:%M:%S %Y GMT')
grep -q "Signing time: $want_time" verify.log \
    || fail "signing time is not $want_time: $(grep 'Signing time' verify.log)"

# What must be rejected, and why: (name, file, root, the reason verify gives).
# One bit of a byte in the middle of the program, which the signature covers.
"$python" -c 'import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[len(data) // 2] ^= 1
open(sys.argv[2], "wb").write(data)' Updater.exe one-byte-changed.exe
cmp -s Updater.exe one-byte-changed.exe && fail "the byte change changed nothing"
while read -r what file root reason; do
    if osslsigncode verify -CAfile "$root" -in "$file" >"reject-$what.log" 2>&1; then
        fail "osslsigncode verify accepts $what"
    elif ! grep -q "$reason" "reject-$what.log"; then
        fail "$what: rejected, but not for '$reason' (reject-$what.log)"
    fi
done <<EOF
one-byte-changed one-byte-changed.exe key/publisher.pem Calculated message digest.*MISMATCH
another-root Updater.exe key/stranger.pem certificate verify error
EOF

# Signing appends the table and touches only the checksum and the table's
# directory entry.
PYTHONDONTWRITEBYTECODE=1 "$python" - "$program" Updater.exe <<'PY' || fail "signing changed the program"
import sys
import pefile
unsigned, signed = (open(p, "rb").read() for p in sys.argv[1:])
pe = pefile.PE(data=unsigned, fast_load=True)
checksum = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
allowed = set(range(checksum, checksum + 4))
allowed |= set(range(entry.get_file_offset(), entry.get_file_offset() + 8))
changed = [i for i in range(len(unsigned)) if unsigned[i] != signed[i] and i not in allowed]
if len(signed) <= len(unsigned) or changed:
    print("signed: %d bytes after %d; bytes changed at %s" % (len(signed), len(unsigned),
                                                              [hex(i) for i in changed[:8]]))
    sys.exit(1)
PY

# The PE checks on the signed file, and their faults of the certificate table.
PYTHONDONTWRITEBYTECODE=1 "$python" "$repo/tests/pe/check_pe.py" --arch i686 --signed Updater.exe \
    || fail "the PE checks on the signed program"
PYTHONDONTWRITEBYTECODE=1 "$python" "$repo/tests/pe/check_pe_faults.py" --arch i686 --signed \
    Updater.exe >faults.log 2>&1 || { cat faults.log; fail "the PE fault checks on the signed program"; }

# The time-stamp: a throwaway root and server certificate, and the server.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway time-stamp root" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
    -keyout key/tsa-root.key -out key/tsa-root.pem 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=Throwaway time-stamp server" \
    -keyout key/tsa.key -out key/tsa.csr 2>/dev/null
printf '%s\n' "extendedKeyUsage=critical,timeStamping" "keyUsage=critical,digitalSignature" \
    "basicConstraints=critical,CA:FALSE" >key/tsa.ext
openssl x509 -req -in key/tsa.csr -CA key/tsa-root.pem -CAkey key/tsa-root.key \
    -set_serial 2 -days 2 -extfile key/tsa.ext -out key/tsa.pem 2>/dev/null
echo 01 >key/tsa-serial
cat >key/tsa.cnf <<EOF
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = $work/key/tsa-serial
crypto_device = builtin
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
signer_digest = sha256
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
EOF
cat key/publisher.pem key/tsa-root.pem >key/both-roots.pem
mkfifo key/tsa-port
"$python" "$repo/tests/pe/tsa_server.py" "$work/key" key/tsa-port 2>tsa-server.log &
tsa_server=$!
trap 'kill "$tsa_server" 2>/dev/null' EXIT
# Blocks until the server has its port.
read -r port <key/tsa-port
url=http://127.0.0.1:$port/
if said=$(sign time-stamped.exe ORVEX_SIGN_KEY=key/publisher.key ORVEX_SIGN_CERT=key/publisher.pem \
               ORVEX_SIGN_TIMESTAMP_URL="$url" ORVEX_SIGN_CAFILE=key/both-roots.pem 2>time-stamped.log); then
    osslsigncode verify -CAfile key/both-roots.pem -TSA-CAfile key/both-roots.pem \
        -in time-stamped.exe >verify-time-stamped.log 2>&1 || fail "the time-stamped program does not verify"
    grep -q "^Timestamp Server Signature verification: ok" verify-time-stamped.log \
        || fail "no verified time-stamp in the signature"
    [ "$said" = "$subject" ] || fail "time-stamped: signer reported as '$said'"
else
    cat time-stamped.log tsa-server.log
    fail "signing with a time-stamp from $url"
fi
# Only the publisher's root trusted: the time-stamp must be refused.
if sign untrusted-time-stamp.exe ORVEX_SIGN_KEY=key/publisher.key ORVEX_SIGN_CERT=key/publisher.pem \
        ORVEX_SIGN_TIMESTAMP_URL="$url" >/dev/null 2>untrusted-time-stamp.log ||
        ! grep -q "time-stamp does NOT verify" untrusted-time-stamp.log; then
    fail "a time-stamp from a server whose root is not trusted was not refused as such"
fi

if [ $failures -ne 0 ]; then
    echo "signing: $failures failure(s)"
    exit 1
fi
echo "signing: signed as $subject, verified, reproducible; $work/Updater.exe"
