#!/usr/bin/env bash
# The tool killed at spread-out moments after the press, over a large staged file that is not yet on disk:
# each time, the directory holds either the old installed file with the staged copy intact, or the whole
# new installed file with the staged copy gone, and nothing else; and the next run finishes from either.
# The moments are spread over the replacement (the flush of the staged copy, then its rename over the
# installed file) as a few uninterrupted runs measure it on this machine, and the last ones close in on the
# rename. The outcomes are reported by kind. Under Wine the rename is Linux's, whose atomicity a few trials
# show as well as many; ZAL_FAULTS_LONG=1 runs more of them over a bigger file.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib/faults.sh"

if [ "$FAULTS_LONG" = 1 ]; then
    STAGED_BYTES=$((512 * 1024 * 1024))
    TRIALS=40
else
    STAGED_BYTES=$((128 * 1024 * 1024))
    TRIALS=8
fi
OLD_BYTES=$((3 * 1024 * 1024 + 17))

NEW=$(faults_program "$STAGED_BYTES" new)
OLD=$(faults_program "$OLD_BYTES" old)

# A fresh copy of the staged file each time, so that its content is still on its way to the disk when the
# button is pressed, as it is right after ZAL wrote it.
lay_out() { # -> DIR
    local dir
    dir=$(e2e_install trial)
    cp "$OLD" "$dir/ZAL.exe"
    cp "$NEW" "$dir/ZAL.upd"
    printf '%s\n' "$dir"
}

# The directory holds the whole new installed file, the tool and nothing else.
assert_updated() { # DIR
    assert_same_file "$1/ZAL.exe" "$NEW"
    assert_names "$1" ZALUpdate.exe ZAL.exe
}

# Watches DIR from the Linux side and prints, in milliseconds after the Unix time in PRESS_NS_FILE, when the
# installed file was replaced (its inode changed); -1 when it did not see it. It creates READY once it has
# read the installed file, so that the press never comes before the watch starts.
watch_rename() { # DIR PRESS_NS_FILE SECONDS READY
    python3 - "$@" <<'EOF'
import os, sys, time
folder, press_file, seconds, ready = sys.argv[1], sys.argv[2], float(sys.argv[3]), sys.argv[4]
installed = os.stat(os.path.join(folder, "ZAL.exe")).st_ino
open(ready, "w").close()
seen = None
deadline = time.time() + seconds
while time.time() < deadline and seen is None:
    try:
        if os.stat(os.path.join(folder, "ZAL.exe")).st_ino != installed:
            seen = time.time_ns()
    except FileNotFoundError:
        pass
    time.sleep(0.0005)  # a busy loop would take a core from the tool and stretch what it measures
with open(press_file) as f:
    press = int(f.read())
print((seen - press) / 1e6 if seen else -1)
EOF
}

# An uninterrupted run completes the update and exits with 0. Then the moment of the rename after the press
# is measured over three more runs, each ended once its update is complete, and the median is printed.
measure_rename() {
    local dir
    dir=$(lay_out)
    faults_launch "$dir" ZAL.exe
    faults_press "$FAULTS_PROC" press
    probe_ok waitexit "proc=$FAULTS_PROC" since=press timeout=60000
    assert_eq 0 "${R[code]}" "exit code"
    assert_updated "$dir"
    local run
    for run in 1 2 3; do
        dir=$(lay_out)
        faults_launch "$dir" ZAL.exe
        rm -f "$E2E_WORK/watching"
        watch_rename "$dir" "$E2E_WORK/press.ns" 60 "$E2E_WORK/watching" >"$E2E_WORK/rename.$run" &
        local watcher=$!
        e2e_wait_for 30 "the rename watcher" test -e "$E2E_WORK/watching"
        date +%s%N >"$E2E_WORK/press.ns"
        faults_press "$FAULTS_PROC" press
        wait "$watcher"
        probe_ok kill "proc=$FAULTS_PROC"
        assert_updated "$dir"
        [ "$(cat "$E2E_WORK/rename.$run")" != -1 ] || e2e_fail "measuring run $run did not see the rename"
    done
    cat "$E2E_WORK"/rename.? | sort -n | sed -n 2p
}

