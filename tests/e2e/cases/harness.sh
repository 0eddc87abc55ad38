#!/usr/bin/env bash
# The harness proves itself on Wine's own programs: launching with a show command, window reports and text
# bytes, keys typed through X, screenshot pixels, close paths with exit codes, message boxes, file locks,
# the probe's clock, and sessions at another screen size, resolution and code page.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

WS_CAPTION=0x00C00000
WS_THICKFRAME=0x00040000

# Conditions for e2e_wait_for; each leaves the last probe answer in R.
caption_is() { probe_ok window "hwnd=$1" && [ "${R[text_hex]}" = "$2" ]; }
is_iconic() { probe_ok window "hwnd=$1" && [ "${R[iconic]}" = 1 ]; }
covers_screen() { probe_ok window "hwnd=$1" && [ "${R[x]}" -le 0 ] && [ $((${R[x]} + ${R[w]})) -ge "$2" ]; }
text_length_is() { probe_ok send "hwnd=$1" msg=WM_GETTEXTLENGTH && [ "${R[result]}" = "$2" ]; }

launch_notepad() { # [ARGUMENTS] [launch options...]
    local arguments=${1:-}
    shift || true
    probe_ok launch "cmdline=notepad.exe${arguments:+ $arguments}" "cwd=$(winpath "$E2E_WORK")" "$@"
    probe_ok waitwin class=Notepad visible=1
}

test_session_uses_its_own_screen() {
    probe_ok metrics
    assert_eq 1024 "${R[cxscreen]}" "screen width"
    assert_eq 768 "${R[cyscreen]}" "screen height"
    assert_eq 96 "${R[logpixelsy]}" "logical resolution"
    assert_eq 1252 "${R[acp]}" "ANSI code page"
}

test_window_report_matches_the_x_window() {
    launch_notepad "" show=SW_SHOWNORMAL
    assert_eq Notepad "${R[class]}" "class"
    assert_eq "$(cp1252_hex "Untitled - Notepad")" "${R[text_hex]}" "caption bytes"
    assert_eq $((WS_CAPTION | WS_THICKFRAME)) $((${R[style]} & (WS_CAPTION | WS_THICKFRAME))) \
        "caption and frame styles"
    assert_eq "1 1 0 0" "${R[visible]} ${R[enabled]} ${R[iconic]} ${R[zoomed]}" "visible enabled iconic zoomed"
    assert_eq 0x0 "${R[owner]}" "owner"
    # The client area lies strictly inside the frame, below the caption bar.
    assert_ge "${R[cx]}" $((${R[x]} + 1)) "client left"
    assert_ge "${R[cy]}" $((${R[y]} + 10)) "client top"
    assert_le $((${R[cx]} + ${R[cw]})) $((${R[x]} + ${R[w]} - 1)) "client right"
    local xid
    xid=$(e2e_xwindow "${R[x]}" "${R[y]}" "${R[w]}" "${R[h]}")
    assert_match '^0x[0-9a-f]+$' "$xid" "X window id"
    assert_match 'notepad\.exe' "$(xprop -id "$xid" WM_CLASS)" "X window class"
    probe_ok icons "hwnd=${R[hwnd]}"
    assert_match '^0x[0-9a-f]+$' "${R[big]}" "answer to WM_GETICON"
}

test_show_commands_reach_the_program() {
    launch_notepad "" show=SW_SHOWMAXIMIZED
    # The maximised size can land a moment after the window shows.
    e2e_wait_for 10 "the window to cover the screen" covers_screen "${R[hwnd]}" 1024
    assert_eq 1 "${R[zoomed]}" "zoomed with SW_SHOWMAXIMIZED"
    probe_ok reset
    probe_ok launch cmdline=notepad.exe show=SW_SHOWMINNOACTIVE
    probe_ok waitwin class=Notepad
    e2e_wait_for 10 "an iconic window with SW_SHOWMINNOACTIVE" is_iconic "${R[hwnd]}"
}

test_text_bytes_pass_both_ways() {
    # A Windows-1252 name goes out in the command line and comes back in the caption, byte for byte. On the
    # Linux side Wine keeps the name in UTF-8.
    printf 'x' >"$E2E_WORK/Atualização.txt"
    launch_notepad "$(winpath "$E2E_WORK")\\$(cp1252 "Atualização.txt")"
    local expected
    expected=$(cp1252_hex "Atualização.txt - Notepad")
    e2e_wait_for 10 "the caption naming the file" caption_is "${R[hwnd]}" "$expected"
    assert_eq "$(cp1252 "Atualização.txt - Notepad")" "${R[text]}" "decoded caption"
}

test_keys_typed_through_x_reach_the_focus() {
    launch_notepad
    local xid
    xid=$(e2e_xwindow "${R[x]}" "${R[y]}" "${R[w]}" "${R[h]}")
    probe_ok focus
    assert_eq Edit "${R[class]}" "focused control"
    local edit=${R[hwnd]}
    e2e_xtype "$xid" "hello"
    e2e_xkey "$xid" Return a
    # xdotool returns once X has the keys; the program takes them a little later.
    e2e_wait_for 10 "the text 'hello', CR LF and 'a' (8 characters)" text_length_is "$edit" 8
}

