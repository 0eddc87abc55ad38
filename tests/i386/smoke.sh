#!/usr/bin/env bash
# The 32-bit tool end to end, in ONE run of it, since every start of a 32-bit program costs about a minute
# under emulation: its two windows (classes, styles, the 487 x 90 client area, the children, the icon, the
# gradient), then the locked target (the error box, nothing lost, the window still open), then the same
# button completing the update once the file is free, and the exit code 0.
#
# Environment: I386_WIN32_BUILD (the tool's build), I386_WIN64_BUILD (the probe's) and I386_PREFIX (the
# WoW64 prefix). The 64-bit probe runs fast under wine64 and starts the 32-bit tool through the 32-bit
# loader; both share the WoW64 prefix's Wine session.
set -euo pipefail

: "${I386_WIN32_BUILD:?}" "${I386_WIN64_BUILD:?}" "${I386_PREFIX:?}"
export E2E_BUILD=$I386_WIN32_BUILD
export E2E_PROBE_EXE=$I386_WIN64_BUILD/tests/e2e/zal_probe.exe
export E2E_CASE=i386-smoke
source "$(dirname "$0")/../e2e/lib.sh"

# The session's prefix is the WoW64 one itself: the suite's usual prefixes are copies of the 64-bit prefix,
# which cannot run 32-bit programs.
e2e_prefix() {
    "$E2E_ROOT/tests/i386/prefix.sh" "$I386_PREFIX"
}

START_MS=240000 # the first window of a 32-bit program shows after about a minute of emulation
SLOW_MS=60000
ERROR_ACCESS_DENIED=5
ERROR_SHARING_VIOLATION=32

# box_text TEXT: the error box's text for a system message: a full stop is added when the message ends in a
# byte that sorts after it.
box_text() {
    local text=$1
    if [ -n "$text" ] && [ "$(printf '%s' "${text: -1}" | od -An -tu1 | tr -d ' ')" -gt 46 ]; then
        text+=.
    fi
    printf '%s' "$text"
}

focus_on_default_button() { probe_ok focus && [ "${R[class]} ${R[defpush]}" = "TButton 1" ]; }

check_windows() {
    probe_ok window "hwnd=$FORM"
    assert_eq TFormPrincipal "${R[class]}" "class"
    assert_eq "$(hex "FORM_STYLE | WS_VISIBLE")" "$(hex "${R[style]}")" "main window style"
    assert_eq 0x00000080 "$(hex "${R[exstyle]} & ~WS_EX_WINDOWEDGE")" "extended style (WS_EX_TOOLWINDOW)"
    assert_eq "$(hex $CS_DBLCLKS)" "$(hex "${R[classstyle]}")" "class style"
    assert_eq "$APP" "${R[owner]}" "owner"
    assert_eq "$TITLE_HEX" "${R[text_hex]}" "caption bytes"
    assert_eq "487 90" "${R[cw]} ${R[ch]}" "client area"
    local style=${R[style]} exstyle=${R[exstyle]} x=${R[x]} y=${R[y]} w=${R[w]} h=${R[h]} cx=${R[cx]} cy=${R[cy]}
    probe_ok adjust "style=$style" "exstyle=$exstyle" w=487 h=90
    assert_eq "${R[w]} ${R[h]}" "$w $h" "outer size from AdjustWindowRectEx"
    probe_ok metrics
    local screen_w=${R[cxscreen]} screen_h=${R[cyscreen]}
    assert_eq "$(((screen_w - w) / 2)) $(((screen_h - h) / 2))" "$x $y" "position centred on the screen"

    probe_ok window "hwnd=$APP"
    assert_eq TApplication "${R[class]}" "application window class"
    assert_eq "$(hex "APP_STYLE | WS_VISIBLE")" "$(hex "${R[style]}")" "application window style"
    assert_eq 0x00000000 "$(hex "${R[exstyle]} & ~WS_EX_WINDOWEDGE")" "application window extended style"
    assert_eq "$((screen_w / 2)) $((screen_h / 2)) 0 0" "${R[x]} ${R[y]} ${R[w]} ${R[h]}" \
        "application window x y w h"
    assert_eq "$TITLE_HEX" "${R[text_hex]}" "title bytes"

    e2e_expect_children "$FORM" "$cx" "$cy"
    # The system moves the focus first; the button takes the default look in its own WM_SETFOCUS, which under
    # emulation can come a while later.
    e2e_wait_for 30 "the focus on the button, shown as default" focus_on_default_button

    # Wine publishes a window's big icon (WM_SETICON) or else its class icon as the X window's icon.
    e2e_icon_matches "$(e2e_xwindow_of "$FORM")" "$E2E_ROOT/app/MAINICON.ico"
    e2e_icon_matches "$(e2e_xwindow_of "$APP")" "$E2E_ROOT/app/MAINICON.ico"

    e2e_label_ink -13
    e2e_check_picture "$FORM" --exclude "19,9,$LABEL_W,$LABEL_H" --exclude 159,47,169,28
    assert_eq 0 "$(e2e_check_value differences)" \
        "gradient pixels unlike the band model ($(grep -m1 '^diff' <<<"$CHECK" || true))"
}

