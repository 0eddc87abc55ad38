#!/usr/bin/env bash
# Nothing is lost when the installed file is read-only or the staged name is not a file; two instances
# pressed together apply the update once; a read-only staged copy is an update like any other; and the tool
# works in a directory whose name holds a code-page-932 character with 0x5C as its second byte.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib/faults.sh"

ERROR_ACCESS_DENIED=5

# An installation with the tool, an old ZAL.exe, its staged ZAL.upd and an unrelated Glimae.dll; copies of
# them are kept in DIR.orig/ for the comparisons.
lay_out() { # NAME -> DIR
    local dir
    dir=$(e2e_install "$1")
    e2e_put "$dir" ZAL.exe ZAL.upd Glimae.dll
    printf '%s\n' "$dir"
}

assert_nothing_lost() { # DIR
    assert_same_file "$1/ZAL.exe" "$1.orig/ZAL.exe"
    assert_same_file "$1/ZAL.upd" "$1.orig/ZAL.upd"
    assert_names "$1" ZALUpdate.exe ZAL.exe ZAL.upd Glimae.dll
}

assert_updated() { # DIR
    assert_same_file "$1/ZAL.exe" "$1.orig/ZAL.upd"
    assert_same_file "$1/Glimae.dll" "$1.orig/Glimae.dll"
    assert_names "$1" ZALUpdate.exe ZAL.exe Glimae.dll
}

# The window closes three seconds after the press, with no error box, and the process exits with 0.
assert_closes_after_the_pause() { # PROC HWND MARK
    probe_ok waitgone "hwnd=$2" "since=$3" timeout=20000
    assert_ge "${R[elapsed_ms]}" 3000 "window closed after the press (ms)"
    probe_ok waitexit "proc=$1" "since=$3" timeout=20000
    assert_eq 0 "${R[code]}" "exit code"
}

# ZAL started the tool twice, and the user presses both while ZAL still holds its file. Whichever gets the
# file first applies the update; the other finds nothing left to do. Neither shows an error.
test_two_instances_pressed_while_the_target_is_held() {
    local dir
    dir=$(lay_out twice)
    faults_launch "$dir" ZAL.exe
    local first=$FAULTS_PROC first_window=${R[hwnd]} first_button=$FAULTS_BUTTON
    faults_launch "$dir" ZAL.exe
    local second=$FAULTS_PROC second_window=${R[hwnd]}
    probe_ok lock "path=$(winpath "$dir/ZAL.exe")"
    local lock=${R[id]}
    faults_press "$first" press "$first_button"
    faults_press "$second" press
    probe_ok unlock "id=$lock" after=1500 since=press
    assert_closes_after_the_pause "$first" "$first_window" press
    assert_ge "${R[elapsed_ms]}" 4500 "exit of the first after the press (ms): released at 1500, then the pause"
    assert_closes_after_the_pause "$second" "$second_window" press
    assert_updated "$dir"
}

test_read_only_target_is_refused_at_once() {
    local dir
    dir=$(lay_out readonly)
    chmod a-w "$dir/ZAL.exe"
    local mode
    mode=$(stat -c %a "$dir/ZAL.exe")
    faults_launch "$dir" ZAL.exe
    local proc=$FAULTS_PROC hwnd=${R[hwnd]}
    faults_press "$proc" press
    probe_ok msgbox "proc=$proc" timeout=20000
    local box=${R[hwnd]} text=${R[message]}
    assert_eq "$(cp1252 "Atualização do ZAL")" "${R[text]}" "caption of the error box"
    assert_eq "$(e2e_system_box_text $ERROR_ACCESS_DENIED)" "$text" "error box text"
    # A read-only file stays read-only however long one waits, so no retry window is spent on it.
    probe_ok time since=press
    assert_le "${R[elapsed_ms]}" 4999 "error box after the press (ms), sooner than the 5 s retry window ends"
    probe_ok window "hwnd=$hwnd"
    assert_eq 1 "${R[visible]}" "main window visible behind the error box"
    assert_nothing_lost "$dir"
    assert_eq "$mode" "$(stat -c %a "$dir/ZAL.exe")" "mode of the installed file"
    # The user clears the bit and presses again.
    faults_dismiss_box "$proc" "$box"
    chmod u+w "$dir/ZAL.exe"
    faults_press "$proc" again
    assert_closes_after_the_pause "$proc" "$hwnd" again
    assert_updated "$dir"
}

test_staged_name_that_is_a_directory_is_skipped() {
    local dir
    dir=$(e2e_install staged-dir)
    e2e_put "$dir" ZAL.exe
    mkdir "$dir/ZAL.upd"
    printf 'inside\r\n' >"$dir/ZAL.upd/ZAL.exe"
    e2e_state "$dir" >"$E2E_WORK/staged-dir.before"
    faults_launch "$dir" ZAL.exe
    local proc=$FAULTS_PROC hwnd=${R[hwnd]}
    faults_press "$proc" press
    assert_closes_after_the_pause "$proc" "$hwnd" press
    e2e_state "$dir" >"$E2E_WORK/staged-dir.after"
    assert_manifest_unchanged "$E2E_WORK/staged-dir.before" "$E2E_WORK/staged-dir.after" "the installation"
}

