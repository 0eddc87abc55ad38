# shellcheck shell=bash
# The probe, a Windows program of the suite run as a coprocess: one command a line, its records back. Sourced by tests/e2e/lib.sh.

# e2e_record LINE: parses one record line into R (R[kind] is its first word; values decoded).
e2e_record() {
    local token key value
    local -a tokens
    R=()
    read -ra tokens <<<"$1"
    R[kind]=${tokens[0]:-}
    for token in "${tokens[@]:1}"; do
        key=${token%%=*}
        value=${token#*=}
        value=${value//\\/\\\\}
        printf -v "R[$key]" '%b' "${value//%/\\x}"
    done
}

# probe VERB [key=value...]: one command; values are raw bytes (encoded here). Sets PROBE_LINES (the
# record lines), PROBE_STATUS (the status line) and R: the answer's main record (its first one other than
# the "at" of a delayed command), or the status line of a failure. Returns 1 when the probe answers fail.
# Its waits' timeouts, given or the probe's 30 s, are scaled by E2E_TIME_SCALE; the delays of after= and the
# durations of ms= are not, since the cases time what they do by them.
probe() {
    [ -n "${PROBE_PID:-}" ] || e2e_fail "the probe is not running"
    local verb=$1 line=$1 arg answer wait_s value timed=0
    wait_s=$(e2e_scaled 90)
    shift
    for arg in "$@"; do
        value=${arg#*=}
        case $arg in
        timeout=*)
            value=$(e2e_scaled "$value")
            timed=1
            ;;
        esac
        line+=" ${arg%%=*}=$(_e2e_pct "$value")"
        case $arg in
        timeout=* | after=* | ms=*) wait_s=$((wait_s + value / 1000)) ;;
        esac
    done
    case $verb in
    waitwin | waitgone | waitexit | msgbox | send)
        if [ $timed = 0 ] && [ "$E2E_TIME_SCALE" != 1 ]; then
            line+=" timeout=$(e2e_scaled 30000)"
            wait_s=$((wait_s + $(e2e_scaled 30)))
        fi
        ;;
    esac
    printf '%s\n' "$line" >>"$E2E_WORK/probe.log"
    printf '%s\n' "$line" >&"$E2E_TO_PROBE"
    PROBE_LINES=()
    PROBE_STATUS=
    while :; do
        if ! IFS= read -r -t "$wait_s" answer <&"$E2E_FROM_PROBE"; then
            # Out of step for good: end the probe, so that the tests after this one fail at once.
            kill "$PROBE_PID" 2>/dev/null || true
            e2e_fail "the probe did not answer '${line:0:200}' within $wait_s s; the session is over"
        fi
        printf '%s\n' "$answer" >>"$E2E_WORK/probe.log"
        case $answer in
        "ok "* | "fail "*)
            PROBE_STATUS=$answer
            break
            ;;
        *) PROBE_LINES+=("$answer") ;;
        esac
    done
    if [[ $PROBE_STATUS == fail* ]]; then
        e2e_record "$PROBE_STATUS"
        return 1
    fi
    R=()
    local record
    for record in "${PROBE_LINES[@]}"; do
        [[ $record == "at "* ]] && continue
        e2e_record "$record"
        break
    done
    return 0
}

# probe_ok VERB [key=value...]: as probe, and a failure fails the test.
probe_ok() {
    probe "$@" || e2e_fail "probe $1: ${R[reason]:-} ${R[message]:-}"
}

# probe_records KIND: the record lines of the last answer that are of KIND, one a line.
probe_records() {
    local line
    for line in "${PROBE_LINES[@]}"; do
        [[ $line == "$1 "* || $line == "$1" ]] && printf '%s\n' "$line"
    done
    return 0
}

# e2e_wait_for SECONDS WHAT COMMAND...: runs COMMAND every 0.1 s until it succeeds; fails the test when it
# has not within SECONDS (scaled). COMMAND runs in the current shell, so R holds what its last probe answered.
e2e_wait_for() {
    local seconds what=$2 deadline
    seconds=$(e2e_scaled "$1")
    shift 2
    deadline=$(($(date +%s%N) + seconds * 1000000000))
    until "$@"; do
        [ "$(date +%s%N)" -lt "$deadline" ] || e2e_fail "gave up after $seconds s waiting for $what"
        sleep 0.1
    done
}
