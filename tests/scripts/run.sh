#!/usr/bin/env bash
# Usage: tests/scripts/run.sh
# Checks of the shell helpers every stage leans on: start_xvfb (scripts/xvfb.sh) fails with a message of
# its own, not with DISPLAY=":", when Xvfb dies or hangs; a failing stage ends the test command's jobs in
# the background and shows their logs (scripts/jobs.sh); scripts/wine-prefix.sh works in a fresh clone and
# refuses a WoW64 prefix that 32-bit Wine did not help make; a failed 32-bit stage ends with one line that
# tells 32-bit Wine's fault from the project's (tests/i386/trivial.sh); the setup scripts keep DEBIAN_FRONTEND when they
# go through sudo, which starts its command with an environment of its own; they try apt again when
# Debian's archive fails for a while, and say in one line what to do when it keeps failing; the 32-bit setup
# runs 32-bit programs natively where the kernel runs a tiny one with no emulator in the way, removing the
# project's qemu-i386 entry, and registers qemu-i386 elsewhere, saying which mode. The setup scripts run
# against stand-ins for id, sudo, dpkg, dpkg-query, apt-get, locale, mount, unshare, tee (binfmt_misc's
# writes) and the tiny program that only record what they were asked and answer as told, so nothing is
# installed and this machine's binfmt_misc is never touched. Work files: build/scripts-test/.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
work=$root/build/scripts-test
rm -rf "$work"
mkdir -p "$work"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
ok() { echo "ok:   $*"; }

# ----- start_xvfb ---------------------------------------------------------------------------------------

# start_in_subshell GEOMETRY [PATH_PREFIX]: start_xvfb in a shell of its own; prints its exit code, the
# DISPLAY it left and what it said, one a line, and stops what it started.
start_in_subshell() {
    env -u DISPLAY PATH="${2:+$2:}$PATH" bash -c '
        source "$1/scripts/xvfb.sh"
        status=0
        start_xvfb "$2" 2>"$3" || status=$?
        echo "$status"
        echo "${DISPLAY-unset}"
        tr "\n" " " <"$3"
        echo
        [ "$status" -ne 0 ] || xdpyinfo >/dev/null 2>&1 || echo "no server answers on $DISPLAY"
        stop_xvfb' _ "$root" "$1" "$work/xvfb.err"
}

mapfile -t got < <(start_in_subshell 1280x1024x24)
[ "${got[0]}" = 0 ] && [[ ${got[1]} =~ ^:[0-9]+$ ]] && [ -z "${got[3]:-}" ] ||
    fail "start_xvfb 1280x1024x24: ${got[*]}"
ok "start_xvfb 1280x1024x24: DISPLAY ${got[1]}, and a server answers there"

mapfile -t got < <(start_in_subshell 1x1x7)
[ "${got[0]}" = 1 ] && [ "${got[1]}" = unset ] || fail "start_xvfb 1x1x7: status ${got[0]}, DISPLAY ${got[1]}"
[[ ${got[2]} == "xvfb: Xvfb -screen 0 1x1x7 ended without a display: "*screen* ]] ||
    fail "start_xvfb 1x1x7 said: ${got[2]}"
ok "start_xvfb with a geometry Xvfb refuses: status 1, DISPLAY untouched, Xvfb's reason shown"

# A server that never reports a display: the stand-in writes to its log and sleeps. It holds a lock for as
# long as it, or anything it started, runs, so that whether it was left running is read from the lock
# alone: the machine's process list may hold any other program's sleep.
mkdir -p "$work/hung"
running=$work/hung/running.lock
printf '#!/bin/sh\nexec 9>"%s"\nflock 9\necho "stand-in for a hung Xvfb" >&2\nexec sleep 300\n' "$running" \
    >"$work/hung/Xvfb"
chmod +x "$work/hung/Xvfb"
mapfile -t got < <(XVFB_START_TIMEOUT=1 start_in_subshell 640x480x24 "$work/hung")
[ "${got[0]}" = 1 ] && [ "${got[1]}" = unset ] || fail "hung Xvfb: status ${got[0]}, DISPLAY ${got[1]}"
[[ ${got[2]} == *"reported no display within 1 s: stand-in for a hung Xvfb"* ]] || fail "hung Xvfb: said ${got[2]}"
[ -f "$running" ] || fail "the hung Xvfb stand-in never ran"
flock -n "$running" true || fail "the hung Xvfb stand-in was left running"
ok "start_xvfb with a server that hangs: status 1 after the deadline, the server ended"

