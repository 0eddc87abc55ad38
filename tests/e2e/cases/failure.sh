#!/usr/bin/env bash
# ZAL.exe is held open with no sharing, as a ZAL that has not exited yet holds it. Held for longer than
# the tool waits, the failed replacement is shown and loses nothing: the error box shows the system's
# text; the files stay as they were and the window stays open; once the file is free, the button
# completes the update. Held for most of the wait, the update goes in once it is free, and all the while
# the window never counts as not responding.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

ERROR_ACCESS_DENIED=5
ERROR_SHARING_VIOLATION=32

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
    local expected
    expected=$(e2e_system_box_text "$code")

    e2e_tool_start "$dir" ZAL.exe
    probe_ok lock "path=$(winpath "$dir/ZAL.exe")"
    local lock=${R[id]}
    e2e_press "$E2E_FORM" press Return
    e2e_expect_error_box "$dir" "$before" press 30000 "$expected"
    e2e_expect_button_focused

    # ZAL has exited: the same button now completes the update.
    probe_ok unlock "id=$lock"
    e2e_press "$E2E_FORM" again Return
    e2e_expect_close_after again 3000
    assert_zal_updated "$dir"
}

# Windows takes a window whose thread has not looked at its message queue for 5 s for a hung one: it paints
# a ghost of it and offers to end the program, whose exit code is then not 0. A press spends up to 5 s
# waiting for the held file and then pauses 3 s, with the window frozen, yet never reported hung.
test_held_target_never_makes_the_window_hung() {
    e2e_start_staged held
    probe_ok lock "path=$(winpath "$DIR/ZAL.exe")"
    local lock=${R[id]}
    e2e_press "$E2E_FORM" press Return
    probe_ok hungpoll "hwnd=$E2E_FORM" ms=3000
    local polls=${R[polls]} hung=${R[hung]}
    assert_state_unchanged "$DIR" "$BEFORE" "the installation while ZAL.exe is held"
    probe_ok unlock "id=$lock" after=4000 since=press
    # Until the window goes: the rest of the wait, the replacement and the 3 s pause.
    probe_ok hungpoll "hwnd=$E2E_FORM" ms=15000
    polls=$((polls + R[polls])) hung=$((hung + R[hung]))
    assert_eq "0 of $polls" "$hung of $polls" "polls that found the window hung"
    e2e_expect_close_after press 7000
    assert_zal_updated "$DIR"
}

e2e_start --geometry 1280x1024x24
e2e_test "locked target: error box, nothing lost, then the update" \
    test_locked_target_shows_the_error_and_loses_nothing
e2e_test "target held for 4 s: updated, the window never hung" test_held_target_never_makes_the_window_hung
e2e_finish
