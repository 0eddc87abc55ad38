#!/usr/bin/env bash
# The tool's two windows as the system reports them: classes, styles, owner, title bytes, geometry and
# placement, icons, focus and the child windows; then the placement on screens smaller than the window.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

start_tool() {
    local dir
    dir=$(e2e_install tool)
    e2e_tool_start "$dir" ZAL.exe
}

test_main_window_class_styles_and_owner() {
    start_tool
    e2e_expect_main_window "$E2E_FORM" "$E2E_APP"
}

test_application_window_is_hidden_in_plain_sight() {
    start_tool
    e2e_expect_application_window "$E2E_APP"
}

test_client_area_487_by_90_centred_on_the_screen() {
    start_tool
    e2e_expect_client_area_centred "$E2E_FORM"
}

test_big_icon_is_MAINICON_on_both_windows() {
    # The main window's class has no icon, so MAINICON there is the WM_SETICON of ICON_BIG.
    start_tool
    e2e_expect_mainicon "$E2E_FORM" "$E2E_APP"
}

test_focus_on_the_button_shown_as_default() {
    start_tool
    e2e_expect_button_focused
    assert_eq "$BUTTON_HEX" "${R[text_hex]}" "focused control's caption"
    assert_eq "$E2E_FORM" "${R[active]}" "active window"
}

test_children_panel_and_button_in_place() {
    start_tool
    local cx=${R[cx]} cy=${R[cy]}
    e2e_expect_button_focused
    e2e_expect_children "$E2E_FORM" "$cx" "$cy"
    assert_eq "$(hex $BS_DEFPUSHBUTTON)" "$(hex "${R[style]} & 0xF")" "button type while focused"
    assert_eq "$(hex $WS_TABSTOP)" "$(hex "${R[style]} & WS_TABSTOP")" "button is a tab stop"
}

e2e_start --geometry 1280x1024x24
e2e_test "main window: class, styles and owner" test_main_window_class_styles_and_owner
e2e_test "application window: zero-sized at the screen centre" test_application_window_is_hidden_in_plain_sight
e2e_test "client area 487 x 90, centred on the screen" test_client_area_487_by_90_centred_on_the_screen
e2e_test "big icon MAINICON on both windows" test_big_icon_is_MAINICON_on_both_windows
e2e_test "focus on the button, shown as default" test_focus_on_the_button_shown_as_default
e2e_test "children: panel filling the client area, button in place" test_children_panel_and_button_in_place
e2e_stop

# A coordinate that centring would make negative becomes 0; the other one is still centred.
placed_on_small_screen() { # EXPECTED_X EXPECTED_Y (a word "centre" computes it)
    start_tool
    local x=${R[x]} y=${R[y]} w=${R[w]} h=${R[h]}
    probe_ok metrics
    local want_x=$1 want_y=$2
    [ "$want_x" = centre ] && want_x=$(((R[cxscreen] - w) / 2))
    [ "$want_y" = centre ] && want_y=$(((R[cyscreen] - h) / 2))
    assert_eq "$want_x $want_y" "$x $y" "position on a ${R[cxscreen]} x ${R[cyscreen]} screen"
    e2e_xwindow "$x" "$y" "$w" "$h" >/dev/null
}

e2e_start --geometry 400x300x24
e2e_test "screen narrower than the window: left edge at 0" placed_on_small_screen 0 centre
e2e_stop

e2e_start --geometry 640x100x24
e2e_test "screen lower than the window: top edge at 0" placed_on_small_screen centre 0
e2e_finish
