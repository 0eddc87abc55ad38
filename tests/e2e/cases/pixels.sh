#!/usr/bin/env bash
# What the window shows, read from a screenshot: the gradient pixel for pixel against the band model
# (core/Gradient, the model the host tests pin), the label's white text exactly where the label draws
# it, and the button covering its rectangle and nothing more.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

start_and_check() { # checker options beyond the label's and the button's rectangles
    local dir
    dir=$(e2e_install tool)
    e2e_tool_start "$dir" ZAL.exe
    assert_eq 70 "${#E2E_LABEL_CAPTION}" "characters in the label's caption"
    e2e_check_form_picture "$E2E_FORM" "$@"
    assert_eq "487 90" "$CW $CH" "client area"
}

test_gradient_equals_the_band_model_outside_label_and_button() {
    start_and_check --model-out "$E2E_WORK/model.ppm"
    assert_eq $((487 * 90 - LABEL_W * LABEL_H - 169 * 28)) "$(e2e_check_value compared)" "pixels compared"
    assert_eq 0 "$(e2e_check_value differences)" \
        "pixels that differ from the model ($(grep -m1 '^diff' <<<"$CHECK" || true))"
    # The worked values of the panel, straight from its rule: row 0 is band 0, row 2 band 3 (red 62 since
    # -1.5 rounds to even), row 89 band 127; the right-hand column, clear of both controls, as the left.
    local x
    for x in "$CX" $((CX + 486)); do
        assert_pixel "$SHOT_PNG" "$x" "$CY" "64 128 128"
        assert_pixel "$SHOT_PNG" "$x" $((CY + 2)) "62 125 125"
        assert_pixel "$SHOT_PNG" "$x" $((CY + 89)) "0 1 1"
    done
}

test_label_white_text_starts_at_19_9() {
    start_and_check
    assert_ge "$(e2e_check_value ink_white)" 100 "white pixels in the label's own drawing"
    # Pure white is where a glyph covers a pixel whole, whatever the background: the window's white pixels
    # are exactly those of the caption drawn at (19, 9). Outside the label the gradient, which holds no
    # white, matches the model.
    assert_eq 0 "$(e2e_check_value white_mismatches)" \
        "pixels white in one and not the other ($(grep -m1 '^white' <<<"$CHECK" || true))"
    assert_eq 0 "$(e2e_check_value differences)" "pixels outside the label and the button unlike the model"
    assert_between "$(e2e_check_value first_white_x)" 19 21 "first white column"
    assert_between "$(e2e_check_value first_white_y)" 9 $((9 + LABEL_H - 1)) "first white row"
}

test_button_covers_159_47_169_by_28() {
    start_and_check --covered 159,47,169,28
    # Around it the gradient matches the model, so the button stops at its edges; on them and inside,
    # every pixel is the button's own.
    assert_eq 0 "$(e2e_check_value differences)" "pixels around the button that differ from the model"
    assert_eq 390 "$(e2e_check_value edge)" "pixels on the button's outermost ring"
    assert_eq 0 "$(e2e_check_value edge_same)" "pixels of the button's edge that show the gradient"
    assert_eq 0 "$(e2e_check_value inner_same)" "pixels inside the button that show the gradient"
    # A face: one colour fills most of the inside. Which one is the system's: the desktop's visual style
    # (the manifest asks for common controls 6) or the classic button face.
    assert_ge "$(e2e_check_value inner_mode_count)" $(($(e2e_check_value inner) / 2)) \
        "pixels inside of the commonest colour, $(e2e_check_value inner_mode)"
}

e2e_start --geometry 1280x1024x24
e2e_test "gradient equals the band model outside label and button" \
    test_gradient_equals_the_band_model_outside_label_and_button
e2e_test "label's white text starts at (19, 9)" test_label_white_text_starts_at_19_9
e2e_test "button covers (159, 47) 169 x 28" test_button_covers_159_47_169_by_28
e2e_finish
