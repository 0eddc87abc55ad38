#!/usr/bin/env bash
# Usage: scripts/release.sh [--cert FILE --key FILE | --pkcs12 FILE] [--ca FILE] [--timestamp URL]
#                           [--out DIR] [--build DIR]
#        scripts/release.sh --verify SHIPPED_EXE [--ca FILE] [--build DIR]
#
# Builds the 32-bit deliverable from this source in a build directory of its own (build/release, configured
# from the win32 preset) and writes to DIR (default dist/):
#   ZALUpdate.exe            the executable to ship, signed when a certificate is given
#   unsigned/ZALUpdate.exe   when signed: the build before signing, byte for byte what anyone's build of
#                            this source gives
#   BUILDINFO                the commit and the versions of the Debian packages that built it
#   SHA256SUMS               the SHA-256 of each of them, for sha256sum -c
# Builds are byte-identical wherever they are made, given the same Debian packages.
#
# Signing uses osslsigncode (SHA-256 Authenticode) with a PEM certificate (or chain) and its key, or with
# a PKCS#12 file. The password of the PKCS#12 file, or of an encrypted key, is read from the environment
# variable ZAL_SIGN_PASSWORD only, never from the command line. The signed file is then verified: its
# signature against the CA certificates of --ca (default: the system's), its contents against the unsigned
# build. --timestamp names an RFC 3161 time-stamp server, so the signature outlives the certificate.
# Each option may come from the environment instead: ZAL_SIGN_CERT, ZAL_SIGN_KEY, ZAL_SIGN_PKCS12,
# ZAL_SIGN_CA, ZAL_TIMESTAMP_URL, ZAL_DIST, ZAL_RELEASE_BUILD.
#
# --verify builds this source the same way and checks that SHIPPED_EXE is that build: unsigned, the same
# bytes; signed, a valid signature (against --ca) whose Authenticode digest is the build's, and the same
# bytes once the signature is removed. Exit code 0 when it is, 1 when not, 2 on wrong usage.
#
# A build step that fails ends the release, and --verify, with exit code 1 and the end of the build's output,
# before anything in DIR is touched: the build directory may still hold an earlier build's executable.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
usage() { # EXIT_CODE
    sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0"
    exit "$1"
}
die() {
    echo "release: $*" >&2
    exit 1
}

cert=${ZAL_SIGN_CERT:-} key=${ZAL_SIGN_KEY:-} pkcs12=${ZAL_SIGN_PKCS12:-} ca=${ZAL_SIGN_CA:-}
timestamp=${ZAL_TIMESTAMP_URL:-} out=${ZAL_DIST:-$root/dist} build=${ZAL_RELEASE_BUILD:-$root/build/release}
shipped=
while [ $# -gt 0 ]; do
    case $1 in
    --cert) cert=${2:?} ;;
    --key) key=${2:?} ;;
    --pkcs12) pkcs12=${2:?} ;;
    --ca) ca=${2:?} ;;
    --timestamp) timestamp=${2:?} ;;
    --out) out=${2:?} ;;
    --build) build=${2:?} ;;
    --verify) shipped=${2:?} ;;
    -h | --help) usage 0 ;;
    *) echo "release: unknown option $1" >&2 && usage 2 >&2 ;;
    esac
    shift 2
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# build_unsigned: builds the release executable from this source, as $unsigned. Run as a command of its
# own, never inside $(...), where bash would go on past a step that fails. cmake reads the presets of the
# directory it runs in, so it runs in this source's, whatever the caller's is.
build=$(realpath -m "$build")
unsigned=$build/ZALUpdate.exe
build_unsigned() {
    echo "release: building in $build" >&2
    if ! (cd "$root" && cmake --preset win32 -B "$build" && cmake --build "$build" --target ZALUpdate) \
        >"$work/build.log" 2>&1; then
        tail -n 20 "$work/build.log" | sed 's/^/  /' >&2
        die "the build failed (the end of its output is above); nothing was written"
    fi
}

# pe_field EXE NAME: a field of scripts/pe.py's line for EXE: signature (the certificate table's size, 0
# when unsigned) or authenticode (the SHA-256 Authenticode digest a signature of it carries).
pe_field() {
    python3 "$root/scripts/pe.py" "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"
}