# ----- jobs in the background ---------------------------------------------------------------------------

# A run whose stage fails while a job runs in the background (as the 32-bit stage runs beside the end-to-end
# cases) ends the job with everything it started, and shows what the job wrote: the test command used to
# exit and leave the 32-bit stage running unseen. The job, and the program it starts, hold a lock for as long
# as either lives; a job that ended before the failure is neither ended nor shown again.
jobs_dir=$work/jobs
mkdir -p "$jobs_dir"
set +e
bash -c '
    set -euo pipefail
    source "$1/scripts/jobs.sh"
    trap end_background_jobs EXIT
    background "the finished job" "$2/finished.log" echo "finished long ago"
    wait_background $!
    background "the win32 stage" "$2/win32.log" bash -c "exec 9>\"\$0\"; flock 9; echo started; sleep 300 & wait" "$2/running.lock"
    until grep -q started "$2/win32.log"; do sleep 0.1; done
    false # the stage that fails
    echo "went on after the failure"' _ "$root" "$jobs_dir" >"$jobs_dir/out" 2>&1
status=$?
set -e
said=$(cat "$jobs_dir/out")
[ "$status" = 1 ] || fail "a failing stage beside a background job: exit status $status: $said"
flock -n "$jobs_dir/running.lock" true || fail "a failing stage left the background job running"
[ "$said" = "$(printf '%s\n' "==> ending the win32 stage, still running in the background; what it wrote so far ($jobs_dir/win32.log):" "    started")" ] ||
    fail "a failing stage beside a background job said: $said"
ok "a failing stage ends the background job with all it started, and shows its log"

# ----- the setup scripts --------------------------------------------------------------------------------

