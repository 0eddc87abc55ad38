#!/usr/bin/env bash
# The demo: ZALUpdate completing an update of ZAL, under Wine. See usage below.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

usage() {
    cat <<'EOF_USAGE'
Usage: scripts/demo.sh [--headless] [--no-build] [--build-dir WIN64_DIR] [--win32-build-dir WIN32_DIR]
                       [--tool EXE]

Installs what is missing (apt-get), builds the tool, lays out build/demo/ as an installation of ZAL with
a staged update (ZAL.exe version 1, ZAL.upd version 2, ZALUpdate.exe beside them) and starts the tool
there under Wine with the argument ZAL.exe, as ZAL does.

With a display, the window opens: press "Concluir Atualização" (or Enter). Without one (no DISPLAY), or
with --headless, the demo runs the tool in a private Xvfb, saves a PNG screenshot of the window and prints
its path, presses Enter itself, and reports what changed on disk and the tool's exit code.

  --headless            run in Xvfb even when there is a display
  --no-build            use what is built already
  --build-dir DIR       the win64 build to make and use (default build/win64)
  --win32-build-dir DIR the 32-bit deliverable's build (default build/win32)
  --tool EXE            run this ZALUpdate.exe instead of the built one
  -h, --help            this text

Exit status 0 when the update was applied and the tool exited with code 0.
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
rm -rf "$demo"
mkdir -p "$demo"
cp "$tool" "$demo/ZALUpdate.exe"
cp "$win64/demo/zal_demo_v1.exe" "$demo/ZAL.exe"
cp "$win64/demo/zal_demo_v2.exe" "$demo/ZAL.upd"
# The originals, kept aside to tell afterwards what the run changed.
before=$root/build/demo-original
rm -rf "$before"
mkdir -p "$before"
cp -p "$demo/ZAL.exe" "$demo/ZAL.upd" "$before/"

# The demo's Wine session runs in a fresh copy of the project's prefix, so that it starts on the demo's own
# display even while a test holds a session in the project's prefix.
wine=/usr/lib/wine/wine64
source "$root/scripts/wine-env.sh"
source "$root/scripts/xvfb.sh"
"$root/scripts/wine-prefix.sh" "$root/build/wine64" "$wine"
prefix=$root/build/demo-wine64
rm -rf "$prefix"
cp -a "$root/build/wine64" "$prefix"
wine_env "$prefix"
cleanup() {
    "$(dirname "$wine")/wineserver" -k 2>/dev/null || true # the demo prefix's server only
    stop_xvfb
}
trap cleanup EXIT
if [ $headless -eq 1 ]; then
    start_xvfb 1280x1024x24
fi

# run_zal: what the installed ZAL.exe says when run (it prints its version).
run_zal() {
    (cd "$demo" && "$wine" ZAL.exe) | tr -d '\r'
}

describe() { # FILE: size, short hash and what the program says, or that it is gone
    local file=$1
    if [ -f "$file" ]; then
        printf '  %-8s %8d bytes  sha256 %.12s\n' "$(basename "$file")" "$(stat -c %s "$file")" \
            "$(sha256sum "$file" | cut -d' ' -f1)"
    else
        printf '  %-8s (absent)\n' "$(basename "$file")"
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

echo "demo: installation in $demo"
describe "$demo/ZAL.exe"
describe "$demo/ZAL.upd"
echo "  ZAL.exe says: $(run_zal)"

echo "demo: starting ZALUpdate.exe ZAL.exe under Wine"
if [ $headless -eq 0 ]; then
    echo "demo: press the button \"Concluir Atualização\" in the window"
    set +e
    (cd "$demo" && "$wine" ZALUpdate.exe ZAL.exe)
    code=$?
    set -e
else
    (cd "$demo" && exec "$wine" ZALUpdate.exe ZAL.exe) &
    tool_pid=$!
    window=
    for _ in $(seq 600); do
        window=$(tool_window) && break
        kill -0 "$tool_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$window" ]; then
        echo "demo: the tool's window did not show within 60 s" >&2
        kill "$tool_pid" 2>/dev/null || true
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
    set +e
    wait "$tool_pid"
    code=$?
    set -e
fi

echo "demo: ZALUpdate.exe exited with code $code"
echo "demo: after the run"
describe "$demo/ZAL.exe"
describe "$demo/ZAL.upd"
echo "  ZAL.exe says: $(run_zal)"
applied=0
if cmp -s "$demo/ZAL.exe" "$before/ZAL.upd" && [ ! -e "$demo/ZAL.upd" ]; then
    echo "demo: ZAL.exe now holds the staged version 2 and ZAL.upd is gone: the update was applied"
    applied=1
elif cmp -s "$demo/ZAL.exe" "$before/ZAL.exe"; then
    echo "demo: ZAL.exe is unchanged: the update was not applied"
else
    echo "demo: ZAL.exe changed, but not into the staged copy"
fi
echo "demo: on Windows, install the tool by placing ${win32#"$root"/}/ZALUpdate.exe beside ZAL.exe"
[ "$code" = 0 ] && [ $applied -eq 1 ]
