#!/usr/bin/env bash
# Usage: prefix.sh PREFIX_DIR
# Makes, once, the WoW64 prefix of the 32-bit stage: the project's prefix settings (scripts/wine-prefix.sh),
# made by wine64 after qemu-i386 is registered, so that 64-bit and 32-bit programs both run in it; and no
# debugger started on a crash, which would take minutes under emulation before the test could fail.
# Prints the prefix's absolute path.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
prefix=$(realpath -m "$1")
# The win64 stage's prefix is a WoW64 prefix already wherever 32-bit Wine is installed: a copy of it saves
# making one more under emulation, which takes minutes.
template=$root/build/wine64
(
    flock 9
    if [ ! -f "$prefix/.zal-ready-3" ] && [ -f "$template/.zal-ready-3" ] &&
        [ -d "$template/drive_c/windows/syswow64" ]; then
        rm -rf "$prefix"
        cp -a "$template" "$prefix"
    fi
) 9>"$prefix.lock"
"$root/scripts/wine-prefix.sh" "$prefix" /usr/lib/wine/wine64 >&2
(
    flock 9
    [ -f "$prefix/.zal-i386-ready" ] && exit 0
    source "$root/scripts/wine-env.sh"
    wine_env "$prefix"
    with_display /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\DllOverrides' /v winedbg.exe /t REG_SZ /d '' /f \
        >/dev/null 2>&1
    /usr/lib/wine/wineserver -w
    touch "$prefix/.zal-i386-ready"
) 9>"$prefix.i386.lock"
printf '%s\n' "$prefix"