# stand_ins DIR UID: the commands the setup scripts call, as seen by user UID on a machine that lacks every
# package, and a binfmt_misc of its own, DIR/binfmt, where qemu-i386 is registered. apt-get records its
# verb, DEBIAN_FRONTEND and whether sudo ran it, in DIR/apt.log, and answers from DIR/apt-VERB.plan: one
# "STATUS|WHAT IT SAYS" a line, a line a call, the last one for every later call; with no plan it succeeds
# and says nothing.
stand_ins() {
    local dir=$1
    mkdir -p "$dir/binfmt"
    : >"$dir/binfmt/register"
    echo enabled >"$dir/binfmt/qemu-i386"
    printf '#!/bin/sh\n[ "$1" = -u ] && echo %s || exec /usr/bin/id "$@"\n' "$2" >"$dir/id"
    # As sudo does by default: the command gets a fresh environment, plus what its command line sets.
    printf '#!/bin/sh\nexec env -i PATH="$PATH" SUDO_USER=tester "$@"\n' >"$dir/sudo"
    printf '#!/bin/sh\nexit 1\n' >"$dir/dpkg-query"
    printf '#!/bin/sh\necho i386\n' >"$dir/dpkg"
    cat >"$dir/apt-get" <<EOF
#!/bin/sh
echo "\$1 DEBIAN_FRONTEND=\${DEBIAN_FRONTEND-unset} SUDO_USER=\${SUDO_USER-none}" >>"$dir/apt.log"
plan="$dir/apt-\$1.plan"
[ -s "\$plan" ] || exit 0
IFS='|' read -r status says <"\$plan"
[ "\$(wc -l <"\$plan")" -le 1 ] || sed -i 1d "\$plan"
[ -z "\$says" ] || printf '%b\n' "\$says" >&2
exit "\$status"
EOF
    printf '#!/bin/sh\necho ja_JP.utf8\n' >"$dir/locale"
    printf '#!/bin/sh\nexit 1\n' >"$dir/mount"
    printf '#!/bin/sh\ncat >/dev/null\n' >"$dir/tee"
    chmod +x "$dir"/*
}

# run_setup SCRIPT DIR [VAR=VALUE...]: SCRIPT against the stand-ins of DIR, with no pause between apt's
# tries; sets STATUS to its exit status and OUT to what it printed, also kept in DIR/out.log.
run_setup() {
    local script=$1 dir=$2
    shift 2
    STATUS=0
    env -u DEBIAN_FRONTEND -u ZAL_SKIP_I386 PATH="$dir:$PATH" ZAL_BINFMT_MISC="$dir/binfmt" ZAL_APT_PAUSE=0 "$@" \
        bash "$root/scripts/$script" >"$dir/out.log" 2>&1 || STATUS=$?
    OUT=$(cat "$dir/out.log")
}

# apt_verbs DIR: the verbs apt-get was called with, in order, on one line.
apt_verbs() {
    [ ! -f "$1/apt.log" ] || cut -d' ' -f1 "$1/apt.log" | paste -sd ' '
}

# Through sudo, which starts its command with an environment of its own, the install still gets
# DEBIAN_FRONTEND.
while read -r script uid expected; do
    dir=$work/sudo-$uid-${script%.sh}
    stand_ins "$dir" "$uid"
    run_setup "$script" "$dir"
    [ "$STATUS" = 0 ] || fail "$script as user $uid: exit status $STATUS: $OUT"
    grep -qx "install $expected" "$dir/apt.log" 2>/dev/null ||
        fail "$script as user $uid: apt-get install ran with '$(grep ^install "$dir/apt.log" 2>/dev/null)', expected '$expected'"
    ok "$script as user $uid: apt-get install ran with $expected"
done <<'EOF'
setup.sh 1000 DEBIAN_FRONTEND=noninteractive SUDO_USER=tester
setup.sh 0 DEBIAN_FRONTEND=noninteractive SUDO_USER=none
setup-i386.sh 1000 DEBIAN_FRONTEND=noninteractive SUDO_USER=tester
setup-i386.sh 0 DEBIAN_FRONTEND=noninteractive SUDO_USER=none
EOF

# What apt-get says when Debian's archive fails: an index replaced while it was read (as this machine's
# apt-get update said, with exit status 100), an archive out of reach (said with exit status 0), and the
# install after the first, which found the i386 packages of the security versions missing.
mid_sync='E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]\n   Hashes of expected file:\n    - Filesize:376004 [weak]\nE: Some index files failed to download. They have been ignored, or old ones used instead.'
unreachable="W: Failed to fetch http://deb.debian.org/debian/dists/bookworm/InRelease  Temporary failure resolving 'deb.debian.org'\nW: Some index files failed to download. They have been ignored, or old ones used instead."
breaks=' wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed\nE: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages.'

# An archive that fails twice, then answers: the update that exits 0 but could not fetch an index is tried
# again, then the install that breaks, and the setup goes on to its end.
for script in setup.sh setup-i386.sh; do
    dir=$work/twice-${script%.sh}
    stand_ins "$dir" 0
    printf '0|%s\n0|\n' "$unreachable" >"$dir/apt-update.plan"
    printf '100|%s\n0|\n' "$breaks" >"$dir/apt-install.plan"
    run_setup "$script" "$dir"
    what="$script, archive failing twice"
    [ "$STATUS" = 0 ] || fail "$what: exit status $STATUS: $OUT"
    verbs=$(apt_verbs "$dir")
    [ "$verbs" = "update update install update install" ] || fail "$what: apt-get ran '$verbs'"
    mapfile -t retries < <(grep 'failed: .*; trying again in 0 s$' <<<"$OUT")
    [ ${#retries[@]} = 2 ] &&
        [[ ${retries[0]} == *"try 1 of 3 failed: apt-get update: W: Failed to fetch "*"Temporary failure resolving"* ]] &&
        [[ ${retries[1]} == *"try 2 of 3 failed: wine32:i386 : Depends: "*"Resolve generated breaks"* ]] &&
        [[ $OUT != *"could not install"* ]] || fail "$what: said: $OUT"
    ok "$what: exit status 0 after three tries, each failure said with apt's reason:"
    printf '        %s\n' "${retries[@]}"
done

# An archive that keeps failing: three tries, the last installing with the lists as they are, then one line
# naming the packages, what apt said and what to do, and a failure. ZAL_SKIP_I386=1 skips the 32-bit setup
# without asking apt anything.
while IFS='|' read -r script skip want packages advice; do
    dir=$work/always-${script%.sh}-skip$skip
    stand_ins "$dir" 0
    printf '100|%s\n' "$mid_sync" >"$dir/apt-update.plan"
    printf '100|%s\n' "$breaks" >"$dir/apt-install.plan"
    run_setup "$script" "$dir" ZAL_SKIP_I386="$skip"
    what="$script, archive always failing, ZAL_SKIP_I386=$skip"
    [ "$STATUS" = "$want" ] || fail "$what: exit status $STATUS, expected $want: $OUT"
    if [ "$want" = 3 ]; then
        [ "$OUT" = "SKIPPED: ZAL_SKIP_I386=1 is set" ] && [ ! -e "$dir/apt.log" ] ||
            fail "$what: apt-get ran '$(apt_verbs "$dir")', said: $OUT"
        ok "$what: exit status 3, apt-get never ran, said: $OUT"
        continue
    fi
    verbs=$(apt_verbs "$dir")
    [ "$verbs" = "update update update install" ] || fail "$what: apt-get ran '$verbs'"
    line=$(grep 'could not install' <<<"$OUT") || fail "$what: no line says what could not be installed: $OUT"
    # The packages are a pattern: setup.sh's list is long.
    start="${script%.sh}: could not install $packages: wine32:i386 : Depends: libwine:i386 "
    # shellcheck disable=SC2053
    [[ $line == $start* ]] && [[ $line == *" E: Error, pkgProblemResolver::Resolve generated breaks"* ]] &&
        [[ $line == *" (apt-get update: E: Failed to fetch "*"Mirror sync in progress?"* ]] &&
        [[ $line == *". $advice" ]] && [ "$(grep -c 'could not install' <<<"$OUT")" = 1 ] ||
        fail "$what: said: $OUT"
    ok "$what: exit status $want after three tries, in one line:"
    printf '        %s\n' "$line"
done <<'EOF'
setup-i386.sh|0|1|wine32:i386 qemu-user|Debian's archive may be mid-sync or out of reach: run this again later, or set ZAL_SKIP_I386=1 to run every stage but the 32-bit one.
setup-i386.sh|1|3||
setup.sh|1|1|cmake ninja-build g++ * osslsigncode openssl ca-certificates|Debian's archive may be mid-sync or out of reach: run this again later.
EOF

# ----- the 32-bit mode ----------------------------------------------------------------------------------

# mode_stand_ins DIR KERNEL PRIVATE ENTRY: the stand-ins of stand_ins, with every package installed, on a
# machine whose kernel runs 32-bit programs itself (KERNEL yes) or not (no); that lets a user namespace
# mount a binfmt_misc of its own (PRIVATE yes), makes no user namespace (no-userns), or makes one but keeps
# binfmt_misc global, as kernels before 6.7 do (global); and whose binfmt_misc holds the project's qemu-i386
# entry switched on (ENTRY on), off (off) or none (none). Its tee writes to binfmt_misc as the kernel takes such writes: a registration
# makes an entry, 0 and 1 switch one off and on, -1 removes it; each write goes to DIR/binfmt.log. The
# trivial program (ZAL_I386_TINY) exits with 42 where the entry is on and its namespace sees it, or where
# the kernel runs it; elsewhere it fails as the kernel's refusal does.
mode_stand_ins() {
    local dir=$1 kernel=$2 private=$3 entry=$4
    stand_ins "$dir" 0
    printf '#!/bin/sh\necho "install ok installed"\n' >"$dir/dpkg-query"
    case $entry in
    on) echo enabled >"$dir/binfmt/qemu-i386" ;;
    off) echo disabled >"$dir/binfmt/qemu-i386" ;;
    none) rm -f "$dir/binfmt/qemu-i386" ;;
    esac
    case $private in
    no-userns) printf '#!/bin/sh\necho "unshare: unshare failed: Operation not permitted" >&2\nexit 1\n' ;;
    *) printf '#!/bin/sh\nwhile [ "${1#-}" != "$1" ]; do shift; done\nZAL_TEST_PRIVATE=1 exec "$@"\n' ;;
    esac >"$dir/unshare"
    cat >"$dir/mount" <<EOF
#!/bin/sh
for last; do :; done
[ "\$last" = /proc/sys/fs/binfmt_misc ] && [ "$private" = yes ] && exit 0
echo "mount: \$last: permission denied." >&2
exit 32
EOF
    cat >"$dir/tee" <<EOF
#!/bin/sh
value=\$(cat)
echo "\${1##*/} \$value" >>"$dir/binfmt.log"
case \${1##*/}:\$value in
register:*) name=\${value#:}; printf 'enabled\ninterpreter %s\n' "\${value#*:*:*:*:*:*:}" >"$dir/binfmt/\${name%%:*}" ;;
*:-1) rm -f "\$1" ;;
*:0) echo disabled >"\$1" ;;
*:1) echo enabled >"\$1" ;;
esac
EOF
    cat >"$dir/tiny32" <<EOF