test_keys_posted_by_the_probe_reach_the_focus() {
    launch_notepad
    probe_ok postkey vk=0x41
    assert_eq Edit "${R[class]}" "posted to"
    e2e_wait_for 10 "the posted key to arrive" text_length_is "${R[hwnd]}" 1
}

test_screenshot_pixels_show_the_window() {
    launch_notepad "" show=SW_SHOWNORMAL
    local x=${R[x]} y=${R[y]} w=${R[w]} h=${R[h]}
    e2e_xwindow "$x" "$y" "$w" "$h" >/dev/null
    probe_ok focus
    probe_ok window "hwnd=${R[hwnd]}"
    local ex=$((${R[cx]} + ${R[cw]} / 2)) ey=$((${R[cy]} + ${R[ch]} / 2))
    sleep 0.5
    local shot=$E2E_WORK/notepad.png
    e2e_screenshot "$shot"
    assert_pixel "$shot" "$ex" "$ey" "255 255 255"
    assert_pixel "$shot" $((x + w + 20)) $((y + h + 20)) "0 0 0"
    # The caption bar is drawn (by Wine, since no window manager runs): neither the black root nor white.
    local caption
    caption=$(e2e_pixel "$shot" $((x + w / 2)) $((y + 8)))
    assert_ne "0 0 0" "$caption" "caption bar pixel"
    assert_ne "255 255 255" "$caption" "caption bar pixel"
    e2e_crop "$shot" "$x" "$y" "$w" "$h" "$E2E_WORK/notepad-window.png"
    assert_eq "$w $h" "$(identify -format '%w %h' "$E2E_WORK/notepad-window.png")" "cropped size"
}

test_wm_close_ends_with_exit_code_0() {
    launch_notepad
    local hwnd=${R[hwnd]}
    probe_ok post "hwnd=$hwnd" msg=WM_CLOSE mark=close
    probe_ok waitgone "hwnd=$hwnd" since=close
    probe_ok waitexit since=close
    assert_eq 0 "${R[code]}" "exit code"
    probe_ok status
    assert_eq "0 0" "${R[running]} ${R[code]}" "running, code"
}

test_delays_are_measured_on_the_probe_clock() {
    launch_notepad
    local hwnd=${R[hwnd]}
    probe_ok mark name=press
    probe_ok post "hwnd=$hwnd" msg=WM_CLOSE after=1500 since=press
    assert_ge "$(probe_records at | sed 's/.*elapsed_ms=//')" 1500 "delay before the post"
    probe_ok waitgone "hwnd=$hwnd" since=press
    assert_ge "${R[elapsed_ms]}" 1500 "window gone after the press"
    probe_ok waitexit since=press
    assert_ge "${R[elapsed_ms]}" 1500 "process ended after the press"
    assert_eq 0 "${R[code]}" "exit code"
}

test_kill_after_a_delay() {
    launch_notepad
    probe_ok mark name=start
    probe_ok kill after=400 since=start code=7
    assert_eq "0 7" "${R[already_ended]} ${R[code]}" "already ended, exit code"
    probe_ok status
    assert_eq "0 7" "${R[running]} ${R[code]}" "running, code"
}

test_message_box_pressed_through_the_probe() {
    launch_notepad "$(winpath "$E2E_WORK/missing.txt")"
    probe_ok msgbox
    local box=${R[hwnd]} owner=${R[owner]}
    assert_eq Notepad "${R[owner_class]}" "owner of the box"
    assert_match "missing\\.txt' does not exist" "${R[message]}" "message"
    assert_eq "6 7 2" "$(probe_records button | sed -E 's/.* id=([0-9]+) .*/\1/' | tr '\n' ' ' | sed 's/ $//')" \
        "button ids"
    # The box has no menu, so the system's outer size for its client area is its window size.
    probe_ok adjust "style=${R[style]}" "exstyle=${R[exstyle]}" "w=${R[cw]}" "h=${R[ch]}"
    local adjusted="${R[w]}x${R[h]}"
    probe_ok window "hwnd=$box"
    assert_eq "$adjusted" "${R[w]}x${R[h]}" "outer size from AdjustWindowRectEx"
    probe_ok children "hwnd=$box"
    assert_ge "$(probe_records child | grep -c ' class=Button ')" 3 "buttons among the children"
    probe_ok window "hwnd=$owner"
    assert_eq 0 "${R[enabled]}" "owner enabled while the box shows"
    probe_ok dlgpress "hwnd=$box" id=IDNO
    probe_ok waitgone "hwnd=$box"
    probe_ok window "hwnd=$owner"
    assert_eq 1 "${R[enabled]}" "owner enabled after the box"
    assert_absent "$E2E_WORK/missing.txt"
}

test_message_box_answered_by_an_x_key() {
    launch_notepad "$(winpath "$E2E_WORK/missing.txt")"
    probe_ok msgbox
    local box=${R[hwnd]}
    e2e_xkey "$(e2e_xwindow "${R[x]}" "${R[y]}" "${R[w]}" "${R[h]}")" Escape
    probe_ok waitgone "hwnd=$box" timeout=10000
    assert_absent "$E2E_WORK/missing.txt"
}

