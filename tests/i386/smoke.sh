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
ERROR_SHARING_VIOLATION=32 # the installed file held with no sharing refuses to be opened for deletion

check_windows() {
    e2e_expect_main_window "$E2E_FORM" "$E2E_APP"
    local cx=${R[cx]} cy=${R[cy]}
    e2e_expect_client_area_centred "$E2E_FORM"
    e2e_expect_application_window "$E2E_APP"
    e2e_expect_children "$E2E_FORM" "$cx" "$cy"
    # The system moves the focus first; the button takes the default look in its own WM_SETFOCUS, which under
    # emulation can come a while later.
    e2e_expect_button_focused 30
    e2e_expect_mainicon "$E2E_FORM" "$E2E_APP"
    e2e_check_form_picture "$E2E_FORM"
    assert_eq 0 "$(e2e_check_value differences)" \
        "gradient pixels unlike the band model ($(grep -m1 '^diff' <<<"$CHECK" || true))"
}

check_locked_target() {
    local dir=$1 before=$2 expected
    expected=$(e2e_system_box_text $ERROR_SHARING_VIOLATION)
    probe_ok lock "path=$(winpath "$dir/ZAL.exe")"
    local lock=${R[id]}
    e2e_press "$E2E_FORM" press Return
    e2e_expect_error_box "$dir" "$before" press 5000 $SLOW_MS "$expected"
    assert_names "$dir" ZALUpdate.exe ZAL.exe ZAL.upd
    probe_ok unlock "id=$lock"
}

check_update_completes() {
    local dir=$1
    e2e_press "$E2E_FORM" again Return
    probe_ok waitgone "hwnd=$E2E_FORM" since=again timeout=$SLOW_MS
    assert_ge "${R[elapsed_ms]}" 3000 "ms from the press until the window went"
    probe_ok waitexit since=again timeout=$SLOW_MS
    assert_eq 0 "${R[code]}" "exit code"
    assert_zal_updated "$dir"
}

test_one_run_of_the_32_bit_tool() {
    local dir before
    dir=$(e2e_install tool)
    assert_match ' machine=i386 ' "$(python3 "$E2E_ROOT/scripts/pe.py" "$dir/ZALUpdate.exe")" \
        "the tool under test is built for i386"
    e2e_put "$dir" ZAL.exe ZAL.upd
    before=$(e2e_state "$dir")
    local launched=$SECONDS
    # Wine's CreateProcessA returns only once the 32-bit loader runs under emulation, which may alone take
    # longer than the probe's usual answer; the launch shares the first window's allowance.
    e2e_launch_tool "$dir" ZAL.exe timeout=$START_MS
    probe_ok waitwin class=TApplication timeout=$START_MS
    E2E_APP=${R[hwnd]}
    probe_ok waitwin class=TFormPrincipal visible=1 timeout=$SLOW_MS
    E2E_FORM=${R[hwnd]}
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
