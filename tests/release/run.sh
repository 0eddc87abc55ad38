#!/usr/bin/env bash
# Usage: tests/release/run.sh [WIN64_BUILD_DIR]
# The release stage: scripts/release.sh signs with a throwaway certificate (PEM, then PKCS#12), the
# signature verifies against it, the signed executable still passes the PE checks, and --verify tells this
# source's build, signed or not, from anything else. Both deliverables are rebuilt from a copy of the
# source at another path and must come out byte for byte the same, with no build path in them; broken
# there, the copy's release and --verify fail and leave its dist/ as it was. The signed win64 build is run
# end to end by the e2e case "signed". Work files: build/release-test/.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build64=$(realpath -m "${1:-$root/build/win64}")
# cmake reads the presets of the directory it runs in: this source's, whatever the caller's is.
cd "$root"
work=$root/build/release-test
release=$root/scripts/release.sh
start=$SECONDS

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
ok() { echo "ok:   $*"; }

rm -rf "$work"
mkdir -p "$work"
cert=$work/cert
"$root/scripts/test-cert.sh" "$cert"

# ----- reproducible builds ------------------------------------------------------------------------------

# The copy's path differs from this one in its first component and in its length, so an embedded path
# changes the bytes wherever it sits.
elsewhere=$(mktemp -d "${TMPDIR:-/tmp}/zal-release-XXXXXX")/another/source
trap 'rm -rf "$(dirname "$(dirname "$elsewhere")")"' EXIT
mkdir -p "$elsewhere"
tar -C "$root" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -C "$elsewhere" -xf -

"$elsewhere/scripts/release.sh" --out "$elsewhere/dist" >/dev/null
(cd "$elsewhere" && cmake --preset win64 >/dev/null && cmake --build --preset win64 --target ZALUpdate >/dev/null)
[ -f "$build64/build.ninja" ] || cmake --preset win64 -B "$build64" >/dev/null
cmake --build "$build64" --target ZALUpdate >/dev/null

pem=$work/pem
"$release" --cert "$cert/cert.pem" --key "$cert/key.pem" --ca "$cert/cert.pem" --out "$pem" >/dev/null
cmp "$pem/unsigned/ZALUpdate.exe" "$elsewhere/dist/ZALUpdate.exe" ||
    fail "the i686 release built in $root and in $elsewhere differ"
ok "i686 release: byte-identical from two source directories"
cmp "$build64/ZALUpdate.exe" "$elsewhere/build/win64/ZALUpdate.exe" ||
    fail "the win64 build in $build64 and in $elsewhere differ"
ok "win64 build: byte-identical from two source directories"
for exe in "$pem/unsigned/ZALUpdate.exe" "$elsewhere/dist/ZALUpdate.exe" "$build64/ZALUpdate.exe" \
    "$elsewhere/build/win64/ZALUpdate.exe"; do
    for path in "$root" "$elsewhere"; do
        ! grep -a -q -F "$path" "$exe" || fail "$exe holds the path $path"
    done
done
ok "no source or build directory in either executable"

# ----- signing ------------------------------------------------------------------------------------------

pe_field() { # EXE NAME
    python3 "$root/scripts/pe.py" "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"
}

