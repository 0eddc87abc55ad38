#!/usr/bin/env bash
# The tool killed at spread-out moments after the press, over a large staged file: each time the installed
# file is either the old one with the staged copy intact, or the whole new one with the staged copy gone or
# still whole; and the next run removes any temporary file and completes the update. The moments are
# spread over the phases of the replacement (copy, flush, move, deletion) as a few uninterrupted runs
# measure them on this machine, and the last ones close in on the move. The outcomes are reported by kind.
# ZAL_FAULTS_LONG=1: more trials over a bigger file.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_faults.sh"

if [ "$FAULTS_LONG" = 1 ]; then
    STAGED_BYTES=$((512 * 1024 * 1024))
    TRIALS=120
else
    STAGED_BYTES=$((128 * 1024 * 1024))
    TRIALS=30
fi
OLD_BYTES=$((3 * 1024 * 1024 + 17))

NEW=$(faults_pattern "$STAGED_BYTES" new)
OLD=$(faults_pattern "$OLD_BYTES" old)
TMP_NAME=ZAL.exe.zalupdate-tmp

lay_out() { # -> DIR
    local dir
    dir=$(e2e_install trial)
    cp "$OLD" "$dir/ZAL.exe"
    cp "$NEW" "$dir/ZAL.upd"
    printf '%s\n' "$dir"
}

# Watches DIR from the Linux side and prints, in milliseconds after the Unix time PRESS_NS, when the
# temporary file appeared and reached its full size, when the installed file was replaced and when the
# staged copy went; -1 for a phase it did not see. It creates READY once it has read the installed file,
# so that the press never comes before the watch starts, and stops when the staged copy is gone.
watch_phases() { # DIR PRESS_NS_FILE SECONDS READY
    python3 - "$1" "$2" "$3" "$STAGED_BYTES" "$TMP_NAME" "$4" <<'EOF'
import os, sys, time
folder, press_file, tmp_name, ready = sys.argv[1], sys.argv[2], sys.argv[5], sys.argv[6]
seconds, full = float(sys.argv[3]), int(sys.argv[4])
def stat(name):
    try:
        return os.stat(os.path.join(folder, name))
    except FileNotFoundError:
        return None
installed = stat("ZAL.exe").st_ino
open(ready, "w").close()
seen = {}
deadline = time.time() + seconds
while time.time() < deadline and "delete" not in seen:
    now = time.time_ns()
    tmp, target, staged = stat(tmp_name), stat("ZAL.exe"), stat("ZAL.upd")
    if tmp and "copy" not in seen:
        seen["copy"] = now
    if tmp and tmp.st_size == full and "flush" not in seen:
        seen["flush"] = now
    if target and target.st_ino != installed and "move" not in seen:
        seen["move"] = now
    if staged is None and "delete" not in seen:
        seen["delete"] = now
    time.sleep(0.0005)  # a busy loop would take a core from the tool and stretch the phases it measures
with open(press_file) as f:
    press = int(f.read())
for phase in ("copy", "flush", "move", "delete"):
    print(phase, (seen[phase] - press) / 1e6 if phase in seen else -1)
EOF
}

