#!/usr/bin/env bash
# A failed replacement is shown and loses nothing: the error box shows the system's text, the files stay
# as they were and the window stays open. ZAL.exe is held open with no sharing, as a ZAL that has not
# exited yet holds it, or runs as a program. Held for longer than the tool waits: once the file is free, the
# button completes the update. Held for most of the wait, the update goes in once it is free, and all the while the window never
# counts as not responding. Taken away during the wait, the staged copy's absence is reported. A staged
# copy that is no whole program, whose signature does not match its bytes, or that is built for a machine
# this Windows cannot run, is refused at once, since waiting cannot change it; once ZAL has staged a whole
# one, the button installs that.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

ERROR_FILE_NOT_FOUND=2
ERROR_SHARING_VIOLATION=32
ERROR_BAD_EXE_FORMAT=193
ERROR_EXE_MACHINE_TYPE_MISMATCH=216 # what a program for another machine than this Windows runs shows
ERROR_FILE_CORRUPT=1392 # what a signed staged copy whose bytes do not match its signature shows

test_locked_target_shows_the_error_and_loses_nothing() {
    local dir before
    dir=$(e2e_install locked)
    e2e_put "$dir" ZAL.exe ZAL.upd
    before=$(e2e_state "$dir")
    # The tool opens the installed file for deletion before it touches anything, and a file held open with
    # no sharing refuses that, on Windows as under Wine, with a sharing violation.
    local expected
    expected=$(e2e_system_box_text $ERROR_SHARING_VIOLATION)

    e2e_tool_start "$dir" ZAL.exe
    probe_ok lock "path=$(winpath "$dir/ZAL.exe")"
    local lock=${R[id]}
    e2e_press "$E2E_FORM" press Return
    e2e_expect_error_box "$dir" "$before" press 5000 30000 "$expected"
    e2e_expect_button_focused

    # ZAL has exited: the same button now completes the update.
    probe_ok unlock "id=$lock"
    e2e_press "$E2E_FORM" again Return
    e2e_expect_close_after again 3000
    assert_zal_updated "$dir"
}