#!/bin/sh
[ -z "\${ZAL_TEST_PRIVATE:-}" ] && [ "\$(head -n 1 "$dir/binfmt/qemu-i386" 2>/dev/null)" = enabled ] && exit 42
[ "$kernel" = yes ] && exit 42
echo "\$0: cannot execute binary file: Exec format error" >&2
exit 126
EOF
    chmod +x "$dir"/*
}

# Each row: KERNEL PRIVATE ENTRY ZAL_I386_MODE | exit status | the mode line's start | what binfmt_misc was
# written, in order | the entry afterwards (its first line, or none). The first four catch the setup that
# registered qemu-i386, and switched it back on, where the kernel runs 32-bit programs itself: the emulator
# shadowed the kernel, and 32-bit Wine ran a hundred times slower, or not at all.
while IFS='|' read -r machine want_status want_line want_writes want_entry; do
    read -r kernel private entry forced <<<"$machine"
    dir=$work/mode-$kernel-$private-$entry-$forced
    mode_stand_ins "$dir" "$kernel" "$private" "$entry"
    run_setup setup-i386.sh "$dir" ZAL_I386_TINY="$dir/tiny32" ZAL_I386_MODE="${forced#-}"
    touch "$dir/binfmt.log"
    writes=$(cut -d' ' -f1,2 "$dir/binfmt.log" | sed 's/^register :.*/register/' | paste -sd ',')
    after=$(head -n 1 "$dir/binfmt/qemu-i386" 2>/dev/null || echo none)
    what="kernel running 32-bit programs: $kernel, private binfmt_misc: $private, entry: $entry, ZAL_I386_MODE=${forced#-}"
    [ "$kernel" = no ] || what="no emulator shadowing the kernel: $what"
    [ "$STATUS" = "$want_status" ] || fail "$what: exit status $STATUS, expected $want_status: $OUT"
    line=$(tail -n 1 <<<"$OUT")
    [[ $line == "$want_line"* ]] || fail "$what: said '$line', expected '$want_line...'"
    [ "$writes" = "$want_writes" ] || fail "$what: binfmt_misc written '$writes', expected '$want_writes'"
    [ "$after" = "$want_entry" ] || fail "$what: qemu-i386 entry '$after' afterwards, expected '$want_entry'"
    ok "$what: ${line#setup-i386: }${writes:+ [binfmt_misc: $writes]}"
