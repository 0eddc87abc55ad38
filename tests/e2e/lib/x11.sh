# shellcheck shell=bash
# X11: the X windows that show the tool's windows, keys typed through xdotool, screenshots and their pixels. Sourced by tests/e2e/lib.sh.

# e2e_xwindow X Y W H: the X window that shows the Windows window with that outer rectangle. With Wine
# drawing the frames, the X window and the Windows window rectangle coincide (a zero-sized window has an X
# window of 1 x 1). Waits for it to be mapped.
e2e_xwindow() {
    local x=$1 y=$2 w=$(($3 > 0 ? $3 : 1)) h=$(($4 > 0 ? $4 : 1)) tries=0 id patience
    patience=$(e2e_scaled 100)
    while [ $tries -lt "$patience" ]; do
        # xwininfo fails when a window goes while it lists them; the next try lists again.
        id=$(xwininfo -root -children 2>/dev/null | awk -v g="${w}x${h}+${x}+${y}" '
            $1 ~ /^0x/ { for (i = 2; i <= NF; i++) if ($i == g) { print $1; exit } }') || true
        if [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
            printf '%s\n' "$id"
            return 0
        fi
        sleep 0.1
        tries=$((tries + 1))
    done
    e2e_fail "no viewable X window at ${w}x${h}+${x}+${y}"
}

# e2e_xwindow_of HWND: the X window of a top-level Windows window, by its current rectangle.
e2e_xwindow_of() {
    probe_ok window "hwnd=$1"
    e2e_xwindow "${R[x]}" "${R[y]}" "${R[w]}" "${R[h]}"
}

# e2e_xkey XID KEY...: focuses the X window and types xdotool key names (Return, space, Escape, Tab,
# alt+F4 ...), one after the other. It returns once X has the keys; the program handles them a moment
# later, so check their effect with e2e_wait_for (or a probe wait), never right away.
e2e_xkey() {
    local id=$1
    shift
    xdotool windowfocus --sync "$id" || e2e_fail "cannot focus X window $id"
    xdotool key --delay 50 "$@"
}

# e2e_xtype XID TEXT
e2e_xtype() {
    xdotool windowfocus --sync "$1" || e2e_fail "cannot focus X window $1"
    xdotool type --delay 30 "$2"
}

# e2e_screenshot FILE: the whole screen, as PNG.
e2e_screenshot() {
    import -window root "png:$1" || e2e_fail "screenshot failed"
}

# e2e_crop PNG X Y W H OUT
e2e_crop() {
    "$E2E_CONVERT" "$1" -crop "${4}x${5}+${2}+${3}" +repage "png:$6"
}

# e2e_pixels PNG X Y W H: one line "x y r g b" per pixel of the rectangle, in screen coordinates, 8 bits
# per channel.
e2e_pixels() {
    "$E2E_CONVERT" "$1" -crop "${4}x${5}+${2}+${3}" +repage -depth 8 txt:- | awk -v ox="$2" -v oy="$3" '
        /^#/ { next }
        {
            split($1, at, /[,:]/)
            match($0, /\([0-9]+,[0-9]+,[0-9]+/)
            split(substr($0, RSTART + 1, RLENGTH - 1), c, ",")
            print at[1] + ox, at[2] + oy, c[1], c[2], c[3]
        }'
}

# e2e_pixel PNG X Y: "r g b" of one pixel.
e2e_pixel() {
    e2e_pixels "$1" "$2" "$3" 1 1 | awk '{ print $3, $4, $5 }'
}

assert_pixel() { # PNG X Y "R G B" [TOLERANCE per channel]
    local got tolerance=${5:-0}
    got=$(e2e_pixel "$1" "$2" "$3")
    local -a g e
    read -ra g <<<"$got"
    read -ra e <<<"$4"
    local i
    for i in 0 1 2; do
        local d=$((g[i] - e[i]))
        [ ${d#-} -le "$tolerance" ] || e2e_fail "pixel ($2,$3) of $(basename "$1") is '$got', expected '$4'"
    done
}