# A read-only staged copy (a copy from a read-only medium) is applied, and its bit goes.
test_read_only_staged_copy_is_applied() {
    local dir
    dir=$(lay_out read-only-staged)
    chmod a-w "$dir/ZAL.upd"
    faults_launch "$dir" ZAL.exe
    local proc=$FAULTS_PROC hwnd=${R[hwnd]}
    faults_press "$proc" press
    assert_closes_after_the_pause "$proc" "$hwnd" press
    assert_updated "$dir"
    [[ $(stat -c %A "$dir/ZAL.exe") == ??w* ]] || e2e_fail "the installed file is read-only"
}

e2e_start
e2e_test "two instances pressed while the target is held: one update, no error" \
    test_two_instances_pressed_while_the_target_is_held
e2e_test "read-only target is refused at once, nothing lost" test_read_only_target_is_refused_at_once
e2e_test "staged name that is a directory is skipped" test_staged_name_that_is_a_directory_is_skipped
e2e_test "read-only staged file is applied" test_read_only_staged_copy_is_applied
e2e_stop

# ----- a directory name in code page 932 ----------------------------------------------------------------

# "表" is 0x95 0x5C in code page 932: its second byte is a backslash. Wine keeps the Linux name in UTF-8.
HYO=表

cp932() { # UTF8_TEXT -> its code-page-932 bytes
    printf '%s' "$1" | iconv -f UTF-8 -t CP932
}

# DIR/ZAL表/ holds the tool; DIR holds a ZAL.exe and ZAL.upd of its own that must stay as they are.
lay_out_cp932() { # NAME -> TOOL_DIR
    local top=$E2E_WORK/$1 dir
    dir=$top/ZAL$HYO
    mkdir -p "$dir"
    cp "$(e2e_tool_exe)" "$dir/ZALUpdate.exe"
    e2e_put "$dir" ZAL.exe ZAL.upd
    e2e_put "$top" ZAL.exe ZAL.upd
    printf '%s\n' "$dir"
}

# Runs the tool of DIR with ARGUMENT (UTF-8 here, code page 932 on the command line) and presses the button.
run_cp932() { # DIR ARGUMENT
    local exe
    exe=$(cp932 "$(winpath "$1/ZALUpdate.exe")")
    probe_ok launch "cmdline=\"$exe\" $(cp932 "$2")" "cwd=$(winpath "$E2E_WORK")"
    faults_await_window "${R[proc]}"
    local proc=$FAULTS_PROC hwnd=${R[hwnd]}
    faults_press "$proc" press
    assert_closes_after_the_pause "$proc" "$hwnd" press
}

test_tool_works_in_a_directory_with_a_0x5c_trail_byte() {
    local dir
    dir=$(lay_out_cp932 plain)
    assert_eq 5a414c955c "$(cp932 "ZAL$HYO" | od -An -tx1 | tr -d ' \n')" "code-page-932 bytes of the name"
    mkdir -p "$E2E_WORK/manifests"
    outside() { e2e_state "$E2E_WORK" "./plain/ZAL$HYO" ./manifests ./probe.log ./probe.stderr; }
    outside >"$E2E_WORK/manifests/plain.before"
    run_cp932 "$dir" ZAL.exe
    assert_same_file "$dir/ZAL.exe" "$dir.orig/ZAL.upd"
    assert_absent "$dir/ZAL.upd"
    outside >"$E2E_WORK/manifests/plain.after"
    assert_manifest_unchanged "$E2E_WORK/manifests/plain.before" "$E2E_WORK/manifests/plain.after" \
        "everything outside ZAL$HYO"
    assert_eq "ZAL.exe ZALUpdate.exe" "$(ls "$dir" | tr '\n' ' ' | sed 's/ $//')" "files in ZAL$HYO"
}

test_0x5c_trail_byte_in_the_argument_is_no_separator() {
    # "表ZAL.exe" is one name in code page 932; read byte by byte, it would end in "\ZAL.exe".
    local dir top
    dir=$(lay_out_cp932 argument)
    top=$(dirname "$dir")
    e2e_state "$top" >"$E2E_WORK/argument.before"
    run_cp932 "$dir" "$HYO"ZAL.exe
    e2e_state "$top" >"$E2E_WORK/argument.after"
    assert_manifest_unchanged "$E2E_WORK/argument.before" "$E2E_WORK/argument.after" "the installation"
    # With a real backslash after the character, the file-name part is ZAL.exe.
    run_cp932 "$dir" "$(winpath "$dir")\\zal.EXE"
    assert_same_file "$dir/ZAL.exe" "$dir.orig/ZAL.upd"
    assert_absent "$dir/ZAL.upd"
    assert_same_file "$top/ZAL.exe" "$top.orig/ZAL.exe"
    assert_same_file "$top/ZAL.upd" "$top.orig/ZAL.upd"
}

e2e_start --locale ja_JP.UTF-8
e2e_test "tool works in a directory with a 0x5C trail byte" \
    test_tool_works_in_a_directory_with_a_0x5c_trail_byte
e2e_test "0x5C trail byte in the argument is no separator" \
    test_0x5c_trail_byte_in_the_argument_is_no_separator
e2e_finish