# An uninterrupted run completes the update and exits with 0. Then the phases are measured over three more
# runs, each ended once its update is complete, and the median of each is printed as "PHASE MS". The whole
# replacement takes a few tens of milliseconds, so a watcher kept off the processor by the load of the
# machine can miss a phase; such a run is measured again, a few times at most.
measure_phases() {
    local dir
    dir=$(lay_out)
    faults_launch "$dir" ZAL.exe
    faults_press "$FAULTS_PROC" press
    probe_ok waitexit "proc=$FAULTS_PROC" since=press timeout=60000
    assert_eq 0 "${R[code]}" "exit code"
    assert_same_file "$dir/ZAL.exe" "$NEW"
    assert_absent "$dir/ZAL.upd"
    assert_absent "$dir/$TMP_NAME"
    local measured=0 attempt phases
    for ((attempt = 1; attempt <= 8 && measured < 3; attempt++)); do
        dir=$(lay_out)
        faults_launch "$dir" ZAL.exe
        phases=$E2E_WORK/phases.attempt
        rm -f "$E2E_WORK/watching"
        watch_phases "$dir" "$E2E_WORK/press.ns" 60 "$E2E_WORK/watching" >"$phases" &
        local watcher=$!
        e2e_wait_for 30 "the phase watcher" test -e "$E2E_WORK/watching"
        date +%s%N >"$E2E_WORK/press.ns"
        faults_press "$FAULTS_PROC" press
        wait "$watcher"
        probe_ok kill "proc=$FAULTS_PROC"
        assert_same_file "$dir/ZAL.exe" "$NEW"
        assert_absent "$dir/ZAL.upd"
        if grep -q ' -1$' "$phases"; then
            e2e_log "measuring run $attempt missed a phase:" $(grep ' -1$' "$phases" | cut -d' ' -f1) >&2
        else
            measured=$((measured + 1))
            mv "$phases" "$E2E_WORK/phases.$measured"
        fi
    done
    [ "$measured" = 3 ] || e2e_fail "the phases were seen whole in only $measured of $((attempt - 1)) runs"
    cat "$E2E_WORK"/phases.? | sort -k1,1 -k2,2n | awk '
        { ms[$1, ++n[$1]] = $2 }
        END {
            split("copy flush move delete", order)
            for (i = 1; i <= 4; i++) print order[i], ms[order[i], 2]
        }'
}

# Kill moments, in whole milliseconds after the press: a few before the copy starts, evenly over the copy
# and the flush, and a few in the pause that follows.
plan_moments() { # COPY FLUSH MOVE DELETE COUNT (ms) -> one moment a line
    python3 - "$@" <<'EOF'
import sys
copy, flush, move, delete, count = [float(v) for v in sys.argv[1:6]]
count = int(count)
before = after = max(2, count // 10)
in_copy = (count - before - after) // 2
in_flush = count - before - after - in_copy
def spread(lo, hi, n):
    return [lo + (hi - lo) * (i + 0.5) / n for i in range(n)]
moments = [copy * i / before for i in range(before)] + spread(copy, flush, in_copy)
moments += spread(flush, move, in_flush) + spread(delete + 5, delete + 1000, after)
for m in moments:
    print(max(0, round(m)))
EOF
}

# The move and the deletion take microseconds, and where they fall moves from run to run with the load of
# the machine. So the last kills close in on the boundary that the trials so far show, each halfway between
# the latest kill that left the old file and the earliest that left the new one, and never twice at the
# same moment.
next_boundary_moment() { # OUTCOMES_FILE -> a moment
    awk -F'\t' '
        { tried[$2] = 1 }
        $1 ~ /^old/ && (last_old == "" || $2 > last_old) { last_old = $2 }
        $1 ~ /^new/ && $2 < 3000 && (first_new == "" || $2 < first_new) { first_new = $2 }
        END {
            if (last_old == "") last_old = 0
            if (first_new == "") first_new = last_old + 50
            m = int((last_old + first_new) / 2 + 0.5)
            for (step = 1; m in tried; step++) m += step % 2 ? step : -step
            print m < 0 ? 0 : m
        }' "$1"
}

# One trial: kill at MS after the press, classify what is on disk, then let a second run finish the job.
# Prints the outcome's name.
kill_trial() { # MS
    local dir
    dir=$(lay_out)
    faults_launch "$dir" ZAL.exe >&2
    local proc=$FAULTS_PROC
    faults_press "$proc" press >&2
    probe_ok kill "proc=$proc" "after=$1" since=press >&2
    local ended=${R[already_ended]}
    [ "$ended" = 0 ] || assert_eq 0 "${R[code]}" "exit code of a run that ended before the kill"

    local installed staged temporary
    if cmp -s "$dir/ZAL.exe" "$OLD"; then
        installed=old
    elif cmp -s "$dir/ZAL.exe" "$NEW"; then
        installed=new
    else
        e2e_fail "killed at $1 ms: the installed file is neither the old nor the new one"
    fi
    if [ ! -e "$dir/ZAL.upd" ]; then
        staged=gone
    elif cmp -s "$dir/ZAL.upd" "$NEW"; then
        staged=whole
    else
        e2e_fail "killed at $1 ms: the staged copy is damaged"
    fi
    if [ ! -e "$dir/$TMP_NAME" ]; then
        temporary=none
    elif cmp -s "$dir/$TMP_NAME" "$NEW"; then
        temporary=whole
    elif cmp -s -n "$(stat -c %s "$dir/$TMP_NAME")" "$dir/$TMP_NAME" "$NEW"; then
        temporary=partial
    else
        temporary=other
    fi
    case $installed/$staged in
    old/whole | new/gone | new/whole) ;;
    *) e2e_fail "killed at $1 ms: installed file $installed, staged copy $staged" ;;
    esac

    # The next run: a temporary file is cleared away and the update is completed.
    faults_launch "$dir" ZAL.exe >&2
    local next=$FAULTS_PROC
    faults_press "$next" again >&2
    e2e_wait_for 60 "the next run to complete the update" test ! -e "$dir/ZAL.upd" -a ! -e "$dir/$TMP_NAME"
    # The run is in its pause by now; ending it there saves three seconds a trial.
    probe_ok kill "proc=$next" after=500 since=again >&2
    [ "${R[already_ended]}" = 0 ] || assert_eq 0 "${R[code]}" "exit code of the next run"
    assert_same_file "$dir/ZAL.exe" "$NEW"
    assert_absent "$dir/ZAL.upd"
    assert_absent "$dir/$TMP_NAME"
    probe_ok reset >&2

    case $installed/$staged/$temporary in
    old/whole/none) echo "old, no temporary file" ;;
    old/whole/partial) echo "old, part of the temporary file" ;;
    old/whole/whole) echo "old, whole temporary file" ;;
    old/whole/other) echo "old, temporary file of other content" ;;
    new/whole/none) echo "new, staged copy still whole" ;;
    new/gone/none) echo "new, staged copy gone" ;;
    *) e2e_fail "killed at $1 ms: a temporary file is left beside an applied update ($temporary)" ;;
    esac
}

