# Sourced: start_xvfb GEOMETRY starts a private Xvfb on a free display and exports DISPLAY;
# stop_xvfb ends it. No window manager runs, as on the machines the tests were written for.
start_xvfb() {
    local geometry=${1:-1280x1024x24} fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    XVFB_PID=$!
    local number
    read -r number <"$fifo"
    rm -f "$fifo"
    export DISPLAY=":$number"
}

stop_xvfb() {
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=
    fi
}
