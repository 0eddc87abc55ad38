#!/usr/bin/env bash
# Makes this machine run 32-bit Windows programs: 32-bit Wine from Debian's i386 architecture, executed
# through qemu's user-mode emulator registered with binfmt_misc (the kernel here has no 32-bit support).
# Idempotent; needs root. Prints "SKIPPED: <reason>" and exits 3 where the kernel refuses binfmt_misc, and
# where ZAL_SKIP_I386=1 asks for the 32-bit stage to be left out. An archive that fails is tried again a few
# times (scripts/apt.sh); one that keeps failing ends the setup with one line saying why and what to do.
set -euo pipefail

# Asked for when Debian's archive cannot give 32-bit Wine for a while: every other stage can still run.
if [ "${ZAL_SKIP_I386:-}" = 1 ]; then
    echo "SKIPPED: ZAL_SKIP_I386=1 is set"
    exit 3
fi

# shellcheck source=scripts/apt.sh
source "$(dirname "$0")/apt.sh"

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    root_or_say setup-i386 "add the i386 architecture to dpkg" || exit 1
    "${as_root[@]}" dpkg --add-architecture i386
fi
mapfile -t missing < <(missing_packages wine32:i386 qemu-user)
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup-i386: installing ${missing[*]}"
    # wine64 is asked for too, installed or not: the install then keeps it, and succeeds only with both Wines
    # in place afterwards.
    apt_install setup-i386 "Debian's archive may be mid-sync or out of reach: run this again later, or set \
ZAL_SKIP_I386=1 to run every stage but the 32-bit one." wine64 "${missing[@]}" || exit 1
fi

# The tests give a directory of their own, so that what they check does not hang on this machine's kernel.
binfmt=${ZAL_BINFMT_MISC:-/proc/sys/fs/binfmt_misc}
if [ ! -e "$binfmt/register" ]; then
    if ! "${as_root[@]}" mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null; then
        echo "SKIPPED: binfmt_misc cannot be mounted here (the kernel or the sandbox refuses it)"
        exit 3
    fi
fi
if [ ! -e "$binfmt/qemu-i386" ]; then
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    if ! printf '%s' ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386:OCF" |
        "${as_root[@]}" tee "$binfmt/register" >/dev/null 2>&1; then
        echo "SKIPPED: the kernel refused to register qemu-i386 with binfmt_misc"
        exit 3
    fi
fi
# A registration switched off (echo 0 > the entry) would leave 32-bit programs failing with "Exec format
# error" rather than skipped.
if [ "$(head -n 1 "$binfmt/qemu-i386")" != enabled ]; then
    echo 1 | "${as_root[@]}" tee "$binfmt/qemu-i386" >/dev/null
fi
