# shellcheck shell=bash
# Helpers of the fault cases (tests/e2e/cases/faults*.sh), sourced after lib.sh. ZAL_FAULTS_LONG=1 makes
# the fault cases longer: more kill trials over a bigger staged file.

FAULTS_LONG=${ZAL_FAULTS_LONG:-0}
FAULTS_DATA=$E2E_HOME/faults-data

# faults_program BYTES LABEL: prints the path of a program image of exactly BYTES bytes (e2e_make_program),
# the same on every machine and run, made once and kept under build/ (and made anew when the maker
# changes). Its data vary with LABEL, so that a block that lands in the wrong place, or comes from a
# file of another LABEL, shows in a byte-for-byte comparison.
faults_program() {
    local bytes=$1 label=$2 file maker
    file=$FAULTS_DATA/$label-$bytes.exe
    maker=$(e2e_program_maker)
    mkdir -p "$FAULTS_DATA"
    if [ "$(stat -c %s "$file" 2>/dev/null)" != "$bytes" ] || [ "$maker" -nt "$file" ]; then
        e2e_make_program "$file.$$" "$bytes" "$(printf '%s' "$label" | cksum | cut -d' ' -f1)"
        mv "$file.$$" "$file"
    fi
    printf '%s\n' "$file"
}

# assert_manifest_unchanged BEFORE_FILE AFTER_FILE WHAT: two saved e2e_state listings are the same.
assert_manifest_unchanged() {
    if ! diff -u "$1" "$2" >"$2.diff"; then
        sed 's/^/      /' "$2.diff" >&2
        e2e_fail "$3 changed"
    fi
}

# faults_launch DIR ARGUMENTS [key=value...]: e2e_launch_tool, then waits for the tool's window and for
# the focus on its button; leaves the window report in R, the probe's process number in FAULTS_PROC and
# the button in FAULTS_BUTTON.
faults_launch() {
    e2e_launch_tool "$@"
    faults_await_window "${R[proc]}"
}

# faults_await_window PROC: as faults_launch, for a process already launched.
faults_await_window() {
    FAULTS_PROC=$1
    e2e_wait_for 30 "the focus on the tool's button" _faults_button_has_focus "$1"
    FAULTS_BUTTON=${R[hwnd]}
    probe_ok waitwin "proc=$1" class=TFormPrincipal visible=1
}

_faults_button_has_focus() {
    probe_ok focus "proc=$1" && [ "${R[class]}" = TButton ]
}

# faults_press PROC MARK [BUTTON]: Enter to the focused control of the tool (its button), as the keyboard
# queues it; MARK is taken on the probe's clock just before. With several tools open, only the active one
# has the focus; BUTTON names the button of another.
faults_press() {
    probe_ok postkey "proc=$1" vk=VK_RETURN "mark=$2" ${3:+"hwnd=$3"}
    assert_eq TButton "${R[class]}" "control that took Enter"
}

# faults_dismiss_box PROC BOX: OK on the tool's error box; the focus goes back to the button, where the
# user's next Enter has to land.
faults_dismiss_box() {
    probe_ok dlgpress "hwnd=$2" id=IDOK
    probe_ok waitgone "hwnd=$2" timeout=10000
    e2e_wait_for 10 "the focus back on the button after the error box" _faults_button_has_focus "$1"
}

# faults_skip NAME REASON: a test that cannot run here says so; it neither passes nor fails.
faults_skip() {
    printf '  SKIPPED %-57s %s\n' "$1" "$2"
}
