#!/usr/bin/env bash
# The update end to end, as ZAL starts the tool: for each argument, the installation on disk byte for byte
# after Enter, exit code 0, and the window gone no sooner than 3 s after the press, whether or not
# anything was replaced. The staged copies are whole programs and DLLs (e2e_put), and a signed one is applied,
# and so is a 32-bit one over a 64-bit ZAL.exe, since 64-bit Windows runs both; the installed file keeps its
# access rules.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

# run_and_press DIR ARGUMENTS: starts the tool in DIR as ZAL would, presses Enter and waits for it to end.
run_and_press() {
    e2e_tool_start "$1" "$2"
    e2e_press "$E2E_FORM" press Return
    e2e_expect_close_after press 3000
}

# Runs the tool with ARGUMENTS over a full installation and expects nothing to change.
expect_nothing_changes_with() { # NAME ARGUMENTS
    local dir before
    dir=$(e2e_install "$1")
    e2e_put "$dir" ZAL.exe ZAL.upd Glimae.dll Glimae.upd
    before=$(e2e_state "$dir")
    run_and_press "$dir" "$2"
    assert_state_unchanged "$dir" "$before" "the installation"
}

# Over a full installation, the argument TARGET replaces that file by its staged copy STAGED, which goes;
# the other installed file and its staged copy are left as they were.
replaced_by_its_staged_copy() { # NAME TARGET STAGED
    local dir file
    local -a names=(ZALUpdate.exe)
    dir=$(e2e_install "$1")
    e2e_put "$dir" ZAL.exe ZAL.upd Glimae.dll Glimae.upd
    run_and_press "$dir" "$2"
    assert_same_file "$dir/$2" "$dir.orig/$3"
    for file in ZAL.exe ZAL.upd Glimae.dll Glimae.upd; do
        case $file in
        "$3") continue ;;
        "$2") ;;
        *) assert_same_file "$dir/$file" "$dir.orig/$file" ;;
        esac
        names+=("$file")
    done
    assert_names "$dir" "${names[@]}"
}

test_other_case_and_foreign_directory_replace_in_the_tools_own() {
    # The argument names another directory, with blanks, holding files of the same names; only the file
    # name counts, in any case, and the tool works in its own directory.
    local dir other before_other
    dir=$(e2e_install own)
    other="$E2E_WORK/Other Dir"
    mkdir -p "$other"
    e2e_put "$dir" ZAL.exe ZAL.upd
    e2e_put "$other" ZAL.exe ZAL.upd
    before_other=$(e2e_state "$other")
    run_and_press "$dir" "\"$(winpath "$other")\\zal.EXE\""
    assert_zal_updated "$dir"
    assert_state_unchanged "$other" "$before_other" "the foreign directory"
}

test_drive_c_argument_replaces_in_the_tools_own() {
    local dir
    dir=$(e2e_install drive-c)
    e2e_put "$dir" ZAL.exe ZAL.upd
    run_and_press "$dir" 'C:\Other\zal.EXE'
    assert_zal_updated "$dir"
    assert_absent "$E2E_PREFIX/drive_c/Other"
}

test_missing_staged_file_changes_nothing() {
    local dir before
    dir=$(e2e_install no-staged)
    e2e_put "$dir" ZAL.exe Glimae.dll Glimae.upd
    before=$(e2e_state "$dir")
    run_and_press "$dir" ZAL.exe
    assert_state_unchanged "$dir" "$before" "the installation"
}

test_absent_target_is_created_from_the_staged_copy() {
    local dir
    dir=$(e2e_install absent)
    e2e_put "$dir" ZAL.upd
    run_and_press "$dir" ZAL.exe
    assert_zal_updated "$dir"
}

# Signed with a throwaway self-signed certificate: whether the system trusts the signer is not the tool's
# to judge, only whether the bytes match the signature.
test_whole_signed_staged_copy_is_applied() {
    local dir
    dir=$(e2e_install signed)
    e2e_put "$dir" ZAL.exe ZAL.upd
    e2e_sign "$dir/ZAL.upd"
    cp -p "$dir/ZAL.upd" "$dir.orig/ZAL.upd"
    run_and_press "$dir" ZAL.exe
    assert_zal_updated "$dir"
}

