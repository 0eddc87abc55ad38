#!/usr/bin/env bash
# A full disk: the tool's directory lies on a small tmpfs with less room left than the staged file takes,
# which a copy of it could never fit in. The update is renamed into place, so it is applied all the same,
# and the tool closes as usual. Needs root to mount; elsewhere the test says SKIPPED and why.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib/faults.sh"

KIB=1024

# The mounts of this run lie in a directory named after its process, away from the work directory, which
# the next run of the case clears. Each run holds DIR.lock while it lives; the mounts of runs that no longer
# hold theirs (killed before they could unmount) are taken down here. Whether a process of that number
# exists says nothing: it may be any other program's.
MOUNTS=$E2E_HOME/faults-mounts
mkdir -p "$MOUNTS"
OWN_MOUNTS=$MOUNTS/$$
for old in "$MOUNTS"/*; do
    [ -d "$old" ] || continue
    exec {old_lock}>"$old.lock"
    if flock -n "$old_lock"; then
        for point in "$old"/*; do
            if mountpoint -q "$point"; then
                umount "$point" 2>/dev/null || umount -l "$point"
            fi
        done
        rm -rf "$old" "$old.lock"
    fi
    exec {old_lock}>&-
done

# Whether this machine lets the case mount a tmpfs; prints the reason when it does not.
mount_unavailable() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "mounting a tmpfs needs root"
        return 0
    fi
    local probe_dir=$OWN_MOUNTS/check
    mkdir -p "$probe_dir"
    if ! mount -t tmpfs -o size=64k tmpfs "$probe_dir" 2>"$E2E_WORK/mount-check.err"; then
        echo "mount -t tmpfs failed: $(head -c 200 "$E2E_WORK/mount-check.err")"
        return 0
    fi
    umount "$probe_dir"
    return 1
}

# Ends the tool, which holds its directory open, then unmounts; run from the test's EXIT trap.
unmount_small() {
    probe reset >/dev/null 2>&1 || true
    local tries=0
    while mountpoint -q "$SMALL" && ! umount "$SMALL" 2>/dev/null; do
        tries=$((tries + 1))
        if [ $tries -ge 50 ]; then
            umount -l "$SMALL"
            break
        fi
        sleep 0.1
    done
}

# One trial: when the button is pressed, the free room on the small disk is SHORT pages (or "half" of them)
# less than the staged copy of STAGED bytes takes, and never below none.
full_disk_trial() { # STAGED SHORT
    local staged=$1 short=$2 page needed free_pages
    SMALL=$OWN_MOUNTS/small
    mkdir -p "$SMALL"
    mount -t tmpfs -o size=$((4096 * KIB)),mode=0755 tmpfs "$SMALL"
    trap unmount_small EXIT
    local dir=$SMALL
    page=$(stat -f -c %S "$dir")
    needed=$(((staged + page - 1) / page))
    [ "$short" = half ] && short=$((needed / 2))
    free_pages=$((needed > short ? needed - short : 0))
    cp "$(e2e_tool_exe)" "$dir/ZALUpdate.exe"
    cp "$(faults_program $((512 * KIB + 3)) old)" "$dir/ZAL.exe"
    cp "$(faults_program "$staged" new)" "$dir/ZAL.upd"
    cp "$dir/ZAL.upd" "$E2E_WORK/new"
    # A filler takes all but the room asked for.
    local free
    free=$(($(stat -f -c '%a * %S' "$dir")))
    head -c $((free - free_pages * page)) /dev/zero >"$dir/filler"
    free=$(($(stat -f -c '%a * %S' "$dir")))
    assert_eq $((free_pages * page)) "$free" "free bytes on the small disk"
    assert_le "$free" $((staged - 1)) "free bytes on the small disk, against the staged copy's size"

    faults_launch "$dir" ZAL.exe
    local proc=$FAULTS_PROC
    faults_press "$proc" press
    probe_ok waitexit "proc=$proc" since=press timeout=20000
    assert_ge "${R[elapsed_ms]}" 3000 "exit after the press (ms)"
    assert_eq 0 "${R[code]}" "exit code"
    assert_same_file "$dir/ZAL.exe" "$E2E_WORK/new"
    assert_names "$dir" ZALUpdate.exe ZAL.exe filler
    # The room the old installed file took is free now; nothing else was spent.
    assert_ge "$(($(stat -f -c '%a * %S' "$dir")))" "$free" "free bytes after the update"
}

# The staged copy is not a whole number of pages: one page short, a copy would stop inside its last page.
STAGED=$((1536 * KIB + 1000))
TRIALS=("1 one page" "100000 all the copy")

e2e_start
# Taken once the session's programs run: they would hold it past this run's end.
exec {OWN_LOCK}>"$OWN_MOUNTS.lock"
flock "$OWN_LOCK"
mkdir -p "$OWN_MOUNTS"
if reason=$(mount_unavailable); then
    faults_skip "full disk takes the update" "$reason"
else
    for trial in "${TRIALS[@]}"; do
        e2e_test "disk full, ${trial#* } short: the update is applied" \
            full_disk_trial "$STAGED" "${trial%% *}"
    done
fi
# A mount still in place (its tool would not let go) is left to the next run.
{ rmdir "$OWN_MOUNTS"/* "$OWN_MOUNTS" && rm -f "$OWN_MOUNTS.lock"; } 2>/dev/null || true
e2e_finish
