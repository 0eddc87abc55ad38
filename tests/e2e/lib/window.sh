# shellcheck shell=bash
# The tool's windows as every suite expects them: classes, styles, geometry, children, focus and icon. Sourced by tests/e2e/lib.sh.

# e2e_tool_start DIR ARGUMENTS [key=value...]: e2e_launch_tool, then waits for the tool's main window
# (TFormPrincipal) to show and for its application window. Sets E2E_FORM and E2E_APP (window handles) and
# E2E_TOOL_TID (the tool's main thread, decimal); leaves the main window's report in R.
e2e_tool_start() {
    e2e_launch_tool "$@"
    E2E_TOOL_TID=${R[tid]}
    probe_ok waitwin class=TApplication
    E2E_APP=${R[hwnd]}
    probe_ok waitwin class=TFormPrincipal visible=1
    E2E_FORM=${R[hwnd]}
}

# e2e_start_staged NAME [key=value...]: e2e_tool_start with the argument ZAL.exe over a fresh installation
# NAME with an update of ZAL.exe staged. Sets DIR (the installation) and BEFORE (its state before the run);
# key=value pairs go to launch.
e2e_start_staged() {
    local name=$1
    shift
    DIR=$(e2e_install "$name")
    e2e_put "$DIR" ZAL.exe ZAL.upd
    BEFORE=$(e2e_state "$DIR")
    e2e_tool_start "$DIR" ZAL.exe "$@"
}

# e2e_press HWND MARK KEY...: types xdotool KEYs into the top-level window HWND through X, taking MARK on
# the probe's clock just before them, once the window has the X focus. Between the mark and the key there
# is only the start of xdotool, a few milliseconds, against the seconds the cases measure since the mark.
e2e_press() {
    local xid mark=$2
    xid=$(e2e_xwindow_of "$1")
    shift 2
    xdotool windowfocus --sync "$xid" || e2e_fail "cannot focus X window $xid"
    probe_ok mark "name=$mark"
    xdotool key --delay 50 "$@"
}

# e2e_expect_close_after MARK MIN_MS: the tool's main window goes and the tool exits with code 0, neither
# sooner than MIN_MS after MARK.
e2e_expect_close_after() {
    probe_ok waitgone "hwnd=$E2E_FORM" "since=$1"
    assert_ge "${R[elapsed_ms]}" "$2" "ms from the press until the window went"
    probe_ok waitexit "since=$1"
    assert_eq 0 "${R[code]}" "exit code"
    assert_ge "${R[elapsed_ms]}" "$2" "ms from the press until the process ended"
}

# e2e_expect_still_open [SECONDS]: the tool's window is still shown, and enabled, after SECONDS (default 1).
e2e_expect_still_open() {
    sleep "${1:-1}"
    probe_ok status
    assert_eq 1 "${R[running]}" "the tool still running"
    probe_ok window "hwnd=$E2E_FORM"
    assert_eq "1 1" "${R[visible]} ${R[enabled]}" "main window visible and enabled"
}

# e2e_expect_button_focused [SECONDS]: the keyboard focus settles, within SECONDS (default 5), on the
# tool's button shown as the default push button (BS_DEFPUSHBUTTON). The look follows the focus within one
# message of the tool, which the probe may read half way; leaves the focus report in R.
e2e_expect_button_focused() {
    e2e_wait_for "${1:-5}" "the focus on the default-looking button" _e2e_button_focused
}

_e2e_button_focused() {
    probe_ok focus && [ "${R[class]}" = TButton ] && [ "${R[defpush]}" = 1 ]
}

# e2e_expect_children FORM CX CY: the form's two child windows, the label having none of its own: the panel
# filling the client area whose screen origin is (CX, CY), and on it the button at (159, 47), 169 x 28, with
# its caption. Leaves the button's record in R.
e2e_expect_children() {
    local form=$1 cx=$2 cy=$3
    probe_ok children "hwnd=$form"
    local -a children
    mapfile -t children < <(probe_records child)
    assert_eq 2 "${#children[@]}" "child windows"
    e2e_record "${children[0]}"
    local panel=${R[hwnd]}
    assert_eq "TShader $form" "${R[class]} ${R[parent]}" "first child's class and parent"
    assert_eq "0 0 487 90" "$((R[x] - cx)) $((R[y] - cy)) ${R[w]} ${R[h]}" "panel x y w h in the client area"
    e2e_record "${children[1]}"
    assert_eq "TButton $panel" "${R[class]} ${R[parent]}" "second child's class and parent"
    assert_eq "159 47 169 28" "$((R[x] - cx)) $((R[y] - cy)) ${R[w]} ${R[h]}" "button x y w h in the client area"
    assert_eq "$BUTTON_HEX" "${R[text_hex]}" "button caption bytes"
}

