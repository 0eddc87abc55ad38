# shellcheck shell=bash
# The error box: the system's texts, and the box of a press that failed, with the files it leaves as they were. Sourced by tests/e2e/lib.sh.

# e2e_system_box_text CODE [INSERT]: the text of the tool's error box for a system error code: the system's
# own message, as the probe gets it from FormatMessageA in the same Wine session, with its %1 filled with
# INSERT (the name the tool fills in, as the staged file's for ERROR_BAD_EXE_FORMAT) and a full stop added
# when the message ends in a character that sorts after it.
e2e_system_box_text() {
    probe_ok errtext "code=$1"
    local text=${R[text]}
    [ -n "$text" ] || e2e_fail "the system has no text for error $1"
    if [ $# -ge 2 ]; then
        text=${text//%1/$2}
    fi
    if [ "$(printf '%s' "${text: -1}" | od -An -tu1 | tr -d ' ')" -gt 46 ]; then
        text+=.
    fi
    printf '%s' "$text"
}

# e2e_expect_error_box DIR BEFORE MARK MIN_MS MAX_MS TEXT...: the press at MARK brings up the tool's error
# box between MIN_MS and MAX_MS (scaled) after it (no sooner than the 5,000 ms the tool waits for a held
# file; or sooner than those end, for what waiting cannot change): a system message box owned by the application
# window, with the tool's title, one of the TEXTs, one button (OK) and one icon. While it shows, the
# installation DIR keeps its state BEFORE and the main window is shown but disabled; after OK, the tool goes
# on with its window enabled, and DIR is still as it was.
e2e_expect_error_box() {
    local dir=$1 before=$2 mark=$3 min=$4 max=$5
    shift 5
    probe_ok msgbox "timeout=$max"
    local box=${R[hwnd]} class=${R[class]} owner=${R[owner]} caption=${R[text_hex]} message=${R[message]}
    local -a buttons
    mapfile -t buttons < <(probe_records button)
    probe_ok time "since=$mark"
    # Seen at most a poll (20 ms) after it opened.
    assert_between "${R[elapsed_ms]}" "$min" "$(e2e_scaled "$max")" "ms from the press until the box was seen"
    assert_eq "#32770 $E2E_APP" "$class $owner" "class and owner of the box"
    assert_eq "$TITLE_HEX" "$caption" "caption bytes of the box"
    local text known=0
    for text in "$@"; do
        [ "$message" = "$text" ] && known=1
    done
    [ $known -eq 1 ] || e2e_fail "text of the box: '$message', expected $(printf "'%s' or " "$@" | sed 's/ or $//')"
    assert_eq 1 "${#buttons[@]}" "buttons in the box"
    e2e_record "${buttons[0]}"
    assert_eq 1 "${R[id]}" "the box's one button is IDOK"
    probe_ok children "hwnd=$box"
    local icons=0 line
    while IFS= read -r line; do
        e2e_record "$line"
        [ "${R[class]}" = Static ] && [ $((R[style] & 0x1F)) -eq $((SS_ICON)) ] && icons=$((icons + 1))
    done < <(probe_records child)
    assert_eq 1 "$icons" "icons in the box"

    assert_state_unchanged "$dir" "$before" "the installation while the box shows"
    probe_ok window "hwnd=$E2E_FORM"
    assert_eq "1 0" "${R[visible]} ${R[enabled]}" "main window visible, disabled while the box shows"

    probe_ok dlgpress "hwnd=$box" id=IDOK
    probe_ok waitgone "hwnd=$box" "timeout=$max"
    e2e_expect_still_open 1
    assert_state_unchanged "$dir" "$before" "the installation after the box: both files kept"
}
