#!/usr/bin/env bash
# The demo: ZAL handing an update to ZALUpdate, and ZALUpdate completing it, under Wine. See usage below.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

usage() {
    cat <<'EOF_USAGE'
Usage: scripts/demo.sh [--headless] [--no-build] [--build-dir WIN64_DIR] [--win32-build-dir WIN32_DIR]
                       [--tool EXE]

Installs what is missing (apt-get), builds the tool and a stand-in for ZAL (demo/ZalStandIn.cpp), lays
out build/demo/ as an installation of ZAL (ZAL.exe version 1, ZALUpdate.exe beside it) and
build/demo-download/ with the new ZAL.exe (version 2), as ZAL would have downloaded it. Then, under Wine,
version 1 stages the download safely as build/demo/ZAL.upd (written under another name, flushed, renamed),
starts "ZALUpdate.exe ZAL.exe" through the shell, as ZAL must on Windows, and exits.

With a display, the tool's window opens: press "Concluir Atualização" (or Enter). Without one (no
DISPLAY), or with --headless, the demo runs in a private Xvfb, saves a PNG screenshot of the window and
prints its path, and presses Enter itself. Either way it then reports what changed on disk and runs
ZAL.exe again, which is now version 2.

  --headless            run in Xvfb even when there is a display
  --no-build            use what is built already
  --build-dir DIR       the win64 build to make and use (default build/win64)
  --win32-build-dir DIR the 32-bit deliverable's build (default build/win32)
  --tool EXE            run this ZALUpdate.exe instead of the built one
  -h, --help            this text

Exit status 0 when ZAL staged the update and started the tool, the update was applied, and ZAL.exe
then says it is version 2.
EOF_USAGE
}

headless=0
build=1
tool=
win64=$root/build/win64
win32=$root/build/win32
while [ $# -gt 0 ]; do
    case $1 in
    --headless) headless=1 ;;
    --no-build) build=0 ;;
    --tool | --build-dir | --win32-build-dir)
        [ $# -ge 2 ] || { usage >&2; exit 2; }
        case $1 in
        --tool) tool=$(realpath "$2") ;;
        --build-dir) win64=$(realpath -m "$2") ;;
        --win32-build-dir) win32=$(realpath -m "$2") ;;
        esac
        shift
        ;;
    -h | --help)
        usage
        exit 0
        ;;
    *)
        usage >&2
        exit 2
        ;;
    esac
    shift
done
[ -n "${DISPLAY:-}" ] || headless=1

if [ $build -eq 1 ]; then
    "$root/scripts/setup.sh"
    echo "demo: building the tool (win64 in $win64, the 32-bit deliverable in $win32)"
    cmake --preset win64 -B "$win64" >/dev/null
    cmake --build "$win64" --target ZALUpdate zal_demo_v1 zal_demo_v2
    cmake --preset win32 -B "$win32" >/dev/null
    cmake --build "$win32" --target ZALUpdate
fi

if [ -z "$tool" ]; then
    for candidate in "$win64/ZALUpdate.exe" "$win64/app/ZALUpdate.exe"; do
        [ -f "$candidate" ] && tool=$candidate && break
    done
fi
if [ -z "$tool" ] || [ ! -f "$tool" ]; then
    echo "demo: no ZALUpdate.exe in $win64 (build it first)" >&2
    exit 1
fi
for part in zal_demo_v1 zal_demo_v2; do
    [ -f "$win64/demo/$part.exe" ] || { echo "demo: $win64/demo/$part.exe is missing" >&2; exit 1; }
done

demo=$root/build/demo
download=$root/build/demo-download
before=$root/build/demo-original
rm -rf "$demo" "$download" "$before"
mkdir -p "$demo" "$download" "$before"
cp "$tool" "$demo/ZALUpdate.exe"
cp "$win64/demo/zal_demo_v1.exe" "$demo/ZAL.exe"
cp "$win64/demo/zal_demo_v2.exe" "$download/ZAL.exe"
# Version 1 as installed, kept aside to tell afterwards what the run changed.
cp -p "$demo/ZAL.exe" "$before/"

# The demo's Wine session runs in a prefix of its own, a copy of the project's, so that it starts on the
# demo's own display even while a test holds a session in the project's prefix.
wine=/usr/lib/wine/wine64
source "$root/scripts/wine-env.sh"
source "$root/scripts/xvfb.sh"
prefix=$("$root/scripts/wine-prefix.sh" "$root/build/demo-wine64")
wine_env "$prefix"
cleanup() {
    "$(dirname "$wine")/wineserver" -k 2>/dev/null || true # the demo prefix's server only
    stop_xvfb
}
trap cleanup EXIT
if [ $headless -eq 1 ]; then
    start_xvfb 1280x1024x24
fi

# run_zal [ARGUMENTS...]: runs the installed ZAL.exe and shows what it says (first its version); returns
# its exit status. Its output goes through a file: a pipe would stay open as long as the tool that ZAL
# starts, which inherits it, runs.
run_zal() {
    local out=$root/build/demo-zal.txt status=0
    (cd "$demo" && "$wine" ZAL.exe "$@" >"$out" </dev/null) || status=$?
    tr -d '\r' <"$out" | sed 's/^/  /'
    return $status
}