# e2e_expect_main_window FORM APP: the tool's main window as the system reports it: its class, styles and
# class style, owned by the application window APP, and its caption. Leaves its report in R.
e2e_expect_main_window() {
    probe_ok window "hwnd=$1"
    assert_eq TFormPrincipal "${R[class]}" "class"
    assert_eq "$(hex "FORM_STYLE | WS_VISIBLE")" "$(hex "${R[style]}")" "style once shown"
    assert_eq 0x00000080 "$(hex "${R[exstyle]} & ~WS_EX_WINDOWEDGE")" "extended style (WS_EX_TOOLWINDOW)"
    # Nothing but the system's own WS_EX_WINDOWEDGE may come on top of what was asked for.
    assert_match '^0x000001?80$' "$(hex "${R[exstyle]}")" "extended style as the system keeps it"
    assert_eq "$(hex $CS_DBLCLKS)" "$(hex "${R[classstyle]}")" "class style"
    assert_eq "$2" "${R[owner]}" "owner"
    assert_eq TApplication "${R[owner_class]}" "class of the owner"
    assert_eq "$TITLE_HEX" "${R[text_hex]}" "caption bytes"
}

# e2e_expect_client_area_centred FORM: a client area of 487 x 90 inside the system's own frame for the
# window's styles, the window centred on the screen, and Wine drawing it where it says it is.
e2e_expect_client_area_centred() {
    probe_ok window "hwnd=$1"
    local style=${R[style]} exstyle=${R[exstyle]} x=${R[x]} y=${R[y]} w=${R[w]} h=${R[h]}
    assert_eq "487 90" "${R[cw]} ${R[ch]}" "client area"
    # The frame is the system's own for these styles: nothing else is added to the outer size.
    probe_ok adjust "style=$style" "exstyle=$exstyle" w=487 h=90
    assert_eq "${R[w]} ${R[h]}" "$w $h" "outer size from AdjustWindowRectEx"
    probe_ok metrics
    assert_eq "$(((R[cxscreen] - w) / 2)) $(((R[cyscreen] - h) / 2))" "$x $y" "position centred on the screen"
    e2e_xwindow "$x" "$y" "$w" "$h" >/dev/null
}

# e2e_expect_application_window APP: the application window, which carries the taskbar button: visible,
# since a window of the tool is, yet of no size at the screen's centre, owned by nobody, with the title.
e2e_expect_application_window() {
    probe_ok metrics
    local cx=${R[cxscreen]} cy=${R[cyscreen]}
    probe_ok window "hwnd=$1"
    assert_eq TApplication "${R[class]}" "application window class"
    assert_eq "$(hex "APP_STYLE | WS_VISIBLE")" "$(hex "${R[style]}")" "application window style"
    assert_eq 0x00000000 "$(hex "${R[exstyle]} & ~WS_EX_WINDOWEDGE")" "application window extended style"
    assert_eq "$((cx / 2)) $((cy / 2)) 0 0" "${R[x]} ${R[y]} ${R[w]} ${R[h]}" "application window x y w h"
    assert_eq 0x0 "${R[owner]}" "application window owner"
    assert_eq "$TITLE_HEX" "${R[text_hex]}" "application window title bytes"
}

# e2e_expect_mainicon HWND...: each top-level window shows MAINICON as its big icon. Wine answers
# WM_GETICON from another process with 0, so the icon is read where Wine publishes it: the X window's
# _NET_WM_ICON, taken from the window's big icon (or, lacking one, its class icon or a stock icon).
e2e_expect_mainicon() {
    local hwnd
    for hwnd in "$@"; do
        e2e_icon_matches "$(e2e_xwindow_of "$hwnd")" "$E2E_ROOT/app/MAINICON.ico"
    done
}

# e2e_check_form_picture FORM [OPTIONS...]: e2e_check_picture on the main window at 96 dpi: the gradient
# outside the label's caption at (19, 9) and the button, and the white of the caption against the label's
# own drawing (LABEL_INK, of LABEL_W x LABEL_H).
e2e_check_form_picture() {
    local form=$1
    shift
    e2e_label_ink -13
    e2e_check_picture "$form" --exclude "19,9,$LABEL_W,$LABEL_H" --exclude 159,47,169,28 \
        --white-mask "$LABEL_INK" --at 19,9 "$@"
}