test_file_locked_by_the_probe_cannot_be_overwritten() {
    printf 'new' >"$E2E_WORK/src.txt"
    printf 'old' >"$E2E_WORK/dst.txt"
    local copy
    copy="cmd /c copy /y $(winpath "$E2E_WORK/src.txt") $(winpath "$E2E_WORK/dst.txt")"
    probe_ok lock "path=$(winpath "$E2E_WORK/dst.txt")"
    local lock=${R[id]}
    probe_ok launch "cmdline=$copy" "out=$(winpath "$E2E_WORK/copy1.log")"
    probe_ok waitexit
    assert_ne 0 "${R[code]}" "copy exit code while locked"
    assert_file_text "$E2E_WORK/dst.txt" old
    probe_ok unlock "id=$lock"
    probe_ok launch "cmdline=$copy" "out=$(winpath "$E2E_WORK/copy2.log")"
    probe_ok waitexit
    assert_eq 0 "${R[code]}" "copy exit code after unlock"
    assert_file_text "$E2E_WORK/dst.txt" new
}

test_probe_reports_failures_and_stays_in_step() {
    ! probe window hwnd=0x0 || e2e_fail "a report on no window succeeded"
    assert_match 'no such window' "${R[reason]}" "reason"
    ! probe frobnicate || e2e_fail "an unknown command succeeded"
    ! probe lock "path=$(winpath "$E2E_WORK/none/such.txt")" || e2e_fail "locking a missing file succeeded"
    assert_eq 3 "${R[lasterror]}" "ERROR_PATH_NOT_FOUND"
    probe_ok time
    assert_match '^[0-9]+$' "${R[t_ms]}" "the next answer belongs to the next command"
}

test_console_children_leave_the_protocol_alone() {
    # A console program started without out= neither writes into the answers nor reads the commands.
    local seen=()
    probe_ok launch "cmdline=cmd /c echo stray output & set /p line="
    seen+=("${PROBE_LINES[@]}")
    probe_ok waitexit
    seen+=("${PROBE_LINES[@]}")
    assert_eq 0 "${R[code]}" "exit code of cmd"
    probe_ok time
    seen+=("${PROBE_LINES[@]}")
    assert_match '^time t_ms=[0-9]+$' "${PROBE_LINES[*]}" "answer to time"
    local line
    for line in "${seen[@]}"; do
        assert_match '^(process|exit|time) ' "$line" "answer line"
    done
}

e2e_start --geometry 1024x768x24
e2e_test "session uses its own screen" test_session_uses_its_own_screen
e2e_test "window report matches the X window" test_window_report_matches_the_x_window
e2e_test "show commands reach the program" test_show_commands_reach_the_program
e2e_test "text bytes pass both ways" test_text_bytes_pass_both_ways
e2e_test "keys typed through X reach the focus" test_keys_typed_through_x_reach_the_focus
e2e_test "keys posted by the probe reach the focus" test_keys_posted_by_the_probe_reach_the_focus
e2e_test "screenshot pixels show the window" test_screenshot_pixels_show_the_window
e2e_test "WM_CLOSE ends with exit code 0" test_wm_close_ends_with_exit_code_0
e2e_test "delays are measured on the probe clock" test_delays_are_measured_on_the_probe_clock
e2e_test "kill after a delay" test_kill_after_a_delay
e2e_test "message box pressed through the probe" test_message_box_pressed_through_the_probe
e2e_test "message box answered by an X key" test_message_box_answered_by_an_x_key
e2e_test "file locked by the probe cannot be overwritten" test_file_locked_by_the_probe_cannot_be_overwritten
e2e_test "probe reports failures and stays in step" test_probe_reports_failures_and_stays_in_step
e2e_test "console children leave the protocol alone" test_console_children_leave_the_protocol_alone
e2e_stop

test_small_screen_at_120_dpi() {
    probe_ok metrics
    assert_eq "640 480" "${R[cxscreen]} ${R[cyscreen]}" "screen size"
    assert_eq 120 "${R[logpixelsy]}" "logical resolution"
}
e2e_start --geometry 640x480x24 --dpi 120
e2e_test "small screen at 120 dpi" test_small_screen_at_120_dpi
e2e_stop

test_japanese_locale_gives_code_page_932() {
    probe_ok metrics
    assert_eq 932 "${R[acp]}" "ANSI code page of the probe"
    # A program it starts gets the same code page: a second probe, run with a command as its argument.
    probe_ok launch "cmdline=\"$(winpath "$E2E_PROBE_EXE")\" metrics" "out=$(winpath "$E2E_WORK/child.log")"
    probe_ok waitexit
    assert_eq 0 "${R[code]}" "exit code of the child probe"
    assert_match ' acp=932 ' "$(cat "$E2E_WORK/child.log")" "code page of a child"
}
e2e_start --geometry 1024x768x24 --locale ja_JP.UTF-8
e2e_test "Japanese locale gives code page 932" test_japanese_locale_gives_code_page_932
e2e_finish
