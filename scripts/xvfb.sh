# Sourced: start_xvfb GEOMETRY starts a private Xvfb on a free display and exports DISPLAY;
# stop_xvfb ends it. No window manager runs, as on the machines the tests were written for. When Xvfb
# does not report a display within XVFB_START_TIMEOUT seconds (default 30), or ends without one,
# start_xvfb says why on stderr, with what Xvfb printed, and returns 1 with DISPLAY untouched.
start_xvfb() {
    local geometry=${1:-1280x1024x24} timeout=${XVFB_START_TIMEOUT:-30} fifo log number= fd status=0
    fifo=$(mktemp -u)
    log=$(mktemp)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp 3>"$fifo" >"$log" 2>&1 &
    XVFB_PID=$!
    # Xvfb writes the display's number once it accepts connections; a server that dies first closes the
    # pipe with nothing written, and one that hangs would leave the read waiting for ever.
    exec {fd}<"$fifo"
    rm -f "$fifo"
    read -r -t "$timeout" number <&"$fd" || status=$?
    exec {fd}<&-
    if [[ ! $number =~ ^[0-9]+$ ]]; then
        local why="ended without a display"
        [ $status -gt 128 ] && why="reported no display within $timeout s"
        echo "xvfb: Xvfb -screen 0 $geometry $why: $(sed -n 's/^(EE) *//; /./p' "$log" | tail -n 3 | paste -sd ' ')" >&2
        rm -f "$log"
        stop_xvfb
        return 1
    fi
    rm -f "$log"
    export DISPLAY=":$number"
}

stop_xvfb() {
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=
    fi
}