check_locked_target() {
    local dir=$1 before=$2 expected_texts=()
    probe_ok errtext code=$ERROR_ACCESS_DENIED
    expected_texts+=("$(box_text "${R[text]}")")
    probe_ok errtext code=$ERROR_SHARING_VIOLATION
    expected_texts+=("$(box_text "${R[text]}")")

    probe_ok lock "path=$(winpath "$dir/ZAL.exe")"
    local lock=${R[id]}
    e2e_press "$FORM" press Return
    probe_ok msgbox timeout=$SLOW_MS
    local box=${R[hwnd]} class=${R[class]} owner=${R[owner]} caption=${R[text_hex]} message=${R[message]}
    local -a buttons
    mapfile -t buttons < <(probe_records button)
    probe_ok time since=press
    assert_ge "${R[elapsed_ms]}" 5000 "ms from the press until the box (the tool waits the file out first)"
    assert_eq "#32770 $APP" "$class $owner" "class and owner of the box"
    assert_eq "$TITLE_HEX" "$caption" "caption bytes of the box"
    [ "$message" = "${expected_texts[0]}" ] || [ "$message" = "${expected_texts[1]}" ] ||
        e2e_fail "text of the box: '$message' is the system's text for neither error $ERROR_ACCESS_DENIED" \
            "nor error $ERROR_SHARING_VIOLATION"
    assert_eq 1 "${#buttons[@]}" "buttons in the box"
    e2e_record "${buttons[0]}"
    assert_eq 1 "${R[id]}" "the box's button is IDOK"
    assert_state_unchanged "$dir" "$before" "the installation while the box shows"
    probe_ok window "hwnd=$FORM"
    assert_eq "1 0" "${R[visible]} ${R[enabled]}" "main window visible, enabled while the box shows"

    probe_ok dlgpress "hwnd=$box" id=IDOK
    probe_ok waitgone "hwnd=$box" timeout=$SLOW_MS
    sleep 1
    probe_ok status
    assert_eq 1 "${R[running]}" "the tool still running after the box"
    probe_ok window "hwnd=$FORM"
    assert_eq "1 1" "${R[visible]} ${R[enabled]}" "main window visible, enabled after the box"
    assert_state_unchanged "$dir" "$before" "the installation after the box: staged copy kept, no temporary file"
    assert_names "$dir" ZALUpdate.exe ZAL.exe ZAL.upd
    probe_ok unlock "id=$lock"
}

check_update_completes() {
    local dir=$1
    e2e_press "$FORM" again Return
    probe_ok waitgone "hwnd=$FORM" since=again timeout=$SLOW_MS
    assert_ge "${R[elapsed_ms]}" 3000 "ms from the press until the window went"
    probe_ok waitexit since=again timeout=$SLOW_MS
    assert_eq 0 "${R[code]}" "exit code"
    assert_same_file "$dir/ZAL.exe" "$dir.orig/ZAL.upd"
    assert_names "$dir" ZALUpdate.exe ZAL.exe
}

test_one_run_of_the_32_bit_tool() {
    local dir before
    dir=$(e2e_install tool)
    assert_match ' machine=i386 ' "$(python3 "$E2E_ROOT/scripts/pe.py" "$dir/ZALUpdate.exe")" \
        "the tool under test is built for i386"
    e2e_put "$dir" ZAL.exe ZAL.upd
    before=$(e2e_state "$dir")
    local launched=$SECONDS
    e2e_launch_tool "$dir" ZAL.exe
    probe_ok waitwin class=TApplication timeout=$START_MS
    APP=${R[hwnd]}
    probe_ok waitwin class=TFormPrincipal visible=1 timeout=$SLOW_MS
    FORM=${R[hwnd]}
    e2e_log "window shown $((SECONDS - launched)) s after the launch"

    check_windows
    e2e_log "windows, children, icon and gradient checked"
    check_locked_target "$dir" "$before"
    e2e_log "locked target: error box shown, nothing lost"
    check_update_completes "$dir"
    e2e_log "update completed with Enter, exit code 0"
}

e2e_start --geometry 1280x1024x24
e2e_test "32-bit tool: windows, locked target, then the update" test_one_run_of_the_32_bit_tool
e2e_finish