# check_signed_build SIGNED UNSIGNED: the signature is valid, against the CA certificates of --ca when
# given, and made over UNSIGNED; removing it gives UNSIGNED back byte for byte.
check_signed_build() {
    local -a ca_args=()
    [ -n "$ca" ] && ca_args=(-CAfile "$ca")
    osslsigncode verify "${ca_args[@]}" -in "$1" >"$work/verify.txt" 2>&1 ||
        die "the signature of $1 does not verify: $(grep -iE 'fail|error' "$work/verify.txt" | head -3 | tr '\n' ' ')"
    local carried expected
    carried=$(awk '/^Current message digest/ { print $NF; exit }' "$work/verify.txt")
    expected=$(pe_field "$2" authenticode)
    [ -n "$carried" ] && [ "${carried,,}" = "$expected" ] ||
        die "the signature of $1 is over Authenticode digest '$carried', this source's build has '$expected'"
    rm -f "$work/stripped.exe"
    osslsigncode remove-signature -in "$1" -out "$work/stripped.exe" >/dev/null
    cmp -s "$work/stripped.exe" "$2" || die "$1 without its signature differs from this source's build"
}

if [ -n "$shipped" ]; then
    [ -f "$shipped" ] || die "no file $shipped"
    python3 "$root/scripts/pe.py" "$shipped" >/dev/null 2>&1 || die "$shipped is not a Windows executable"
    build_unsigned
    signature=$(pe_field "$shipped" signature)
    if [ "$signature" != 0 ]; then
        check_signed_build "$shipped" "$unsigned"
        signer=$(sed -n 's/^[[:space:]]*Subject *: *//p' "$work/verify.txt" | head -n 1)
        echo "release: $shipped is this source's build, signed by $signer"
    else
        cmp -s "$shipped" "$unsigned" || die "$shipped is not signed and differs from this source's build"
        echo "release: $shipped is this source's build, unsigned"
    fi
    exit 0
fi

if [ -n "$pkcs12" ] && [ -n "$cert$key" ]; then
    die "give either --cert and --key or --pkcs12, not both"
fi
if [ -n "$cert$key" ] && { [ -z "$cert" ] || [ -z "$key" ]; }; then
    die "--cert and --key go together"
fi
if [ -n "$pkcs12" ] && [ -z "${ZAL_SIGN_PASSWORD+set}" ]; then
    die "the password of $pkcs12 comes from the environment variable ZAL_SIGN_PASSWORD, which is not set"
fi

build_unsigned
stage=$work/dist
mkdir -p "$stage"
if [ -n "$cert$pkcs12" ]; then
    mkdir -p "$stage/unsigned"
    cp "$unsigned" "$stage/unsigned/ZALUpdate.exe"
    sign=(osslsigncode sign -h sha256 -n ZALUpdate -in "$unsigned" -out "$stage/ZALUpdate.exe")
    if [ -n "$pkcs12" ]; then
        sign+=(-pkcs12 "$pkcs12")
    else
        sign+=(-certs "$cert" -key "$key")
    fi
    if [ -n "${ZAL_SIGN_PASSWORD+set}" ]; then
        # The password reaches osslsigncode through a file only this user can read, removed on exit with
        # the rest of the work directory; on the command line every user could see it.
        (umask 077 && printf '%s' "$ZAL_SIGN_PASSWORD" >"$work/password")
        sign+=(-readpass "$work/password")
    fi
    [ -n "$timestamp" ] && sign+=(-ts "$timestamp")
    "${sign[@]}" >"$work/sign.txt" 2>&1 || die "signing failed: $(tr '\n' ' ' <"$work/sign.txt")"
    rm -f "$work/password"
    check_signed_build "$stage/ZALUpdate.exe" "$unsigned"
else
    cp "$unsigned" "$stage/ZALUpdate.exe"
fi

{
    if commit=$(git -C "$root" rev-parse HEAD 2>/dev/null); then
        # The build takes every source file of a folder, so an untracked one counts as a change too.
        changes=$(git -C "$root" status --porcelain)
        [ -z "$changes" ] || commit+=" (with uncommitted changes)"
    else
        commit="unknown (not a git checkout)"
    fi
    echo "commit $commit"
    dpkg-query -W -f='${Package} ${Version}\n' g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix \
        binutils-mingw-w64-i686 mingw-w64-i686-dev mingw-w64-common cmake ninja-build 2>/dev/null || true
} >"$stage/BUILDINFO"
(cd "$stage" && find . -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)

# Only now, with everything made and checked, are the previous release's files replaced.
mkdir -p "$out"
rm -rf "${out:?}/unsigned"
rm -f "$out/ZALUpdate.exe" "$out/BUILDINFO" "$out/SHA256SUMS"
cp -a "$stage/." "$out/"
echo "release: wrote $out:"
sed 's/^/  /' "$out/SHA256SUMS"
