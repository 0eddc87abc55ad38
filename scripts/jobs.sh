# shellcheck shell=bash
# Sourced by scripts/test.sh: jobs in the background, each in a session of its own, so that everything it
# started can be ended with it.

background_jobs=()

# background NAME LOG COMMAND...: starts COMMAND in the background, its output in LOG; $! is its process.
background() {
    local name=$1 log=$2
    shift 2
    setsid "$@" >"$log" 2>&1 &
    background_jobs+=("$!|$name|$log")
}

# wait_background PID: waits for the job and returns its status; it is then no longer end_background_jobs's
# to end.
wait_background() {
    local status=0 job
    local -a left=()
    wait "$1" || status=$?
    for job in "${background_jobs[@]}"; do
        [ "${job%%|*}" = "$1" ] || left+=("$job")
    done
    background_jobs=("${left[@]}")
    return $status
}

# end_background_jobs: ends every job still running, with all it started, and shows on stderr what each
# wrote so far. For the EXIT trap of a run that fails.
end_background_jobs() {
    local job pid name log group
    for job in "${background_jobs[@]}"; do
        IFS='|' read -r pid name log <<<"$job"
        kill -0 "$pid" 2>/dev/null || continue
        group=$(ps -o pgid= -p "$pid" | tr -d ' ')
        echo "==> ending $name, still running in the background; what it wrote so far ($log):" >&2
        [ -z "$group" ] || kill -TERM -- "-$group" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        sed 's/^/    /' "$log" >&2
    done
    background_jobs=()
}
