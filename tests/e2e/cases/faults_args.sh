#!/usr/bin/env bash
# Hostile arguments: whatever argument 1 says, the tool touches nothing outside its own directory, and in
# there it does what the rules make of the argument's file-name part. Each argument gets a tree of its own:
#
#   T/ZAL.exe ZAL.upd Glimae.dll Glimae.upd     decoys two levels up
#   T/p/ZAL.exe ZAL.upd                          decoys in the parent
#   T/p/sibling/ZAL.exe ZAL.upd                  decoys beside; also the current directory of the run
#   T/p/app/                                     the tool's directory: tool, ZAL.exe/.upd, Glimae.dll/.upd
#
# and C:\Windows\ and C:\x\ of the prefix hold decoys too. Every file outside T/p/app, and those decoys,
# must keep their content and time stamps. The decoys are whole programs and DLLs like the tool's own
# files, so that a staged decoy would be installed, not refused, if the tool ever looked at it. The runs go
# side by side.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib/faults.sh"

ARGS=$E2E_WORK/args
MANIFESTS=$E2E_WORK/manifests

# The decoys in the prefix; removed again when the case ends.
PREFIX_DECOYS=()
place_prefix_decoys() {
    local drive=$E2E_PREFIX/drive_c name
    mkdir -p "$drive/x"
    for name in windows/ZAL.exe windows/ZAL.upd x/ZAL.exe x/ZAL.upd; do
        e2e_make_program "$drive/$name" $((65536 + RANDOM)) "$RANDOM$RANDOM"
        PREFIX_DECOYS+=("$drive/$name")
    done
}
remove_prefix_decoys() {
    local file
    for file in "${PREFIX_DECOYS[@]}"; do
        rm -f "$file"
    done
    rmdir "$E2E_PREFIX/drive_c/x" 2>/dev/null || true
}

# What the decoys in the prefix look like; ZAL files that appear there show too.
prefix_stamps() {
    local drive=$E2E_PREFIX/drive_c
    find "$drive/windows" "$drive/x" -maxdepth 1 -iname 'zal*' -printf '%p %y %s %T@ %C@ %i %m\n' |
        LC_ALL=C sort
    sha256sum "${PREFIX_DECOYS[@]}"
}

# The tree of one argument; copies of the tool's directory's files are kept in T/p/app.orig/.
lay_out_tree() { # T
    local t=$1
    mkdir -p "$t/p/sibling" "$t/p/app"
    e2e_put "$t" ZAL.exe ZAL.upd Glimae.dll Glimae.upd
    e2e_put "$t/p" ZAL.exe ZAL.upd
    e2e_put "$t/p/sibling" ZAL.exe ZAL.upd
    cp "$(e2e_tool_exe)" "$t/p/app/ZALUpdate.exe"
    e2e_put "$t/p/app" ZAL.exe ZAL.upd Glimae.dll Glimae.upd
}

# The tool's directory after a run: "ZAL" or "Glimae" when that update was applied (and nothing else
# changed), "none" when nothing there changed at all; anything else fails.
app_outcome() { # T KEY
    local app=$1/p/app key=$2
    e2e_state "$app" >"$MANIFESTS/$key.app.after"
    if diff -q "$MANIFESTS/$key.app.before" "$MANIFESTS/$key.app.after" >/dev/null; then
        echo none
        return
    fi
    local name applied=
    for name in ZAL Glimae; do
        local installed=$name.exe
        [ $name = Glimae ] && installed=Glimae.dll
        if [ ! -e "$app/$name.upd" ] && cmp -s "$app/$installed" "$app.orig/$name.upd"; then
            [ -z "$applied" ] || e2e_fail "$key: both updates were applied"
            applied=$name
        fi
    done
    [ -n "$applied" ] || e2e_fail "$key: the tool's directory changed, but no update was applied"
    local other=Glimae
    [ "$applied" = Glimae ] && other=ZAL
    # The other target and the tool are as they were, and no other file is there.
    grep -E "^\./($other\.|ZALUpdate\.exe )" "$MANIFESTS/$key.app.before" >"$MANIFESTS/$key.app.kept.before"
    grep -E "^\./($other\.|ZALUpdate\.exe )" "$MANIFESTS/$key.app.after" >"$MANIFESTS/$key.app.kept.after"
    assert_manifest_unchanged "$MANIFESTS/$key.app.kept.before" "$MANIFESTS/$key.app.kept.after" \
        "$key: the files of the tool's directory that the update does not concern"
    local before after
    before=$(awk -v gone="./$applied.upd" '$1 != gone { print $1 }' "$MANIFESTS/$key.app.before")
    after=$(awk '{ print $1 }' "$MANIFESTS/$key.app.after")
    assert_eq "$before" "$after" "$key: names in the tool's directory"
    echo "$applied"
}