done <<'EOF'
yes yes on -|0|setup-i386: 32-bit mode native: the kernel runs 32-bit programs itself (a tiny 32-bit program ran in a binfmt_misc of its own); the project's qemu-i386 entry, which shadowed it, is removed|qemu-i386 -1|none
yes no-userns on -|0|setup-i386: 32-bit mode native: the kernel runs 32-bit programs itself (a tiny 32-bit program ran with the project's qemu-i386 entry switched off for the moment); the project's qemu-i386 entry, which shadowed it, is removed|qemu-i386 0,qemu-i386 1,qemu-i386 -1|none
yes global none -|0|setup-i386: 32-bit mode native: the kernel runs 32-bit programs itself (a tiny 32-bit program ran with no qemu-i386 entry registered)||none
yes yes off native|0|setup-i386: 32-bit mode native: the kernel runs 32-bit programs itself|qemu-i386 -1|none
no yes none -|0|setup-i386: 32-bit mode qemu: the kernel runs no 32-bit programs (a tiny 32-bit program run in a binfmt_misc of its own said "Exec format error" and ended with 126, not 42), so they run through qemu-i386|register|enabled
no global off -|0|setup-i386: 32-bit mode qemu: the kernel runs no 32-bit programs (a tiny 32-bit program run with the project's qemu-i386 entry switched off said "Exec format error"|qemu-i386 1|enabled
no no-userns on -|0|setup-i386: 32-bit mode qemu: the kernel runs no 32-bit programs (a tiny 32-bit program run with the project's qemu-i386 entry switched off for the moment said|qemu-i386 0,qemu-i386 1|enabled
no yes on native|0|setup-i386: 32-bit mode native, forced by ZAL_I386_MODE=native for checking only: the kernel runs no 32-bit programs (||enabled
no yes on qemu|2|setup-i386: ZAL_I386_MODE=qemu is unknown||enabled
EOF

# Where the emulator is needed and binfmt_misc is not mounted and cannot be, the stage is skipped, saying why;
# where the kernel runs 32-bit programs itself, binfmt_misc is not needed at all.
for kernel in no yes; do
    dir=$work/mode-unmounted-$kernel
    mode_stand_ins "$dir" "$kernel" yes none
    rm "$dir/binfmt/register"
    run_setup setup-i386.sh "$dir" ZAL_I386_TINY="$dir/tiny32"
    line=$(tail -n 1 <<<"$OUT")
    case $kernel in
    no) [ "$STATUS" = 3 ] && [ "$line" = "SKIPPED: binfmt_misc cannot be mounted here (the kernel or the sandbox refuses it)" ] ;;
    yes) [ "$STATUS" = 0 ] && [[ $line == "setup-i386: 32-bit mode native: "* ]] ;;
    esac || fail "binfmt_misc unmountable, kernel running 32-bit programs: $kernel: exit status $STATUS: $OUT"
    ok "binfmt_misc unmountable, kernel running 32-bit programs: $kernel: exit status $STATUS: $line"
done

# ----- Wine prefixes in a fresh clone -------------------------------------------------------------------

# prefix_in_fresh_clone SYSWOW64 OPTIONS...: scripts/wine-prefix.sh from a copy of scripts/ with no build
# directory beside it, as in a fresh clone, making build/wine-wow64 with OPTIONS, against a stand-in Wine
# whose wineboot makes the prefix's directories, and syswow64 too when SYSWOW64 is yes (32-bit Wine ran), and
# an apt-get that fetches no font. Sets STATUS, OUT and FRESH.
prefix_in_fresh_clone() {
    local syswow64=$1
    shift
    FRESH=$work/fresh-clone-$syswow64
    mkdir -p "$FRESH/wine"
    cp -r "$root/scripts" "$FRESH/"
    cat >"$FRESH/wine/wine64" <<EOF
#!/bin/sh
[ "\$1" = wineboot ] || exit 0
mkdir -p "\$WINEPREFIX/drive_c/windows/Fonts"
[ "$syswow64" = no ] || mkdir -p "\$WINEPREFIX/drive_c/windows/syswow64"
EOF
    printf '#!/bin/sh\nexit 0\n' >"$FRESH/wine/wineserver"
    printf '#!/bin/sh\nexit 100\n' >"$FRESH/wine/apt-get"
    chmod +x "$FRESH/wine"/*
    STATUS=0
    OUT=$(DISPLAY=:0 PATH="$FRESH/wine:$PATH" ZAL_WINE64=$FRESH/wine/wine64 \
        bash "$FRESH/scripts/wine-prefix.sh" "$FRESH/build/wine-wow64" "$@" 2>&1) || STATUS=$?
}

# The prefix maker took its lock beside the project's prefix, in build/, which a fresh clone lacks: the
# 32-bit stage, run alone, failed at once with "build/wine64.lock: No such file or directory".
prefix_in_fresh_clone yes --wow64 --no-debugger
[ "$STATUS" = 0 ] && [ "$(tail -n 1 <<<"$OUT")" = "$FRESH/build/wine-wow64" ] ||
    fail "a WoW64 prefix in a fresh clone: exit status $STATUS: $OUT"
[ "$(cat "$FRESH/build/wine64/.zal-prefix")" = "version=5 dpi=96 relay= debugger=1 wow64=0" ] &&
    [ "$(cat "$FRESH/build/wine-wow64/.zal-prefix")" = "version=5 dpi=96 relay= debugger=0 wow64=1" ] ||
    fail "a WoW64 prefix in a fresh clone: the prefixes' markers are not what was asked"
ok "regression: prefixes made in a fresh clone, which has no build directory yet"

# A WoW64 prefix that 32-bit Wine did not help make has no syswow64, and is refused with the reason, never
# marked as made.
prefix_in_fresh_clone no --wow64
[ "$STATUS" = 1 ] && [[ $OUT == *"wine-prefix: $FRESH/build/wine-wow64 has no syswow64: 32-bit Wine did not run while it was made" ]] &&
    [ ! -e "$FRESH/build/wine-wow64/.zal-prefix" ] ||
    fail "a WoW64 prefix made without 32-bit Wine: exit status $STATUS: $OUT"
ok "a WoW64 prefix made without 32-bit Wine: refused, saying why"

# ----- the 32-bit stage's last word on a failure --------------------------------------------------------

# trivial_run NAME LOADER_BODY LIMIT: i386_fail_because (tests/i386/trivial.sh) after a failed smoke, in a
# shell of its own, against a stand-in for Wine's 32-bit loader running the body given, which records the
# prefix and program it was given in DIR/ran. Sets STATUS, OUT (its last line) and DIR.
trivial_run() {
    DIR=$work/trivial-$1
    mkdir -p "$DIR"
    printf '#!/bin/sh\necho "$WINEPREFIX $1" >"%s/ran"\n%s\n' "$DIR" "$2" >"$DIR/wine"
    chmod +x "$DIR/wine"
    STATUS=0
    OUT=$(DISPLAY=:0 ZAL_WINE32=$DIR/wine bash -c 'source "$1/tests/i386/trivial.sh"
        i386_fail_because "the end-to-end smoke" "$2/prefix" "through qemu-i386" "$3"' _ "$root" "$DIR" "$3" 2>&1) ||
        STATUS=$?
    OUT=$(tail -n 1 <<<"$OUT" | sed 's/ in [0-9]* s: / in N s: /')
}

# The stage used to end, when 32-bit Wine could not start at all under qemu, with the smoke's "CreateProcessA
# failed Internal error." and the suites' empty log. Now a failure ends with one line that names 32-bit
# Wine's own failure, found by a trivial program, or, when that program runs, blames the project. Each row:
# NAME | what the stand-in loader does | its time limit | the line's start.
shared_user_data='err:virtual:virtual_alloc_first_teb wine: failed to map the shared user data: c0000018'
cannot="i386: 32-bit Wine cannot start even a trivial 32-bit program (Wine's own hostname.exe) through qemu-i386"
while IFS='|' read -r name body limit want; do
    trivial_run "$name" "$body" "$limit"
    want=${want//@cannot@/$cannot}
    want=${want//@shared@/$shared_user_data}
    [ "$STATUS" = 1 ] && [[ $OUT == "$want"* ]] || fail "trivial program that $name: exit status $STATUS: $OUT"
    [ "$(cat "$DIR/ran")" = "$DIR/prefix /usr/lib/i386-linux-gnu/wine/i386-windows/hostname.exe" ] ||
        fail "trivial program that $name: the loader was given '$(cat "$DIR/ran")'"
    ok "trivial program that $name: $OUT"
done <<EOF
cannot map the shared user data|echo '$shared_user_data' >&2; exit 1|60|@cannot@ (exit status 1: @shared@): the end-to-end smoke failed for that cause, not the project's
says nothing|exit 0|60|@cannot@ (exit status 0): the end-to-end smoke failed for that cause
hangs|exec sleep 30|1|@cannot@ (it did not end within 1 s): the end-to-end smoke failed for that cause
runs|echo testhost|60|i386: the end-to-end smoke failed, though 32-bit Wine ran a trivial 32-bit program (Wine's own hostname.exe) through qemu-i386 in N s: the fault is the project's
EOF
