#!/usr/bin/env bash
# Makes this machine run 32-bit Windows programs: 32-bit Wine from Debian's i386 architecture, executed
# through qemu's user-mode emulator registered with binfmt_misc (the kernel here has no 32-bit support).
# Idempotent; needs root. Prints "SKIPPED: <reason>" and exits 3 where the kernel refuses binfmt_misc.
set -euo pipefail

# as_root VAR=VALUE... COMMAND...: through sudo when not root. The variables go on sudo's command line,
# since sudo starts the command with an environment of its own, without the caller's.
as_root=(env)
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
    "${as_root[@]}" apt-get update -qq
fi
missing=()
for p in wine32:i386 qemu-user; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup-i386: installing ${missing[*]}"
    "${as_root[@]}" apt-get update -qq
    "${as_root[@]}" DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" \
        >/dev/null
fi

binfmt=/proc/sys/fs/binfmt_misc
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
