# shellcheck shell=bash
# Wine's trace of calls into system DLLs. Sourced by tests/e2e/lib.sh.

# The prefixes trace only the calls named in RelayInclude (see e2e_prefix). A process launched with
# env=WINEDEBUG=+relay writes them to the probe's stderr, each line tagged with the thread's id.

# e2e_trace_offset: where the trace of what is launched next will start.
e2e_trace_offset() {
    stat -c %s "$E2E_WORK/probe.stderr" 2>/dev/null || echo 0
}

# e2e_trace_calls OFFSET TID FUNCTION: how many calls of FUNCTION (as "user32.PostQuitMessage") the thread
# TID (decimal) made, in the trace after OFFSET.
e2e_trace_calls() {
    local tag
    tag=$(printf '%04x' "$2")
    tail -c +"$(($1 + 1))" "$E2E_WORK/probe.stderr" | grep -c "^$tag:Call $3(" || true
}
