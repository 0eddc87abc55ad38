#!/usr/bin/env bash
# Makes this machine run 32-bit Windows programs: 32-bit Wine from Debian's i386 architecture, run by the
# kernel itself where it can, and otherwise through qemu's user-mode emulator registered with binfmt_misc
# (scripts/i386-mode.sh); its last line says which mode, "setup-i386: 32-bit mode native|qemu (...)".
# Idempotent; needs root. Prints "SKIPPED: <reason>" and exits 3 where the emulator is needed and the kernel
# refuses binfmt_misc, and where ZAL_SKIP_I386=1 asks for the 32-bit stage to be left out. An archive that
# fails is tried again a few times (scripts/apt.sh); one that keeps failing ends the setup with one line
# saying why and what to do.
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
# shellcheck source=scripts/i386-mode.sh
source "$(dirname "$0")/i386-mode.sh"
i386_set_up_mode