run_trials() { # MS...
    local moment outcome
    for moment in "$@"; do
        outcome=$(kill_trial "$moment")
        printf '%s\t%s\n' "$outcome" "$moment" >>"$E2E_WORK/outcomes"
    done
}

test_killed_mid_replacement() {
    measure_phases >"$E2E_WORK/phases"
    local -a phases=()
    local phase ms
    while read -r phase ms; do
        phases+=("$(printf '%.0f' "$ms")")
    done <"$E2E_WORK/phases"
    e2e_log "$((STAGED_BYTES / 1024 / 1024)) MiB staged; after the press: copy from ${phases[0]} ms," \
        "flush from ${phases[1]} ms, move at ${phases[2]} ms, deletion at ${phases[3]} ms"
    local boundary=$((TRIALS * 3 / 10))
    local -a moments
    mapfile -t moments < <(plan_moments "${phases[@]}" $((TRIALS - boundary)))
    : >"$E2E_WORK/outcomes"
    run_trials "${moments[@]}"
    local i
    for ((i = 0; i < boundary; i++)); do
        run_trials "$(next_boundary_moment "$E2E_WORK/outcomes")"
    done
    local trials
    trials=$(wc -l <"$E2E_WORK/outcomes")
    assert_ge "$trials" 30 "trials"
    e2e_log "outcomes of $trials kills (installed file; kill moments in ms after the press):"
    local outcome
    for outcome in "old, no temporary file" "old, part of the temporary file" "old, whole temporary file" \
        "old, temporary file of other content" "new, staged copy still whole" "new, staged copy gone"; do
        awk -F'\t' -v o="$outcome" '$1 == o { n++; at = at " " $2 }
            END { if (n || o !~ /other/) printf "      %3d  %-37s%s\n", n, o, at }' "$E2E_WORK/outcomes"
    done
    # The spread has to reach into the replacement itself, or the trials prove little.
    grep -q '^old, part of\|^old, whole' "$E2E_WORK/outcomes" ||
        e2e_fail "no kill landed during the copy or the flush"
    grep -q '^new' "$E2E_WORK/outcomes" || e2e_fail "no kill landed after the move"
}

e2e_start
e2e_test "killed mid-replacement: old or whole new, next run completes" test_killed_mid_replacement
e2e_finish
