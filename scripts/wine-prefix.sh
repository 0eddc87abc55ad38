#!/usr/bin/env bash
# Usage: wine-prefix.sh PREFIX_DIR [WINE]
# Creates a private Wine prefix once: fonts that stand in for MS Sans Serif and Arial, 96 pixels per inch,
# windows that Wine frames and places itself (the test displays run no window manager, and without one
# hiding a window waits for an answer that never comes), the symbol font that draws the caption's close
# box, and no Mono or Gecko installer (there is no network). Later calls only wait for the first to finish.
set -euo pipefail

prefix=$(realpath -m "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
wine=${2:-/usr/lib/wine/wine64}
mkdir -p "$(dirname "$prefix")"

exec 9>"$prefix.lock"
flock 9
if [ -f "$prefix/.zal-ready-3" ]; then
    exit 0
fi

source "$root/scripts/wine-env.sh"
wine_env "$prefix"
rm -rf "$prefix"
echo "wine-prefix: creating $prefix (once; a few minutes)" >&2
with_display "$wine" wineboot -i >/dev/null 2>&1
reg() { with_display "$wine" reg add "$@" /f >/dev/null 2>&1; }
reg 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS Sans Serif' /t REG_SZ /d 'DejaVu Sans'
reg 'HKCU\Software\Wine\Fonts\Replacements' /v 'Arial' /t REG_SZ /d 'Liberation Sans'
reg 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96
# With no window manager, Wine frames the windows itself (Decorated=N: screenshots would otherwise lack the
# frames and caption bars) and places and sizes them, maximised ones included (Managed=N), instead of
# waiting for a manager that never answers. Every prefix the suites copy from this one inherits both.
reg 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N
reg 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N
reg 'HKCU\Software\Wine\DllOverrides' /v winemenubuilder.exe /t REG_SZ /d ''

# Only Marlett is taken from Debian's package of Wine's own fonts: the package's MS Sans Serif would take
# the place of the stand-in that the layout is measured with.
fonts=$root/build/fonts
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
    cp "$fonts/marlett.ttf" "$prefix/drive_c/windows/Fonts/"
else
    echo "wine-prefix: Marlett is not available; caption buttons will show letters" >&2
fi
"$(dirname "$wine")/wineserver" -w || true
touch "$prefix/.zal-ready-3"
