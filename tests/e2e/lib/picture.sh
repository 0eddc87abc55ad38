# shellcheck shell=bash
# What the tool's window shows: the label's ink, screenshots of the client area against the gradient model. Sourced by tests/e2e/lib.sh.

E2E_LABEL_CAPTION=$(cp1252 'Para concluir a atualização, pressione o botão  "Concluir Atualização"')
E2E_FROM_COLOR=8421440 # the panel's FromColor: red 64, green 128, blue 128; ToColor black, no mirror

# e2e_label_ink HEIGHT: the label's caption measured as the label measures itself (DrawTextA with
# DT_CALCRECT in Arial bold, ANSI_CHARSET, of that font height, on the screen) in LABEL_W and LABEL_H, and
# drawn the same way, white on black, into the PPM file LABEL_INK.
e2e_label_ink() {
    LABEL_INK=$E2E_WORK/label-ink$1.ppm
    probe_ok textsize face=Arial "height=$1" weight=700 charset=0 "text=$E2E_LABEL_CAPTION" \
        "ink=$(winpath "$LABEL_INK")"
    LABEL_W=${R[dt_w]} LABEL_H=${R[dt_h]}
}

# e2e_shoot_client HWND: a screenshot (SHOT_PNG) and the window's client area from it (SHOT, a PPM); the
# client rectangle in screen coordinates in CX, CY, CW and CH.
e2e_shoot_client() {
    probe_ok window "hwnd=$1"
    CX=${R[cx]} CY=${R[cy]} CW=${R[cw]} CH=${R[ch]}
    SHOT_PNG=$E2E_WORK/screen.png
    SHOT=$E2E_WORK/client.ppm
    e2e_screenshot "$SHOT_PNG"
    e2e_to_ppm "$SHOT_PNG" "$CX" "$CY" "$CW" "$CH" "$SHOT"
}

# e2e_check_picture HWND OPTIONS...: compares the client area of HWND with the panel's gradient model
# (zal_shader_picture with OPTIONS), on fresh screenshots until the gradient matches or 10 s (scaled) have
# passed, since the first paint may come a moment after the window shows. CHECK holds the checker's last
# report, also kept in the work directory.
e2e_check_picture() {
    local hwnd=$1 checker deadline
    shift
    checker=$(e2e_native_tool zal_shader_picture tests/e2e/model/ShaderPicture.cpp core/Gradient.cpp \
        testkit/BandPicture.cpp core/Gradient.h testkit/BandPicture.h core/Colors.h)
    deadline=$((SECONDS + $(e2e_scaled 10)))
    while :; do
        e2e_shoot_client "$hwnd"
        CHECK=$("$checker" "$SHOT" --from "$E2E_FROM_COLOR" --to 0 "$@") || e2e_fail "picture checker failed"
        [[ $CHECK == *" differences=0"* ]] && break
        [ $SECONDS -lt $deadline ] || break
        sleep 0.3
    done
    printf '%s\n' "$CHECK" >"$E2E_WORK/picture-check.txt"
}

# e2e_check_value NAME: the value of NAME= in CHECK.
e2e_check_value() {
    local value
    value=$(printf '%s\n' "$CHECK" | grep -o "\\b$1=[^ ]*" | head -1)
    printf '%s' "${value#*=}"
}
