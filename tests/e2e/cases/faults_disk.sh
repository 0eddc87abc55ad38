#!/usr/bin/env bash
# A full disk: the tool's directory lies on a small tmpfs where the temporary copy of the staged file cannot
# fit. Nothing is lost, the error box shows the system's text, and once room is made a second press
# completes the update. Needs root to mount; elsewhere the test says SKIPPED and why.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"
source "$(dirname "$0")/../lib_faults.sh"

ERROR_DISK_FULL=112
KIB=1024

# The mounts of this run lie in a directory named after its process, away from the work directory, which
# the next run of the case clears; those of runs that no longer exist (killed before they could unmount)
# are taken down here.
MOUNTS=$E2E_HOME/faults-mounts
mkdir -p "$MOUNTS"
for old in "$MOUNTS"/*; do
    [ -d "$old" ] || continue
    kill -0 "${old##*/}" 2>/dev/null && continue
    for point in "$old"/*; do
        if mountpoint -q "$point"; then
            umount "$point" 2>/dev/null || umount -l "$point"
        fi
    done
    rm -rf "$old"
done
OWN_MOUNTS=$MOUNTS/$$
mkdir -p "$OWN_MOUNTS"

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
    cp "$(faults_pattern $((512 * KIB + 3)) old)" "$dir/ZAL.exe"
    cp "$(faults_pattern "$staged" new)" "$dir/ZAL.upd"
    cp "$dir/ZAL.exe" "$E2E_WORK/old"
    cp "$dir/ZAL.upd" "$E2E_WORK/new"
    # A filler takes all but the room asked for; removing it later is how the user makes room.
    local free
    free=$(($(stat -f -c '%a * %S' "$dir")))
    head -c $((free - free_pages * page)) /dev/zero >"$dir/filler"
    free=$(($(stat -f -c '%a * %S' "$dir")))
    assert_eq $((free_pages * page)) "$free" "free bytes on the small disk"
    assert_le "$free" $((staged - 1)) "free bytes on the small disk, against the staged copy's size"
    faults_manifest "$dir" >"$E2E_WORK/before"

    faults_launch "$dir" ZAL.exe
    local proc=$FAULTS_PROC hwnd=${R[hwnd]}
    faults_press "$proc" press
    probe_ok msgbox "proc=$proc" timeout=20000
    local box=${R[hwnd]} text=${R[message]}
    assert_eq "$(faults_system_box_text $ERROR_DISK_FULL)" "$text" "error box text"
    faults_manifest "$dir" >"$E2E_WORK/after"
    assert_manifest_unchanged "$E2E_WORK/before" "$E2E_WORK/after" "the tool's directory"
    assert_eq "$free" "$(($(stat -f -c '%a * %S' "$dir")))" "free bytes after the failure"
    probe_ok window "hwnd=$hwnd"
    assert_eq 1 "${R[visible]}" "main window visible behind the error box"

    # The user makes room and presses again.
    faults_dismiss_box "$proc" "$box"
    rm "$dir/filler"
    faults_press "$proc" again
    probe_ok waitexit "proc=$proc" since=again timeout=20000
    assert_ge "${R[elapsed_ms]}" 3000 "exit after the second press (ms)"
    assert_eq 0 "${R[code]}" "exit code"
    assert_same_file "$dir/ZAL.exe" "$E2E_WORK/new"
    assert_absent "$dir/ZAL.upd"
    assert_absent "$dir/ZAL.exe.zalupdate-tmp"
}

# The staged copy is not a whole number of pages, so the disk fills inside its last page or earlier.
STAGED=$((1536 * KIB + 1000))
TRIALS=("1 one page" "half half the copy" "100000 all the copy")
if [ "$FAULTS_LONG" = 1 ]; then
    TRIALS+=("2 two pages" "16 64 KiB" "100 100 pages" "300 300 pages")
fi

e2e_start
if reason=$(mount_unavailable); then
    faults_skip "full disk loses nothing" "$reason"
else
    for trial in "${TRIALS[@]}"; do
        e2e_test "disk full, ${trial#* } short: error box, nothing lost" \
            full_disk_trial "$STAGED" "${trial%% *}"
    done
fi
# A mount still in place (its tool would not let go) is left to the next run.
rmdir "$OWN_MOUNTS"/* "$OWN_MOUNTS" 2>/dev/null || true
e2e_finish