# check_signed DIR WHAT: DIR/ZALUpdate.exe is signed by the throwaway certificate over DIR/unsigned's
# build, still passes the PE checks, and SHA256SUMS lists what DIR holds.
check_signed() {
    local dir=$1 what=$2 report calculated signed_digest unsigned_digest
    [ "$(pe_field "$dir/ZALUpdate.exe" signature)" -gt 0 ] || fail "$what: no certificate table in the executable"
    report=$(osslsigncode verify -CAfile "$cert/cert.pem" -in "$dir/ZALUpdate.exe" 2>&1) ||
        fail "$what: osslsigncode verify: $report"
    grep -q 'Subject: /CN=ZALUpdate test signing' <<<"$report" || fail "$what: signed by another certificate"
    ok "$what: the signature verifies against the throwaway certificate"
    # osslsigncode's own digest of the file is the oracle for scripts/pe.py's, which release.sh relies on.
    # Each is taken on its own: inside the comparison, pe.py failing and osslsigncode naming no digest would
    # compare two empty strings as equal.
    calculated=$(awk '/^Calculated message digest/ { print tolower($NF) }' <<<"$report")
    signed_digest=$(pe_field "$dir/ZALUpdate.exe" authenticode)
    unsigned_digest=$(pe_field "$dir/unsigned/ZALUpdate.exe" authenticode)
    [ -n "$calculated" ] && [ "$calculated" = "$signed_digest" ] && [ "$calculated" = "$unsigned_digest" ] ||
        fail "$what: pe.py's Authenticode digests $signed_digest and $unsigned_digest," \
            "osslsigncode's '$calculated'"
    ok "$what: the signed and the unsigned file have the Authenticode digest osslsigncode computes"
    python3 "$root/tests/pe/check-pe.py" "$dir/ZALUpdate.exe" i386 >"$work/check-pe.log" ||
        fail "$what: PE checks of the signed executable: $(grep FAIL "$work/check-pe.log")"
    ok "$what: the signed executable passes the PE checks"
    (cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fail "$what: SHA256SUMS does not match"
    [ "$(cut -d' ' -f3 "$dir/SHA256SUMS" | tr '\n' ' ')" = "BUILDINFO ZALUpdate.exe unsigned/ZALUpdate.exe " ] ||
        fail "$what: SHA256SUMS lists $(cut -d' ' -f3 "$dir/SHA256SUMS" | tr '\n' ' ')"
    ok "$what: SHA256SUMS lists and matches the three files"
}
check_signed "$pem" "PEM"

# The PKCS#12 password reaches osslsigncode in a file of mode 600 that is gone afterwards, never as an
# argument: a shim in front of osslsigncode records what it was given.
real=$(command -v osslsigncode)
mkdir -p "$work/shim"
cat >"$work/shim/osslsigncode" <<EOF
#!/usr/bin/env bash
printf '%s\n' "\$*" >>"$work/shim/arguments"
for ((i = 1; i < \$#; i++)); do
    [ "\${!i}" = -readpass ] && j=\$((i + 1)) && stat -c '%a %n' "\${!j}" >>"$work/shim/password-files"
done
exec "$real" "\$@"
EOF
chmod +x "$work/shim/osslsigncode"
password=$(cat "$cert/p12-password")
p12=$work/p12
PATH=$work/shim:$PATH ZAL_SIGN_PASSWORD=$password \
    "$release" --pkcs12 "$cert/cert.p12" --ca "$cert/cert.pem" --out "$p12" >/dev/null
check_signed "$p12" "PKCS#12"
! grep -q -F "$password" "$work/shim/arguments" || fail "the PKCS#12 password was on osslsigncode's command line"
read -r mode file <"$work/shim/password-files" || fail "osslsigncode was given no -readpass file"
[ "$mode" = 600 ] || fail "the password file had mode $mode"
[ ! -e "$file" ] || fail "the password file $file is left behind"
ok "PKCS#12: the password went in a file of mode 600, removed afterwards, never as an argument"

# A signing that fails leaves the previous release as it was. Nothing can listen on port 0, whatever else
# runs on this machine, so only a run that hands that time-stamp server to osslsigncode fails on it.
before=$(cat "$p12/SHA256SUMS")
while IFS='|' read -r what password option given; do
    : >"$work/shim/arguments"
    # shellcheck disable=SC2086 # the option is two words or none
    if PATH=$work/shim:$PATH ZAL_SIGN_PASSWORD=$password "$release" --pkcs12 "$cert/cert.p12" --out "$p12" \
        $option >"$work/failed-signing.log" 2>&1; then
        fail "$what: signing succeeded"
    fi
    grep -q -F -- "$given" "$work/shim/arguments" || fail "$what: osslsigncode was not given '$given'"
    [ "$(cat "$p12/SHA256SUMS")" = "$before" ] && (cd "$p12" && sha256sum --quiet -c SHA256SUMS) ||
        fail "$what: the failed signing changed the previous release's files"
    ok "$what: signing fails and leaves the previous release as it was"
done <<EOF
a wrong PKCS#12 password|wrong||-readpass
an unreachable time-stamp server|$password|--timestamp http://127.0.0.1:0/|-ts http://127.0.0.1:0/
EOF

# ----- verifying a shipped file against the source -------------------------------------------------------

# patched SOURCE OUT: SOURCE with one letter of the DOS stub's message changed, a byte Authenticode covers
# and Windows never reads.
patched() {
    python3 - "$1" "$2" <<'EOF'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.index(b"This program")
data[at] ^= 0x20
open(sys.argv[2], "wb").write(data)
EOF
}
patched "$pem/unsigned/ZALUpdate.exe" "$work/other-build.exe"
osslsigncode sign -h sha256 -certs "$cert/cert.pem" -key "$cert/key.pem" -in "$work/other-build.exe" \
    -out "$work/other-build-signed.exe" >/dev/null
patched "$pem/ZALUpdate.exe" "$work/tampered-signed.exe"

# Each row: the expected exit code, the file shipped, the CA file (- for the system's), what the
# message says, and the case.
while IFS='|' read -r want file ca says what; do
    ca_args=()
    [ "$ca" = - ] || ca_args=(--ca "$ca")
    set +e
    message=$("$release" --verify "$file" "${ca_args[@]}" 2>&1)
    status=$?
    set -e
    [ "$status" = "$want" ] || fail "--verify, $what: exit code $status, expected $want: $message"
    grep -q -- "$says" <<<"$message" || fail "--verify, $what: says '$message', expected '$says'"
    ok "--verify, $what: exit code $want"
done <<EOF
0|$pem/ZALUpdate.exe|$cert/cert.pem|this source's build, signed by /CN=ZALUpdate test signing|the signed release
0|$p12/ZALUpdate.exe|$cert/cert.pem|this source's build, signed|the release signed from PKCS#12
0|$elsewhere/dist/ZALUpdate.exe|-|this source's build, unsigned|the unsigned build of the copy
1|$pem/ZALUpdate.exe|-|does not verify|the signed release against the system's CAs, which do not hold the test certificate
1|$work/other-build-signed.exe|$cert/cert.pem|Authenticode digest|a validly signed build of other bytes
1|$work/tampered-signed.exe|$cert/cert.pem|does not verify|the signed release with a byte changed
1|$work/other-build.exe|-|not signed and differs|an unsigned build of other bytes
1|$root/README.md|-|not a Windows executable|a file that is no executable
EOF

# ----- a build that fails -------------------------------------------------------------------------------

# The copy's source broken one way at a time, with its earlier build still in its build directory: the
# release and --verify fail with the build's own error, and never take that earlier executable for this
# source's, and the copy's dist/ stays as it was, byte for byte.
cp -a "$elsewhere/dist" "$work/dist-before"
while IFS='|' read -r file line what; do
    cp "$elsewhere/$file" "$work/unbroken"
    printf '%s\n' "$line" >>"$elsewhere/$file"
    for run in release --verify; do
        args=(--out "$elsewhere/dist")
        [ "$run" = release ] || args=(--verify "$elsewhere/dist/ZALUpdate.exe")
        set +e
        message=$("$elsewhere/scripts/release.sh" "${args[@]}" 2>&1)
        status=$?
        set -e
        [ "$status" = 1 ] || fail "$what, $run: exit code $status, expected 1: $message"
        grep -q 'broken on purpose' <<<"$message" && grep -q '^release: the build failed' <<<"$message" ||
            fail "$what, $run: says '$message'"
        diff -r "$work/dist-before" "$elsewhere/dist" >"$work/dist.diff" ||
            fail "$what, $run: dist/ changed: $(head -c 300 "$work/dist.diff")"
        ok "$what, $run: exit code 1, dist/ unchanged byte for byte, the build's error shown:"
        grep -m 1 -A 1 'Error\|error:' <<<"$message" | sed 's/^ */        /'
        grep '^release: the build failed' <<<"$message" | sed 's/^/        /'
    done
    cp "$work/unbroken" "$elsewhere/$file"
done <<'EOF'
app/UPrincipal.cpp|#error broken on purpose|a compile error
CMakeLists.txt|message(FATAL_ERROR "broken on purpose")|a configure error
EOF

echo "release: stage passed in $((SECONDS - start)) s; the i686 release is $(stat -c %s "$pem/ZALUpdate.exe") bytes" \
    "signed, $(stat -c %s "$pem/unsigned/ZALUpdate.exe") unsigned"