# ZAL.exe runs, as when the user started ZAL again or it is still exiting. A rename over a running program is
# refused with "access denied", on Windows as under Wine; the tool waits for it, and then the box says that
# the file is in use (the sharing-violation text, with ZAL.exe where it names a file), not that a right is
# missing. Once ZAL has ended, the same button installs the update. The running ZAL.exe is a copy of the
# probe, given one long sleep to run.
test_running_program_is_waited_for_and_said_to_be_in_use() {
    local dir before zal
    dir=$(e2e_install running)
    e2e_put "$dir" ZAL.upd
    cp "$E2E_PROBE_EXE" "$dir/ZAL.exe"
    cp -p "$dir/ZAL.exe" "$dir.orig/ZAL.exe"
    probe_ok launch "cmdline=\"$(winpath "$dir/ZAL.exe")\" \"sleep ms=600000\""
    zal=${R[proc]}
    before=$(e2e_state "$dir")
    local expected
    expected=$(e2e_system_box_text $ERROR_SHARING_VIOLATION ZAL.exe)

    e2e_tool_start "$dir" ZAL.exe
    e2e_press "$E2E_FORM" press Return
    e2e_expect_error_box "$dir" "$before" press 5000 30000 "$expected"
    probe_ok status "proc=$zal"
    assert_eq 1 "${R[running]}" "ZAL.exe running all the while"

    probe_ok kill "proc=$zal"
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

# The staged copy goes while the tool waits for the held ZAL.exe, and nobody installed it (ZAL took it back,
# or an antivirus): the old program is still installed, so the box says the file is missing, instead of the
# tool closing as if it had updated. Nothing else changes, and the window stays open.
test_staged_copy_taken_away_during_the_wait_is_reported() {
    local dir before
    dir=$(e2e_install taken-away)
    e2e_put "$dir" ZAL.exe ZAL.upd
    e2e_tool_start "$dir" ZAL.exe
    probe_ok lock "path=$(winpath "$dir/ZAL.exe")"
    local lock=${R[id]}
    e2e_press "$E2E_FORM" press Return
    # A second into the wait, well after the first attempt, which the held file refused.
    probe_ok time after=1000 since=press
    rm "$dir/ZAL.upd"
    before=$(e2e_state "$dir")
    probe_ok unlock "id=$lock" after=1500 since=press
    e2e_expect_error_box "$dir" "$before" press 1000 4999 "$(e2e_system_box_text $ERROR_FILE_NOT_FOUND ZAL.upd)"
    assert_same_file "$dir/ZAL.exe" "$dir.orig/ZAL.exe"
}

# ZAL.upd spoiled as BREAK says is refused: the box at once, with the system's text for the refusal (which
# names the staged copy where it names a file), both files kept and the window open. Then, as THEN says, the window is closed (exit code 0, nothing changed),
# or ZAL stages a whole copy and the next press installs it, since every press checks the staged copy anew.
test_broken_staged_copy_is_refused() { # BREAK THEN
    local dir staged before code=$ERROR_BAD_EXE_FORMAT
    dir=$(e2e_install "refused-$1")
    e2e_put "$dir" ZAL.exe ZAL.upd
    staged=$dir/ZAL.upd
    case $1 in
    empty) : >"$staged" ;;
    half) truncate -s $(($(stat -c %s "$staged") / 2)) "$staged" ;;
    arm64)
        # A whole program, but for ARM64, which this x64 Wine does not run.
        e2e_make_program "$staged" "$(stat -c %s "$staged")" "$RANDOM" 64 machine=0xAA64
        code=$ERROR_EXE_MACHINE_TYPE_MISMATCH
        ;;
    one-byte-changed)
        e2e_sign "$staged"
        code=$ERROR_FILE_CORRUPT
        # A byte of the data section, which the signature's hash covers.
        local byte
        byte=$(od -An -tu1 -j 1792 -N 1 "$staged")
        printf "\\x$(printf %02x $((byte ^ 0x55)))" | dd of="$staged" bs=1 seek=1792 conv=notrunc status=none
        ;;
    esac
    before=$(e2e_state "$dir")
    local expected
    expected=$(e2e_system_box_text "$code" ZAL.upd)

    e2e_tool_start "$dir" ZAL.exe
    e2e_press "$E2E_FORM" press Return
    e2e_expect_error_box "$dir" "$before" press 0 4999 "$expected"
    case $2 in
    close)
        probe_ok post "hwnd=$E2E_FORM" msg=WM_CLOSE mark=close
        probe_ok waitgone "hwnd=$E2E_FORM" since=close timeout=10000
        probe_ok waitexit since=close timeout=10000
        assert_eq 0 "${R[code]}" "exit code"
        assert_state_unchanged "$dir" "$before" "the installation once the window closed"
        ;;
    restaged)
        e2e_put "$dir" ZAL.upd
        e2e_press "$E2E_FORM" again Return
        e2e_expect_close_after again 3000
        assert_zal_updated "$dir"
        ;;
    esac
}

e2e_start --geometry 1280x1024x24
e2e_test "locked target: error box, nothing lost, then the update" \
    test_locked_target_shows_the_error_and_loses_nothing
e2e_test "ZAL.exe running: the file is in use, nothing lost, then the update" \
    test_running_program_is_waited_for_and_said_to_be_in_use
e2e_test "target held for 4 s: updated, the window never hung" test_held_target_never_makes_the_window_hung
e2e_test "staged copy taken away during the wait: reported, old program kept" \
    test_staged_copy_taken_away_during_the_wait_is_reported
e2e_test "empty staged copy refused, then a whole one installed" test_broken_staged_copy_is_refused empty restaged
e2e_test "staged copy cut in half refused; closing exits with 0" test_broken_staged_copy_is_refused half close
e2e_test "signed staged copy with one byte changed refused" \
    test_broken_staged_copy_is_refused one-byte-changed close
e2e_test "whole program for ARM64 refused, then an x64 one installed" \
    test_broken_staged_copy_is_refused arm64 restaged
e2e_finish
