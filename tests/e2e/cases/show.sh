#!/usr/bin/env bash
# The show command ZAL starts the tool with: maximised, the panel fills the larger client area and the
# button keeps its place from the top-left corner; minimised without activation, only the application
# window shows, minimised, until the tool is restored, and then the main window shows centred. And with no
# display at all, where no window can be made, the tool ends quietly with exit code 0 and touches nothing.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

is_zoomed_over_screen() {
    probe_ok window "hwnd=$E2E_FORM" &&
        [ "${R[zoomed]}" = 1 ] && [ "${R[cx]}" -le 0 ] && [ $((R[cx] + R[cw])) -ge "$SCREEN_W" ]
}

is_iconic() { probe_ok window "hwnd=$1" && [ "${R[iconic]}" = 1 ]; }

screen_size() {
    probe_ok metrics
    SCREEN_W=${R[cxscreen]} SCREEN_H=${R[cyscreen]}
}

test_maximised_panel_fills_and_button_stays() {
    screen_size
    local dir
    dir=$(e2e_install maximised)
    e2e_launch_tool "$dir" ZAL.exe show=SW_SHOWMAXIMIZED
    probe_ok waitwin class=TFormPrincipal visible=1
    E2E_FORM=${R[hwnd]}
    e2e_wait_for 10 "the window maximised over the screen" is_zoomed_over_screen
    # It stays so: nothing the tool does afterwards takes the size back.
    sleep 1
    is_zoomed_over_screen || e2e_fail "the window did not stay maximised: ${PROBE_LINES[0]}"
    local cx=${R[cx]} cy=${R[cy]} cw=${R[cw]} ch=${R[ch]}
    assert_ge "$cw" "$SCREEN_W" "client width"
    assert_ge $((cy + ch)) "$SCREEN_H" "client bottom"
    probe_ok children "hwnd=$E2E_FORM"
    local -a children
    mapfile -t children < <(probe_records child)
    e2e_record "${children[0]}"
    assert_eq TShader "${R[class]}" "first child"
    assert_eq "0 0 $cw $ch" "$((R[x] - cx)) $((R[y] - cy)) ${R[w]} ${R[h]}" "panel in the client area"
    e2e_record "${children[1]}"
    assert_eq TButton "${R[class]}" "second child"
    assert_eq "159 47 169 28" "$((R[x] - cx)) $((R[y] - cy)) ${R[w]} ${R[h]}" "button in the client area"
    # The panel paints the whole of it, the gradient of the larger height across the full width, and the
    # label's text keeps its place as well.
    e2e_check_form_picture "$E2E_FORM"
    assert_eq "$cw $ch" "$CW $CH" "client area in the screenshot"
    assert_eq 0 "$(e2e_check_value differences)" "pixels of the maximised client area unlike the model"
    assert_eq 0 "$(e2e_check_value white_mismatches)" "label pixels unlike its text at (19, 9)"
}

test_minimised_shows_only_the_application_window() {
    screen_size
    local dir
    dir=$(e2e_install minimised)
    e2e_launch_tool "$dir" ZAL.exe show=SW_SHOWMINNOACTIVE
    probe_ok waitwin class=TApplication visible=1
    E2E_APP=${R[hwnd]}
    e2e_wait_for 10 "the application window minimised" is_iconic "$E2E_APP"
    sleep 0.5
    probe_ok windows
    local line visible=()
    while IFS= read -r line; do
        e2e_record "$line"
        [ "${R[visible]}" = 1 ] && visible+=("${R[class]}")
    done < <(probe_records window)
    assert_eq TApplication "${visible[*]}" "visible windows of the tool"
    probe_ok waitwin class=TFormPrincipal
    E2E_FORM=${R[hwnd]}
    assert_eq "0 0" "${R[visible]} ${R[iconic]}" "main window visible, iconic"

    # Restored from the taskbar button.
    probe_ok post "hwnd=$E2E_APP" msg=WM_SYSCOMMAND wparam=SC_RESTORE
    probe_ok waitwin class=TFormPrincipal visible=1 timeout=10000
    local x=${R[x]} y=${R[y]} w=${R[w]} h=${R[h]}
    assert_eq "0 0 487 90" "${R[iconic]} ${R[zoomed]} ${R[cw]} ${R[ch]}" "iconic, zoomed, client size"
    assert_eq "$(((SCREEN_W - w) / 2)) $(((SCREEN_H - h) / 2))" "$x $y" "restored main window centred"
    e2e_xwindow "$x" "$y" "$w" "$h" >/dev/null
    probe_ok window "hwnd=$E2E_APP"
    assert_eq "0 1 $((SCREEN_W / 2)) $((SCREEN_H / 2)) 0 0" \
        "${R[iconic]} ${R[visible]} ${R[x]} ${R[y]} ${R[w]} ${R[h]}" \
        "application window: iconic, visible, back at the centre with no size"
    e2e_expect_button_focused
}

# Started with no display, the tool used to end in std::terminate with "Success." and exit code 3.
test_no_display_ends_quietly_with_exit_code_0() {
    local dir state code=0
    dir=$(e2e_install no-display)
    e2e_put "$dir" ZAL.exe ZAL.upd
    state=$(e2e_state "$dir")
    (cd "$E2E_WORK" && exec env -u DISPLAY timeout 120 "$E2E_WINE" "$dir/ZALUpdate.exe" ZAL.exe) \
        >"$E2E_WORK/no-display.out" 2>"$E2E_WORK/no-display.err" || code=$?
    assert_eq 0 "$code" "exit code without a display"
    ! grep -Eiq 'terminate|exception|backtrace|crash' "$E2E_WORK/no-display.out" "$E2E_WORK/no-display.err" ||
        e2e_fail "a crash report: $(head -c 300 "$E2E_WORK/no-display.err")"
    assert_state_unchanged "$dir" "$state" "the installation"
}

e2e_start --geometry 1280x1024x24
e2e_test "SW_SHOWMAXIMIZED: panel fills the window, button stays" test_maximised_panel_fills_and_button_stays
e2e_test "SW_SHOWMINNOACTIVE: minimised, restored centred" test_minimised_shows_only_the_application_window
# Last: a process of the session that has no display can leave the session without a desktop.
e2e_test "no display: exit code 0, nothing touched, no crash report" test_no_display_ends_quietly_with_exit_code_0
e2e_finish