# wait_for_wine: until every program of the demo's Wine session has ended (the tool that ZAL started);
# without a user at the window, for two minutes at most.
wait_for_wine() {
    if [ $headless -eq 1 ]; then
        timeout 120 "$(dirname "$wine")/wineserver" -w
    else
        "$(dirname "$wine")/wineserver" -w
    fi
}

describe() { # FILE: its path under build/, size and short hash, or that it is gone
    local file=$1 name=${1#"$root"/build/}
    if [ -f "$file" ]; then
        printf '  %-21s %8d bytes  sha256 %.12s\n' "$name" "$(stat -c %s "$file")" \
            "$(sha256sum "$file" | cut -d' ' -f1)"
    else
        printf '  %-21s (absent)\n' "$name"
    fi
}

# tool_window: "XID X Y W H" of the tool's main window once X shows it. The tool's two windows carry the
# same title; the application window is the one of no size (1 x 1 in X).
tool_window() {
    local id found=
    for id in $(xdotool search --onlyvisible --name '^Atualiza' 2>/dev/null); do
        local X= Y= WIDTH= HEIGHT= SCREEN= WINDOW=
        eval "$(xdotool getwindowgeometry --shell "$id" 2>/dev/null)"
        if [ "${WIDTH:-0}" -gt 1 ] && [ "${HEIGHT:-0}" -gt 1 ]; then
            found="$id $X $Y $WIDTH $HEIGHT"
        fi
    done
    [ -n "$found" ] && printf '%s\n' "$found"
}

# colours PNG: the colours of a picture as "R,G,B" lines, each once.
colours() {
    convert "$1" -depth 8 -format %c histogram:info:- | sed -n 's/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\)).*/\1,\2,\3/p'
}

echo "demo: installation in $demo, the downloaded version in $download"
describe "$demo/ZAL.exe"
describe "$download/ZAL.exe"
echo "demo: ZAL.exe, run as installed:"
run_zal

echo "demo: ZAL.exe stages the download and starts the tool (ZAL.exe --update-from ...)"
staged=0
run_zal --update-from "Z:${download//\//\\}\\ZAL.exe" || staged=$?
describe "$demo/ZAL.upd"
if [ "$staged" != 0 ] || [ ! -f "$demo/ZAL.upd" ]; then
    echo "demo: ZAL did not stage its update and start the tool (exit status $staged)" >&2
    exit 1
fi
if [ $headless -eq 0 ]; then
    echo "demo: press the button \"Concluir Atualização\" in the window"
else
    window=
    for _ in $(seq 600); do
        window=$(tool_window) && break
        sleep 0.1
    done
    if [ -z "$window" ]; then
        echo "demo: the tool's window did not show within 60 s" >&2
        exit 1
    fi
    read -r xid x y w h <<<"$window"
    echo "demo: window \"Atualização do ZAL\", ${w}x${h} at ($x,$y)"
    # The screenshot waits for the first paint: the gradient's first band and the label's white text.
    shot=$root/build/demo-screen.png
    painted=0
    for _ in $(seq 50); do
        import -window root "png:$shot"
        convert "$shot" -crop "${w}x${h}+${x}+${y}" +repage "png:$demo/ZALUpdate-window.png"
        if colours "$demo/ZALUpdate-window.png" | grep -qx '64,128,128' &&
            colours "$demo/ZALUpdate-window.png" | grep -qx '255,255,255'; then
            painted=1
            break
        fi
        sleep 0.2
    done
    [ $painted -eq 1 ] || echo "demo: the window did not look painted within 10 s; saving it as it is"
    echo "demo: screenshot of the window: $demo/ZALUpdate-window.png"
    echo "demo: pressing Enter"
    xdotool windowfocus --sync "$xid"
    pressed=$(date +%s%N)
    xdotool key Return
    for _ in $(seq 600); do
        tool_window >/dev/null || break
        sleep 0.05
    done
    echo "demo: the window closed $((($(date +%s%N) - pressed) / 1000000)) ms after Enter"
fi
# The tool is ZAL's child, not the demo's: the demo waits for the session to end instead.
wait_for_wine
echo "demo: ZALUpdate.exe has ended"

echo "demo: after the run"
describe "$demo/ZAL.exe"
describe "$demo/ZAL.upd"
applied=0
if cmp -s "$demo/ZAL.exe" "$download/ZAL.exe" && [ ! -e "$demo/ZAL.upd" ]; then
    echo "demo: ZAL.exe now holds the downloaded version 2 and ZAL.upd is gone: the update was applied"
    applied=1
elif cmp -s "$demo/ZAL.exe" "$before/ZAL.exe"; then
    echo "demo: ZAL.exe is unchanged: the update was not applied"
else
    echo "demo: ZAL.exe changed, but not into the downloaded version"
fi
echo "demo: ZAL.exe, run after the update:"
says=$(run_zal)
printf '%s\n' "$says"
echo "demo: on Windows, install the tool by placing ${win32#"$root"/}/ZALUpdate.exe beside ZAL.exe"
[ $applied -eq 1 ] && [ "$says" = "  ZAL version 2" ]
