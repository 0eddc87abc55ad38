#!/usr/bin/env bash
# Log-off and shutdown: the tool does not object, and when the session ends it ends too, at once, with
# exit code 0, touching no file and without running its close operation. That operation's mark is the
# quit message FormClose posts; Wine's relay trace of the tool's calls to user32.PostQuitMessage shows
# whether it ran (the close by WM_CLOSE shows that the trace sees it).
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

# start_traced NAME: e2e_start_staged, with the tool's calls to PostQuitMessage traced from TRACE_FROM on.
start_traced() {
    TRACE_FROM=$(e2e_trace_offset)
    e2e_start_staged "$1" env=WINEDEBUG=+relay
}

quit_messages_posted() {
    e2e_trace_calls "$TRACE_FROM" "$E2E_TOOL_TID" user32.PostQuitMessage
}

test_query_end_session_is_answered_yes() {
    start_traced query
    probe_ok send "hwnd=$E2E_FORM" msg=WM_QUERYENDSESSION lparam=ENDSESSION_LOGOFF timeout=5000
    assert_ne 0 "${R[result]}" "answer to WM_QUERYENDSESSION"
    # Asking is not ending: the tool goes on.
    e2e_expect_still_open 1
    assert_state_unchanged "$DIR" "$BEFORE" "the installation"
    assert_eq 0 "$(quit_messages_posted)" "quit messages posted"
}

test_end_session_ends_at_once_without_form_close() {
    start_traced end
    probe_ok send "hwnd=$E2E_FORM" msg=WM_QUERYENDSESSION timeout=5000
    assert_ne 0 "${R[result]}" "answer to WM_QUERYENDSESSION"
    probe_ok send "hwnd=$E2E_APP" msg=WM_ENDSESSION wparam=1 timeout=5000 mark=end
    probe_ok waitexit since=end timeout=10000
    assert_eq 0 "${R[code]}" "exit code"
    probe_ok waitgone "hwnd=$E2E_FORM" timeout=1000
    assert_state_unchanged "$DIR" "$BEFORE" "the installation"
    assert_eq 0 "$(quit_messages_posted)" "quit messages posted: FormClose or the close operation ran"
}

test_end_session_cancelled_leaves_the_tool_running() {
    start_traced cancelled
    probe_ok send "hwnd=$E2E_APP" msg=WM_ENDSESSION wparam=0 timeout=5000
    e2e_expect_still_open 1
    assert_state_unchanged "$DIR" "$BEFORE" "the installation"
    assert_eq 0 "$(quit_messages_posted)" "quit messages posted"
}

test_wm_close_runs_form_close_as_the_trace_shows() {
    start_traced close
    probe_ok post "hwnd=$E2E_FORM" msg=WM_CLOSE mark=close
    probe_ok waitexit since=close timeout=10000
    assert_eq 0 "${R[code]}" "exit code"
    assert_ge "$(quit_messages_posted)" 1 "quit messages posted on the close path"
}

e2e_start --geometry 1280x1024x24
e2e_test "WM_QUERYENDSESSION is answered yes" test_query_end_session_is_answered_yes
e2e_test "WM_ENDSESSION ends the tool at once, without FormClose" test_end_session_ends_at_once_without_form_close
e2e_test "WM_ENDSESSION with FALSE leaves the tool running" test_end_session_cancelled_leaves_the_tool_running
e2e_test "WM_CLOSE runs FormClose, as the trace shows" test_wm_close_runs_form_close_as_the_trace_shows
e2e_finish
