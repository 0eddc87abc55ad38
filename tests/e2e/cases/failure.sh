#!/usr/bin/env bash
# A failed replacement is shown and loses nothing: ZAL.exe is held open with no sharing, as a ZAL that
# has not exited yet holds it, for longer than the tool waits. The error box shows the system's text; the
# files stay as they were and the window stays open; once the file is free, the button completes the
# update.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

ERROR_ACCESS_DENIED=5
ERROR_SHARING_VIOLATION=32
MB_OK_ID=1 # IDOK
SS_ICON=0x3

# box_text TEXT: the error box's text for an error message: a full stop is added when the message ends in
# a character that sorts after it.
box_text() {
    local text=$1
    if [ -n "$text" ] && [ "$(printf '%s' "${text: -1}" | od -An -tu1 | tr -d ' ')" -gt 46 ]; then
        text+=.
    fi
    printf '%s' "$text"
}

test_locked_target_shows_the_error_and_loses_nothing() {
    local dir before
    dir=$(e2e_install locked)
    e2e_put "$dir" ZAL.exe ZAL.upd
    before=$(e2e_state "$dir")
    # What the system answers when a file held open with no sharing is replaced in one step: the probe
    # tries it on a file of its own. Windows refuses with a sharing violation, Wine with access denied.
    local spare=$E2E_WORK/spare code
    mkdir -p "$spare"
    e2e_put "$spare" new held
    probe_ok lock "path=$(winpath "$spare/held")"
    local spare_lock=${R[id]}
    ! probe move "from=$(winpath "$spare/new")" "to=$(winpath "$spare/held")" ||
        e2e_fail "a file held open with no sharing was replaced"
    code=${R[lasterror]}
    probe_ok unlock "id=$spare_lock"
    assert_match "^($ERROR_SHARING_VIOLATION|$ERROR_ACCESS_DENIED)$" "$code" "error replacing a held file"
    probe_ok errtext "code=$code"
    local expected
    expected=$(box_text "${R[text]}")
    [ -n "$expected" ] || e2e_fail "the system has no text for error $code"

    e2e_tool_start "$dir" ZAL.exe
    probe_ok lock "path=$(winpath "$dir/ZAL.exe")"
    local lock=${R[id]}
    e2e_press "$E2E_FORM" press Return
    probe_ok msgbox timeout=30000
    local box=${R[hwnd]} class=${R[class]} owner=${R[owner]} caption=${R[text_hex]} message=${R[message]}
    local -a buttons
    mapfile -t buttons < <(probe_records button)
    probe_ok time since=press
    # Seen at most a poll (20 ms) after it opened: the tool waited out the file first.
    assert_ge "${R[elapsed_ms]}" 5000 "ms from the press until the box was seen"
    assert_eq "#32770" "$class" "class of the box"
    assert_eq "$E2E_APP" "$owner" "owner of the box"
    assert_eq "$(cp1252_hex "Atualização do ZAL")" "$caption" "caption bytes"
    assert_eq "$expected" "$message" "text of the box"
    assert_eq 1 "${#buttons[@]}" "buttons in the box"
    e2e_record "${buttons[0]}"
    assert_eq $MB_OK_ID "${R[id]}" "the box's one button"
    probe_ok children "hwnd=$box"
    local icons=0 line
    while IFS= read -r line; do
        e2e_record "$line"
        [ "${R[class]}" = Static ] && [ $((R[style] & 0x1F)) -eq $((SS_ICON)) ] && icons=$((icons + 1))
    done < <(probe_records child)
    assert_eq 1 "$icons" "icons in the box"

    # While the box shows, nothing is lost and the window waits, disabled.
    assert_state_unchanged "$dir" "$before" "the installation while the box shows"
    probe_ok window "hwnd=$E2E_FORM"
    assert_eq "1 0" "${R[visible]} ${R[enabled]}" "main window visible, enabled"

    probe_ok dlgpress "hwnd=$box" id=IDOK
    probe_ok waitgone "hwnd=$box" timeout=10000
    e2e_expect_still_open 1
    assert_state_unchanged "$dir" "$before" "the installation after the box"
    e2e_expect_button_focused

    # ZAL has exited: the same button now completes the update.
    probe_ok unlock "id=$lock"
    e2e_press "$E2E_FORM" again Return
    e2e_expect_close_after again 3000
    assert_same_file "$dir/ZAL.exe" "$dir.orig/ZAL.upd"
    assert_names "$dir" ZALUpdate.exe ZAL.exe
}

e2e_start --geometry 1280x1024x24
e2e_test "locked target: error box, nothing lost, then the update" \
    test_locked_target_shows_the_error_and_loses_nothing
e2e_finish