# The rows: EXPECTED NAME ARGUMENT_BYTES. EXPECTED is what the rules make of the argument: its file-name
# part (after the last backslash or colon, quotes removed, a word ended by any byte from 0x01 to 0x20
# outside quotes, an unclosed quote running to the end) names ZAL.exe, Glimae.dll or neither.
EXPECTED=()
NAMES=()
ARGUMENTS=()
row() {
    EXPECTED+=("$1")
    NAMES+=("$2")
    ARGUMENTS+=("$3")
}

build_rows() {
    local controls highs
    controls=$(printf '%b' "$(printf '\\x%02x' $(seq 1 31))")
    highs=$(printf '%b' "$(printf '\\x%02x' $(seq 128 255))")
    row ZAL "two levels up" '..\..\ZAL.exe'
    row ZAL "sibling directory" '..\sibling\ZAL.exe'
    row ZAL "system directory" 'C:\Windows\ZAL.exe'
    row ZAL "UNC path" '\\server\share\ZAL.exe'
    row ZAL "extended-length path" '\\?\C:\x\ZAL.exe'
    row none "alternate data stream" 'ZAL.exe:stream'
    row ZAL "drive-relative path" 'C:ZAL.exe'
    row ZAL "unclosed quote" '"ZAL.exe'
    row none "unclosed quote over a blank" '"ZAL.exe Glimae.dll'
    row Glimae "unclosed quote over a path with blanks" '"..\..\dir with blanks\glimae.DLL'
    row ZAL "control bytes end the word" "ZAL.exe$controls"
    row ZAL "control bytes before the word are skipped" "$controls"ZAL.exe
    row ZAL "control bytes inside quotes, name after them" "\"..\\$controls\\ZAL.exe\""
    row none "control byte inside the name" "ZAL$(printf '\x07').exe"
    row ZAL "high bytes in the directory" "\"$highs\\ZAL.exe\""
    row none "high bytes before the name" "$highs"ZAL.exe
    row none "non-ASCII capital is not folded" "ZAL.EX$(printf '\xc9')"
}

test_hostile_arguments_stay_in_the_tools_directory() {
    mkdir -p "$ARGS" "$MANIFESTS"
    place_prefix_decoys
    trap remove_prefix_decoys EXIT
    prefix_stamps >"$MANIFESTS/prefix.before"
    build_rows
    local i
    local -a procs=() buttons=()
    for i in "${!ARGUMENTS[@]}"; do
        lay_out_tree "$ARGS/$i"
        e2e_state "$ARGS/$i" ./p/app >"$MANIFESTS/$i.outside.before"
        e2e_state "$ARGS/$i/p/app" >"$MANIFESTS/$i.app.before"
        faults_launch "$ARGS/$i/p/app" "${ARGUMENTS[i]}" "cwd=$(winpath "$ARGS/$i/p/sibling")"
        procs[i]=$FAULTS_PROC
        buttons[i]=$FAULTS_BUTTON
    done
    for i in "${!ARGUMENTS[@]}"; do
        faults_press "${procs[i]}" "press$i" "${buttons[i]}"
    done
    local failures=0 outcome expected name
    for i in "${!ARGUMENTS[@]}"; do
        expected=${EXPECTED[i]}
        name=${NAMES[i]}
        # No error box: the window closes after the pause and the process exits with 0.
        probe_ok waitexit "proc=${procs[i]}" "since=press$i" timeout=30000
        assert_ge "${R[elapsed_ms]}" 3000 "$name: exit after the press (ms)"
        assert_eq 0 "${R[code]}" "$name: exit code"
        e2e_state "$ARGS/$i" ./p/app >"$MANIFESTS/$i.outside.after"
        assert_manifest_unchanged "$MANIFESTS/$i.outside.before" "$MANIFESTS/$i.outside.after" \
            "$name: outside the tool's directory"
        outcome=$(app_outcome "$ARGS/$i" "$i")
        if [ "$outcome" = "$expected" ]; then
            e2e_log "$(printf '%-44s %-6s' "$name" "$outcome")"
        else
            e2e_log "$(printf '%-44s %-6s expected %s' "$name" "$outcome" "$expected")"
            failures=$((failures + 1))
        fi
    done
    prefix_stamps >"$MANIFESTS/prefix.after"
    assert_manifest_unchanged "$MANIFESTS/prefix.before" "$MANIFESTS/prefix.after" "decoys in the prefix"
    assert_eq 0 "$failures" "arguments with another outcome than the rules give"
}

