#!/usr/bin/env bash
# Usage: scripts/demo.sh [--headless] [--no-build] [--build-dir WIN64_DIR] [--tool EXE]
# Installs what is missing, builds, lays out build/demo/ as an installation of ZAL with a staged update
# (ZAL.exe version 1, ZAL.upd version 2, the tool beside them) and starts the tool there under Wine with
# the argument ZAL.exe, as ZAL does. With a display the user presses the button; without one (or with
# --headless) it runs in Xvfb, saves a screenshot of the window, presses Enter itself and reports what
# changed on disk and the tool's exit code.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

headless=0
build=1
tool=
win64=$root/build/win64
while [ $# -gt 0 ]; do
    case $1 in
    --headless) headless=1 ;;
    --no-build) build=0 ;;
    --tool)
        tool=$(realpath "$2")
        shift
        ;;
    --build-dir)
        win64=$(realpath "$2")
        shift
        ;;
    *)
        echo "usage: $0 [--headless] [--no-build] [--build-dir WIN64_DIR] [--tool EXE]" >&2
        exit 2
        ;;
    esac
    shift
done
[ -n "${DISPLAY:-}" ] || headless=1

if [ $build -eq 1 ]; then
    "$root/scripts/setup.sh"
    echo "demo: building the win64 and win32 presets"
    cmake --preset win64 >/dev/null
    cmake --build --preset win64 --target ZALUpdate zal_probe zal_demo_v1 zal_demo_v2
    cmake --preset win32 >/dev/null
    cmake --build --preset win32 --target ZALUpdate
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
    sleep 1 # let it paint
    e2e_screenshot "$E2E_WORK/screen.png"
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
echo "demo: on Windows, install the tool by placing build/win32/ZALUpdate.exe beside ZAL.exe"
[ "$code" = 0 ] && [ $applied -eq 1 ]
