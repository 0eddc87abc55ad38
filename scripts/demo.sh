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
    cmake --build "$win64" --target ZALUpdate zal_probe zal_demo_v1 zal_demo_v2
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
for part in zal_probe zal_demo_v1 zal_demo_v2; do
    [ -f "$win64/tests/e2e/$part.exe" ] || { echo "demo: $win64/tests/e2e/$part.exe is missing" >&2; exit 1; }
done

demo=$root/build/demo
rm -rf "$demo"
mkdir -p "$demo"
cp "$tool" "$demo/ZALUpdate.exe"
cp "$win64/tests/e2e/zal_demo_v1.exe" "$demo/ZAL.exe"
cp "$win64/tests/e2e/zal_demo_v2.exe" "$demo/ZAL.upd"
# The originals, kept aside to tell afterwards what the run changed.
before=$root/build/demo-original
rm -rf "$before"
mkdir -p "$before"
cp -p "$demo/ZAL.exe" "$demo/ZAL.upd" "$before/"

# run_zal: what the installed ZAL.exe says when run (it prints its version).
run_zal() {
    if [ $headless -eq 1 ]; then
        probe_ok launch "cmdline=\"$(winpath "$demo/ZAL.exe")\"" "cwd=$(winpath "$demo")" \
            "out=$(winpath "$E2E_WORK/zal.out")"
        probe_ok waitexit
        tr -d '\r' <"$E2E_WORK/zal.out"
    else
        WINEPREFIX=$root/build/wine64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
            /usr/lib/wine/wine64 "$demo/ZAL.exe" | tr -d '\r'
    fi
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

if [ $headless -eq 1 ]; then
    E2E_BUILD=$win64 E2E_CASE=demo
    source "$root/tests/e2e/lib.sh"
    e2e_start --geometry 1280x1024x24
fi

echo "demo: installation in $demo"
describe "$demo/ZAL.exe"
describe "$demo/ZAL.upd"
echo "  ZAL.exe says: $(run_zal)"

echo "demo: starting ZALUpdate.exe ZAL.exe under Wine"
if [ $headless -eq 0 ]; then
    "$root/scripts/wine-prefix.sh" "$root/build/wine64"
    echo "demo: press the button \"Concluir Atualização\" in the window"
    set +e
    (cd "$demo" && WINEPREFIX=$root/build/wine64 WINEDEBUG=-all \
        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" /usr/lib/wine/wine64 ZALUpdate.exe ZAL.exe)
    code=$?
    set -e
else
    e2e_launch_tool "$demo" ZAL.exe "cwd=$(winpath "$demo")"
    probe_ok waitwin class=TFormPrincipal visible=1 timeout=60000
    form=${R[hwnd]}
    x=${R[x]} y=${R[y]} w=${R[w]} h=${R[h]}
    printf 'demo: window %s "%s", %dx%d at (%d,%d), client %dx%d\n' "${R[class]}" \
        "$(printf '%s' "${R[text]}" | iconv -f CP1252 -t UTF-8)" "$w" "$h" "$x" "$y" "${R[cw]}" "${R[ch]}"
    xid=$(e2e_xwindow "$x" "$y" "$w" "$h")
    # The screenshot waits for the first paint: the gradient's top row and the label's white text.
    painted=0
    for _ in $(seq 50); do
        e2e_screenshot "$E2E_WORK/screen.png"
        if [ "$(e2e_pixel "$E2E_WORK/screen.png" "${R[cx]}" "${R[cy]}")" = "64 128 128" ] &&
            e2e_pixels "$E2E_WORK/screen.png" "${R[cx]}" "${R[cy]}" "${R[cw]}" 40 | grep ' 255 255 255$' >/dev/null; then
            painted=1
            break
        fi
        sleep 0.2
    done
    [ $painted -eq 1 ] || echo "demo: the window did not look painted within 10 s; saving it as it is"
    e2e_crop "$E2E_WORK/screen.png" "$x" "$y" "$w" "$h" "$demo/ZALUpdate-window.png"
    echo "demo: screenshot of the window: $demo/ZALUpdate-window.png"
    echo "demo: pressing Enter"
    probe_ok mark name=press
    e2e_xkey "$xid" Return
    probe_ok waitgone "hwnd=$form" since=press timeout=60000
    echo "demo: the window closed ${R[elapsed_ms]} ms after Enter"
    probe_ok waitexit since=press timeout=60000
    code=${R[code]}
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
if [ $headless -eq 1 ]; then
    e2e_stop
    trap - EXIT
fi
echo "demo: on Windows, install the tool by placing ${win32#"$root"/}/ZALUpdate.exe beside ZAL.exe"
[ "$code" = 0 ] && [ $applied -eq 1 ]