# Command lines are limited to 32767 characters with their terminating NUL: one of 100,000 bytes is
# refused before anything runs, and the longest one accepted is read whole.
test_longest_arguments() {
    local t=$ARGS/long exe
    lay_out_tree "$t"
    exe=$(winpath "$t/p/app/ZALUpdate.exe")
    local head="\"$exe\" " room
    room=$((32766 - ${#head}))
    assert_ge "$room" 30000 "room for the argument"
    e2e_state "$t" >"$MANIFESTS/long.before"

    local huge
    huge=$(printf '%*s' 100000 '' | tr ' ' 'd')
    ! probe launch "cmdline=$head$huge" "cwd=$(winpath "$t/p/sibling")" ||
        e2e_fail "a command line of 100,000 bytes was accepted"
    assert_eq 87 "${R[lasterror]:-}" "ERROR_INVALID_PARAMETER from CreateProcessA"
    e2e_state "$t" >"$MANIFESTS/long.refused"
    assert_manifest_unchanged "$MANIFESTS/long.before" "$MANIFESTS/long.refused" "the tree"

    # One byte over the limit is refused too, so the next two are the longest there are.
    local over
    over=$(printf '%*s' $((room + 1)) '' | tr ' ' 'd')
    ! probe launch "cmdline=$head$over" || e2e_fail "a command line of 32767 characters was accepted"

    # Not ending in the name: nothing happens.
    local filler
    filler=$(printf '%*s' "$room" '' | tr ' ' 'd')
    faults_launch "$t/p/app" "$filler" "cwd=$(winpath "$t/p/sibling")"
    faults_press "$FAULTS_PROC" plain
    probe_ok waitexit "proc=$FAULTS_PROC" since=plain timeout=30000
    assert_eq 0 "${R[code]}" "exit code"
    e2e_state "$t" >"$MANIFESTS/long.plain"
    assert_manifest_unchanged "$MANIFESTS/long.before" "$MANIFESTS/long.plain" "the tree"

    # Ending in "\ZAL.exe": the update is applied in the tool's own directory, and only there.
    local path
    path=$(printf '%*s' $(((room - 8) / 2)) '' | sed 's/ /d\\/g')
    path=$(printf '%*s' $((room - 8 - ${#path})) '' | tr ' ' 'e')$path\\ZAL.exe
    assert_eq "$room" "${#path}" "length of the argument"
    e2e_state "$t" ./p/app >"$MANIFESTS/long.outside.before"
    faults_launch "$t/p/app" "$path" "cwd=$(winpath "$t/p/sibling")"
    faults_press "$FAULTS_PROC" named
    probe_ok waitexit "proc=$FAULTS_PROC" since=named timeout=30000
    assert_eq 0 "${R[code]}" "exit code"
    assert_same_file "$t/p/app/ZAL.exe" "$t/p/app.orig/ZAL.upd"
    assert_absent "$t/p/app/ZAL.upd"
    assert_same_file "$t/p/app/Glimae.upd" "$t/p/app.orig/Glimae.upd"
    e2e_state "$t" ./p/app >"$MANIFESTS/long.outside.after"
    assert_manifest_unchanged "$MANIFESTS/long.outside.before" "$MANIFESTS/long.outside.after" \
        "outside the tool's directory"
    e2e_log "longest argument accepted: $room bytes; 100,000 bytes refused with error 87"
}

e2e_start
e2e_test "hostile arguments stay in the tool's directory" test_hostile_arguments_stay_in_the_tools_directory
e2e_test "100,000-byte argument refused, longest accepted one read whole" test_longest_arguments
e2e_finish
