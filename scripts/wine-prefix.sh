#!/usr/bin/env bash
# Usage: wine-prefix.sh PREFIX_DIR [--dpi N] [--relay FUNCTIONS] [--no-debugger] [--wow64]
# The one maker of the project's Wine prefixes; prints the prefix's absolute path.
#
# build/wine64, the project's prefix, is made from nothing, once: fonts that stand in for MS Sans Serif and
# Arial, 96 pixels per inch, windows that Wine frames and places itself (the test displays run no window
# manager, and without one hiding a window waits for an answer that never comes), the symbol font that
# draws the caption's close box, and no Mono or Gecko installer (there is no network). Every other prefix is
# a copy of it with settings of its own, which takes a second instead of minutes:
#   --dpi N             the screen's logical resolution (LogPixels)
#   --relay FUNCTIONS   the calls that a process started with WINEDEBUG=+relay traces (RelayInclude)
#   --no-debugger       no debugger started on a crash, which takes minutes under emulation
#   --wow64             the prefix must run 32-bit programs too: the project's prefix is one where 32-bit
#                       Wine is installed; made from nothing otherwise
# A prefix whose marker names other settings is made again, but only while no session holds
# PREFIX_DIR.session.lock (the end-to-end suites hold it for a session); later calls with the same settings
# wait for the first to finish and change nothing.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$(realpath -m "$1")
shift
dpi=96 relay= debugger=1 wow64=0
while [ $# -gt 0 ]; do
    case $1 in
    --dpi) dpi=$2 && shift ;;
    --relay) relay=$2 && shift ;;
    --no-debugger) debugger=0 ;;
    --wow64) wow64=1 ;;
    *) echo "wine-prefix: unknown option $1" >&2 && exit 2 ;;
    esac
    shift
done
# The tests give a stand-in, with its wineserver beside it.
wine=${ZAL_WINE64:-/usr/lib/wine/wine64}
base=$root/build/wine64
# Bumped whenever what a prefix holds changes, so that old prefixes are made again.
settings="version=5 dpi=$dpi relay=$relay debugger=$debugger wow64=$wow64"
marker=.zal-prefix

source "$root/scripts/wine-env.sh"
reg() { with_display "$wine" reg add "$@" /f >/dev/null 2>&1; }

make_from_nothing() { # DIR
    local made=$1
    echo "wine-prefix: creating $made (once; a few minutes)" >&2
    rm -rf "$made"
    wine_env "$made"
    with_display "$wine" wineboot -i >/dev/null 2>&1
    reg 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS Sans Serif' /t REG_SZ /d 'DejaVu Sans'
    reg 'HKCU\Software\Wine\Fonts\Replacements' /v 'Arial' /t REG_SZ /d 'Liberation Sans'
    reg 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96
    # With no window manager, Wine frames the windows itself (Decorated=N: screenshots would otherwise lack
    # the frames and caption bars) and places and sizes them, maximised ones included (Managed=N), instead
    # of waiting for a manager that never answers. Every copy inherits both.
    reg 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N
    reg 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N
    reg 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /t REG_SZ /d ''
    # Only Marlett is taken from Debian's package of Wine's own fonts: the package's MS Sans Serif would
    # take the place of the stand-in that the layout is measured with.
    local fonts=$root/build/fonts download
    if [ ! -f "$fonts/marlett.ttf" ]; then
        download=$(mktemp -d)
        if (cd "$download" && apt-get download fonts-wine >/dev/null 2>&1) &&
            dpkg-deb -x "$download"/fonts-wine_*.deb "$download/package"; then
            mkdir -p "$fonts"
            cp "$download/package/usr/share/wine/fonts/marlett.ttf" "$fonts/"
        fi
        rm -rf "$download"
    fi
    if [ -f "$fonts/marlett.ttf" ]; then
        cp "$fonts/marlett.ttf" "$made/drive_c/windows/Fonts/"
    else
        echo "wine-prefix: Marlett is not available; caption buttons will show letters" >&2
    fi
    "$(dirname "$wine")/wineserver" -w || true
}

# The project's prefix first, under its own lock; a WoW64 prefix wanted where it cannot run 32-bit programs
# is made from nothing below instead. A fresh clone has no build directory yet.
base_settings="version=5 dpi=96 relay= debugger=1 wow64=0"
mkdir -p "$(dirname "$base")" "$(dirname "$prefix")"
(
    flock 9
    [ "$(cat "$base/$marker" 2>/dev/null)" = "$base_settings" ] && exit 0
    make_from_nothing "$base"
    echo "$base_settings" >"$base/$marker"
) 9>"$base.lock"
[ "$prefix" = "$base" ] && [ "$settings" = "$base_settings" ] && { printf '%s\n' "$prefix"; exit 0; }

(
    flock 9
    [ "$(cat "$prefix/$marker" 2>/dev/null)" = "$settings" ] && exit 0
    exec 8>"$prefix.session.lock"
    flock 8
    echo "wine-prefix: making $prefix ($settings)" >&2
    rm -rf "$prefix"
    if [ "$wow64" = 1 ] && [ ! -d "$base/drive_c/windows/syswow64" ]; then
        # The project's prefix was made before 32-bit Wine was installed.
        make_from_nothing "$prefix"
    else
        # Safe while others use the project's prefix: Wine replaces its registry files whole.
        cp -a "$base" "$prefix"
        rm -f "$prefix/$marker"
    fi
    wine_env "$prefix"
    "$(dirname "$wine")/wineserver" -w || true
    [ "$dpi" = 96 ] || reg 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi"
    [ -z "$relay" ] || reg 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d "$relay"
    [ "$debugger" = 1 ] || reg 'HKCU\Software\Wine\DllOverrides' /v winedbg.exe /t REG_SZ /d ''
    "$(dirname "$wine")/wineserver" -w || true
    # Made by 32-bit Wine: missing, it did not run while the prefix was made, and nothing 32-bit will.
    if [ "$wow64" = 1 ] && [ ! -d "$prefix/drive_c/windows/syswow64" ]; then
        echo "wine-prefix: $prefix has no syswow64: 32-bit Wine did not run while it was made" >&2
        exit 1
    fi
    echo "$settings" >"$prefix/$marker"
) 9>"$prefix.lock"
printf '%s\n' "$prefix"
