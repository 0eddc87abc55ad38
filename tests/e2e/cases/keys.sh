#!/usr/bin/env bash
# The keyboard and the ways of closing the window, typed through X as a user types them: Enter and Space
# press the button; Escape and Tab do not; Alt+F4, WM_CLOSE to the main window and WM_CLOSE to the
# application window (the taskbar button's Close) close it without touching a file. Exit code 0 always.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

# The button was not pressed: the tool still shows its window, and no file changed.
expect_not_pressed() {
    e2e_expect_still_open 1
    e2e_expect_button_focused
    assert_state_unchanged "$DIR" "$BEFORE" "the installation"
}

# Closed by MARK: the window goes, the process ends with 0, and no file changed.
expect_closed_untouched() {
    probe_ok waitgone "hwnd=$E2E_FORM" "since=$1" timeout=10000
    probe_ok waitexit "since=$1" timeout=10000
    assert_eq 0 "${R[code]}" "exit code"
    assert_state_unchanged "$DIR" "$BEFORE" "the installation"
}

press_key_applies_the_update() { # XDOTOOL_KEY
    e2e_start_staged "$1"
    e2e_press "$E2E_FORM" press "$1"
    e2e_expect_close_after press 3000
    assert_zal_updated "$DIR"
}

test_escape_does_nothing() {
    e2e_start_staged escape
    e2e_press "$E2E_FORM" press Escape
    expect_not_pressed
    probe_ok post "hwnd=$E2E_FORM" msg=WM_CLOSE mark=close
    expect_closed_untouched close
}

test_tab_keeps_the_focus_on_the_button() {
    e2e_start_staged tab
    e2e_press "$E2E_FORM" press Tab
    expect_not_pressed
    e2e_press "$E2E_FORM" press shift+Tab
    expect_not_pressed
    probe_ok post "hwnd=$E2E_FORM" msg=WM_CLOSE mark=close
    expect_closed_untouched close
}

test_alt_f4_closes_untouched() {
    e2e_start_staged altf4
    e2e_press "$E2E_FORM" close alt+F4
    expect_closed_untouched close
}

test_wm_close_to_the_main_window_closes_untouched() {
    e2e_start_staged close-form
    probe_ok post "hwnd=$E2E_FORM" msg=WM_CLOSE mark=close
    expect_closed_untouched close
}

test_wm_close_to_the_application_window_closes_untouched() {
    e2e_start_staged close-app
    probe_ok post "hwnd=$E2E_APP" msg=WM_CLOSE mark=close
    expect_closed_untouched close
}

e2e_start --geometry 1280x1024x24
e2e_test "Enter presses the button" press_key_applies_the_update Return
e2e_test "Space presses the button" press_key_applies_the_update space
e2e_test "Escape does nothing" test_escape_does_nothing
e2e_test "Tab and Shift+Tab keep the focus on the button" test_tab_keeps_the_focus_on_the_button
e2e_test "Alt+F4: closed, no file touched" test_alt_f4_closes_untouched
e2e_test "WM_CLOSE to the main window: closed, no file touched" \
    test_wm_close_to_the_main_window_closes_untouched
e2e_test "WM_CLOSE to the application window: closed, no file touched" \
    test_wm_close_to_the_application_window_closes_untouched
e2e_finish