# Kill moments, in whole milliseconds after the press: evenly up to the rename, and a few after it.
plan_moments() { # RENAME COUNT (ms) -> one moment a line
    python3 - "$@" <<'EOF'
import sys
rename, count = float(sys.argv[1]), int(sys.argv[2])
after = max(2, count // 10)
before = count - after
moments = [rename * (i + 0.5) / before for i in range(before)]
moments += [rename + 5 + 1000 * (i + 0.5) / after for i in range(after)]
for m in moments:
    print(max(0, round(m)))
EOF
}

# The rename takes microseconds, and where it falls moves from run to run with the load of the machine. So
# the last kills close in on the boundary that the trials so far show, each halfway between the latest kill
# that left the old file and the earliest that left the new one, and never twice at the same moment.
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

    local outcome
    if cmp -s "$dir/ZAL.exe" "$OLD" && cmp -s "$dir/ZAL.upd" "$NEW"; then
        assert_names "$dir" ZALUpdate.exe ZAL.exe ZAL.upd
        outcome="old, staged copy intact"
    elif cmp -s "$dir/ZAL.exe" "$NEW" && [ ! -e "$dir/ZAL.upd" ]; then
        assert_names "$dir" ZALUpdate.exe ZAL.exe
        outcome="new, staged copy gone"
    else
        e2e_fail "killed at $1 ms: neither the old files nor the applied update: $(ls -l "$dir" | tr '\n' ' ')"
    fi

    # The next run finishes the update, or finds nothing left to do, and goes into its pause without an
    # error box; ending it there saves three seconds a trial.
    faults_launch "$dir" ZAL.exe >&2
    local next=$FAULTS_PROC
    faults_press "$next" again >&2
    e2e_wait_for 60 "the next run to finish the update" test ! -e "$dir/ZAL.upd"
    # An error box would follow the run's one attempt at once: half a second is watched for it.
    ! probe msgbox "proc=$next" timeout=500 >&2 || e2e_fail "killed at $1 ms: the next run showed an error box"
    probe_ok kill "proc=$next" >&2
    [ "${R[already_ended]}" = 0 ] || assert_eq 0 "${R[code]}" "exit code of the next run"
    assert_updated "$dir"
    probe_ok reset >&2
    echo "$outcome"
}

run_trials() { # MS...
    local moment outcome
    for moment in "$@"; do
        outcome=$(kill_trial "$moment")
        printf '%s\t%s\n' "$outcome" "$moment" >>"$E2E_WORK/outcomes"
    done
}

test_killed_mid_replacement() {
    local rename
    # Taken on its own: as printf's argument, a measuring run that failed would go on as a rename at 0 ms.
    rename=$(measure_rename)
    rename=$(printf '%.0f' "$rename")
    e2e_log "$((STAGED_BYTES / 1024 / 1024)) MiB staged; renamed over the installed file $rename ms after the press"
    local boundary=$((TRIALS * 3 / 10))
    local -a moments
    mapfile -t moments < <(plan_moments "$rename" $((TRIALS - boundary)))
    : >"$E2E_WORK/outcomes"
    run_trials "${moments[@]}"
    local i
    for ((i = 0; i < boundary; i++)); do
        run_trials "$(next_boundary_moment "$E2E_WORK/outcomes")"
    done
    local trials
    trials=$(wc -l <"$E2E_WORK/outcomes")
    assert_ge "$trials" "$TRIALS" "trials"
    e2e_log "outcomes of $trials kills (kill moments in ms after the press):"
    local outcome
    for outcome in "old, staged copy intact" "new, staged copy gone"; do
        awk -F'\t' -v o="$outcome" '$1 == o { n++; at = at " " $2 }
            END { printf "      %3d  %-25s%s\n", n, o, at }' "$E2E_WORK/outcomes"
    done
    # The spread has to reach both sides of the rename, or the trials prove little.
    grep -q '^old' "$E2E_WORK/outcomes" || e2e_fail "no kill landed before the rename"
    grep -q '^new' "$E2E_WORK/outcomes" || e2e_fail "no kill landed after the rename"
}

e2e_start
e2e_test "killed mid-replacement: old files or the whole update, next run finishes" test_killed_mid_replacement
e2e_finish
