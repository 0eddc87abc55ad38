#!/usr/bin/env bash
# Usage: scripts/test-cert.sh DIR
# Makes a throwaway self-signed code-signing certificate for tests, once: DIR/cert.pem (the certificate,
# also the CA file to verify against), DIR/key.pem (its RSA key, unencrypted) and DIR/cert.p12 (both in
# PKCS#12, encrypted with the password held in DIR/p12-password, one line). A second call with the same
# DIR finds all four files and changes nothing. Never use these files to sign anything that ships.
set -euo pipefail

[ $# -eq 1 ] || { sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0" >&2; exit 2; }
dir=$1
files=(cert.pem key.pem cert.p12 p12-password)

mkdir -p "$dir"
exec 9>"$dir/.lock"
flock 9
complete=1
for file in "${files[@]}"; do
    [ -s "$dir/$file" ] || complete=0
done
[ $complete -eq 1 ] && exit 0

# Made aside and moved in afterwards, so that an interrupted run leaves no half set that looks complete.
umask 077
work=$(mktemp -d "$dir/.making.XXXXXX")
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -sha256 -nodes -days 3650 -subj "/CN=ZALUpdate test signing/O=Test only" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl rand -hex 16 >"$work/p12-password"
openssl pkcs12 -export -in "$work/cert.pem" -inkey "$work/key.pem" -name "ZALUpdate test signing" \
    -passout "file:$work/p12-password" -out "$work/cert.p12"
chmod 644 "$work/cert.pem"
for file in "${files[@]}"; do
    mv -f "$work/$file" "$dir/$file"
done