# ZAL going back to 32 bits, or built for 32 bits only, on 64-bit Windows: e2e_put's copies go the other way
# (a PE32+ ZAL.upd over a PE32 ZAL.exe).
test_32_bit_staged_copy_is_applied_over_a_64_bit_program() {
    local dir
    dir=$(e2e_install pe32)
    mkdir -p "$dir.orig"
    e2e_make_program "$dir/ZAL.exe" 70001 "$RANDOM" 64
    e2e_make_program "$dir/ZAL.upd" 69003 "$RANDOM"
    cp -p "$dir/ZAL.upd" "$dir.orig/ZAL.upd"
    run_and_press "$dir" ZAL.exe
    assert_zal_updated "$dir"
}

# A rename carries the staged copy's own access rules. ZAL may stage its update where only its user may read
# it (mode 600), or leave it writable by everybody (666); either way ZAL.exe keeps the rules it had: everybody
# may still run it, and nobody else may change it. Wine keeps a file's access list as its Unix mode.
test_installed_file_keeps_its_access_rules() { # NAME STAGED_MODE
    local dir rules
    dir=$(e2e_install "rules-$1")
    e2e_put "$dir" ZAL.exe ZAL.upd
    chmod 755 "$dir/ZAL.exe"
    chmod "$2" "$dir/ZAL.upd"
    probe_ok rules "path=$(winpath "$dir/ZAL.exe")"
    rules=${R[sddl]}
    [[ $rules == *"(A;;0x1200a9;;;WD)"* ]] || e2e_fail "everybody may not run the installed ZAL.exe: $rules"
    probe_ok rules "path=$(winpath "$dir/ZAL.upd")"
    [ "${R[sddl]}" != "$rules" ] || e2e_fail "the staged copy has the installed file's rules already: $rules"
    run_and_press "$dir" ZAL.exe
    assert_zal_updated "$dir"
    probe_ok rules "path=$(winpath "$dir/ZAL.exe")"
    assert_eq "$rules" "${R[sddl]}" "the access rules of the updated ZAL.exe"
    # What the other users of the machine may do (Wine derives the group's bits from the list anew).
    assert_eq r-x "$(stat -c %A "$dir/ZAL.exe" | cut -c8-10)" "what others may do with the updated ZAL.exe"
}

e2e_start --geometry 1280x1024x24
e2e_test "ZAL.exe replaced by ZAL.upd" replaced_by_its_staged_copy zal ZAL.exe ZAL.upd
e2e_test "Glimae.dll replaced by Glimae.upd, ZAL.upd left alone" replaced_by_its_staged_copy glimae Glimae.dll Glimae.upd
e2e_test "zal.EXE in a foreign directory: replaced in the tool's own" \
    test_other_case_and_foreign_directory_replace_in_the_tools_own
e2e_test "C:\\Other\\zal.EXE: replaced in the tool's own directory" \
    test_drive_c_argument_replaces_in_the_tools_own
e2e_test "no argument: nothing changes" expect_nothing_changes_with no-argument ""
e2e_test "argument ZAL: nothing changes" expect_nothing_changes_with no-extension ZAL
e2e_test "argument ZAL.exe.bak: nothing changes" expect_nothing_changes_with bak ZAL.exe.bak
e2e_test "missing staged file: nothing changes" test_missing_staged_file_changes_nothing
e2e_test "absent target: created from the staged copy" test_absent_target_is_created_from_the_staged_copy
e2e_test "whole signed staged copy: applied" test_whole_signed_staged_copy_is_applied
e2e_test "32-bit staged copy over a 64-bit ZAL.exe: applied" \
    test_32_bit_staged_copy_is_applied_over_a_64_bit_program
e2e_test "staged copy only its writer may read: ZAL.exe keeps its rules" \
    test_installed_file_keeps_its_access_rules own 600
e2e_test "staged copy everybody may write: ZAL.exe keeps its rules" \
    test_installed_file_keeps_its_access_rules everybody 666
e2e_finish
