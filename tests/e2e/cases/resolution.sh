#!/usr/bin/env bash
# At 120 pixels per inch the layout is scaled: the window font becomes -14 (MulDiv(-11, 120, 96)), N is
# the height of "0" in it, and the client area, the panel, the button and the label, with the label's
# font, grow by N/13 with MulDiv's rounding. Expected values are computed here from N as the probe
# measures it in the same Wine session.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

# mul_div A B C: the system's MulDiv: A*B/C rounded to the nearest integer, halves away from zero.
mul_div() {
    local product=$(($1 * $2)) divisor=$3 sign=1
    [ $((product < 0)) -ne $((divisor < 0)) ] && sign=-1
    product=${product#-}
    divisor=${divisor#-}
    echo $((sign * ((2 * product + divisor) / (2 * divisor))))
}

# height_of_zero FONT_HEIGHT: N for the window font (MS Sans Serif, DEFAULT_CHARSET, regular).
height_of_zero() {
    probe_ok textsize "face=MS Sans Serif" "height=$1" text=0
    echo "${R[h]}"
}

# scaled_font_height HEIGHT: a control's own font after scaling by N/13 at R pixels per inch: its point
# size -MulDiv(HEIGHT, 72, R) scaled, then turned back into a height.
scaled_font_height() {
    local size
    size=$((-$(mul_div "$1" 72 "$DPI")))
    size=$(mul_div "$size" "$N" 13)
    echo $((-$(mul_div "$size" "$DPI" 72)))
}

test_layout_grows_by_n_over_13() {
    probe_ok metrics
    DPI=${R[logpixelsy]}
    assert_eq 120 "$DPI" "logical resolution"
    local font_height
    font_height=$(mul_div -11 "$DPI" 96)
    assert_eq -14 "$font_height" "window font height"
    N=$(height_of_zero "$font_height")
    # The sizes below tell a -14 window font from its neighbours only if their N differ.
    assert_ne "$(height_of_zero -13)" "$N" "N of -13 against N of -14"
    assert_ne "$(height_of_zero -15)" "$N" "N of -15 against N of -14"
    assert_ne 13 "$N" "N at 120 pixels per inch"
    e2e_log "N = $N"

    local dir
    dir=$(e2e_install tool)
    e2e_tool_start "$dir" ZAL.exe
    local cx=${R[cx]} cy=${R[cy]} x=${R[x]} y=${R[y]} w=${R[w]} h=${R[h]}
    local client_w client_h
    client_w=$(mul_div 487 "$N" 13)
    client_h=$(mul_div 90 "$N" 13)
    assert_eq "$client_w $client_h" "${R[cw]} ${R[ch]}" "client area"
    probe_ok metrics
    assert_eq "$(((R[cxscreen] - w) / 2)) $(((R[cyscreen] - h) / 2))" "$x $y" "position centred"

    probe_ok children "hwnd=$E2E_FORM"
    local -a children
    mapfile -t children < <(probe_records child)
    e2e_record "${children[0]}"
    assert_eq TShader "${R[class]}" "first child"
    assert_eq "0 0 $client_w $client_h" "$((R[x] - cx)) $((R[y] - cy)) ${R[w]} ${R[h]}" "panel"
    e2e_record "${children[1]}"
    assert_eq TButton "${R[class]}" "second child"
    local left top width height
    left=$(mul_div 159 "$N" 13)
    top=$(mul_div 47 "$N" 13)
    width=$(($(mul_div $((159 + 169)) "$N" 13) - left))
    height=$(($(mul_div $((47 + 28)) "$N" 13) - top))
    assert_eq "$left $top $width $height" "$((R[x] - cx)) $((R[y] - cy)) ${R[w]} ${R[h]}" "button"

    # The label has no window: its place and its scaled font show in the picture, where its white text
    # is exactly the caption drawn in that font at the scaled position.
    local label_x label_y label_font
    label_x=$(mul_div 19 "$N" 13)
    label_y=$(mul_div 9 "$N" 13)
    label_font=$(scaled_font_height -13)
    e2e_log "label at ($label_x, $label_y), font height $label_font"
    e2e_label_ink "$label_font"
    e2e_check_picture "$E2E_FORM" --exclude "$label_x,$label_y,$LABEL_W,$LABEL_H" \
        --exclude "$left,$top,$width,$height" --white-mask "$LABEL_INK" --at "$label_x,$label_y"
    assert_eq 0 "$(e2e_check_value differences)" "pixels outside the label and the button unlike the model"
    assert_ge "$(e2e_check_value ink_white)" 100 "white pixels in the caption's own drawing"
    assert_eq 0 "$(e2e_check_value white_mismatches)" \
        "label pixels unlike the caption in a $label_font font at ($label_x, $label_y)"
}

e2e_start --geometry 1280x1024x24 --dpi 120
e2e_test "120 dpi: the layout grows by N/13" test_layout_grows_by_n_over_13
e2e_finish
