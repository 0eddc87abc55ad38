# shellcheck shell=bash
# Prefixes and sessions: a session is a private Xvfb, a prefix of the suite's own and the probe; tests run in it one by one. Sourced by tests/e2e/lib.sh.

# e2e_prefix DPI: the suite's prefix for that resolution, a copy of the project's prefix made by
# scripts/wine-prefix.sh, in which Wine already frames and places the windows itself, as it must with no
# window manager under Xvfb. Each resolution has a prefix of its own, since the whole Wine session reads it.
# Wine's relay trace, which only a process started with WINEDEBUG=+relay writes, is narrowed to the calls
# the cases look for. E2E_PREFIX_OPTIONS adds options of wine-prefix.sh (--wow64 for a 32-bit tool).
E2E_RELAY_INCLUDE='user32.PostQuitMessage'
e2e_prefix() {
    local -a options
    read -ra options <<<"${E2E_PREFIX_OPTIONS:-}"
    mkdir -p "$E2E_HOME"
    "$E2E_ROOT/scripts/wine-prefix.sh" "$E2E_HOME/prefix-$1" --dpi "$1" --relay "$E2E_RELAY_INCLUDE" "${options[@]}"
}

# e2e_start [--geometry WxHxD] [--dpi N] [--locale LOCALE]: starts a session: Xvfb, the prefix (held for
# the session, so that two runs never share a Wine session) and the probe. A case may run several
# sessions one after the other, each ended by e2e_stop (the last by e2e_finish).
e2e_start() {
    local geometry=1280x1024x24 dpi=96 locale=C.UTF-8
    while [ $# -gt 0 ]; do
        case $1 in
        --geometry) geometry=$2 ;;
        --dpi) dpi=$2 ;;
        --locale) locale=$2 ;;
        *) e2e_fail "e2e_start: unknown option $1" ;;
        esac
        shift 2
    done
    [ -f "$E2E_PROBE_EXE" ] || e2e_fail "no probe at $E2E_PROBE_EXE (build the zal_probe target)"
    trap e2e_stop EXIT
    start_xvfb "$geometry"
    E2E_PREFIX=$(e2e_prefix "$dpi") || e2e_fail "cannot prepare the Wine prefix"
    exec {E2E_LOCK_FD}>"$E2E_PREFIX.session.lock"
    flock "$E2E_LOCK_FD"
    wine_env "$E2E_PREFIX"
    # A Wine session keeps the screen it started with; this one must start on our display.
    "$E2E_WINESERVER" -w
    coproc PROBE { LC_ALL=$locale exec "$E2E_WINE" "$E2E_PROBE_EXE" 2>>"$E2E_WORK/probe.stderr"; }
    # Bash hides a coprocess's own descriptors from subshells, and every test runs in one.
    exec {E2E_TO_PROBE}>&"${PROBE[1]}" {E2E_FROM_PROBE}<&"${PROBE[0]}"
    local ready
    IFS= read -r -t "$(e2e_scaled 120)" ready <&"$E2E_FROM_PROBE" || e2e_fail "the probe did not start"
    [ "$ready" = ready ] || e2e_fail "the probe said '$ready' at start"
}

# e2e_stop: ends the session; runs from the EXIT trap too. Whatever the probe launched is terminated by it.
e2e_stop() {
    if [ -n "${PROBE_PID:-}" ]; then
        local pid=$PROBE_PID
        { printf 'quit\n' >&"$E2E_TO_PROBE"; } 2>/dev/null || true
        exec {E2E_TO_PROBE}>&- {E2E_FROM_PROBE}<&-
        local waited=0 patience
        patience=$(e2e_scaled 300)
        while kill -0 "$pid" 2>/dev/null && [ $waited -lt "$patience" ]; do
            sleep 0.1
            waited=$((waited + 1))
        done
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        PROBE_PID=
    fi
    if [ -n "${E2E_PREFIX:-}" ]; then
        timeout "$(e2e_scaled 60)" "$E2E_WINESERVER" -w || true
        E2E_PREFIX=
    fi
    if [ -n "${E2E_LOCK_FD:-}" ]; then
        exec {E2E_LOCK_FD}>&-
        E2E_LOCK_FD=
    fi
    stop_xvfb
}

# e2e_test NAME FUNCTION [ARGS...]: runs one test in a subshell, prints its result and time, and lets the
# probe go of whatever the test started or locked.
e2e_test() {
    local name=$1 start status
    shift
    start=$(date +%s%N)
    echo "# test $name" >>"$E2E_WORK/probe.log"
    set +e
    (
        set -euo pipefail
        "$@"
    )
    status=$?
    set -e
    local ms=$((($(date +%s%N) - start) / 1000000))
    if [ $status -eq 0 ]; then
        printf '  ok   %-60s %6d ms\n' "$name" "$ms"
        E2E_PASSED=$((E2E_PASSED + 1))
    else
        printf '  FAIL %-60s %6d ms\n' "$name" "$ms"
        E2E_FAILED=$((E2E_FAILED + 1))
    fi
    probe reset >/dev/null || true
}

# e2e_finish: ends the session; the case's exit status says whether every test passed.
e2e_finish() {
    e2e_stop
    trap - EXIT
    echo "  $E2E_PASSED passed, $E2E_FAILED failed"
    [ "$E2E_FAILED" -eq 0 ]
}
