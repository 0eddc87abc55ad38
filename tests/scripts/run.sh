#!/usr/bin/env bash
# Usage: tests/scripts/run.sh
# Checks of the shell helpers every stage leans on: start_xvfb (scripts/xvfb.sh) fails with a message of
# its own, not with DISPLAY=":", when Xvfb dies or hangs; the setup scripts keep DEBIAN_FRONTEND when they
# go through sudo, which starts its command with an environment of its own; they try apt again when
# Debian's archive fails for a while, and say in one line what to do when it keeps failing. The setup
# scripts run against stand-ins for id, sudo, dpkg, dpkg-query, apt-get, locale, mount and tee that only
# record what they were asked and answer as told, so nothing is installed. Work files: build/scripts-test/.
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

# ----- the setup scripts --------------------------------------------------------------------------------

# stand_ins DIR UID: the commands the setup scripts call, as seen by user UID on a machine that lacks every
# package, and a binfmt_misc of its own, DIR/binfmt, where qemu-i386 is registered. apt-get records its
# verb, DEBIAN_FRONTEND, LC_ALL and whether sudo ran it, in DIR/apt.log, and answers from DIR/apt-VERB.plan:
# one "STATUS|WHAT IT SAYS" a line, a line a call, the last one for every later call; with no plan it
# succeeds and says nothing. A package is installed once an install has succeeded.
stand_ins() {
    local dir=$1
    mkdir -p "$dir/binfmt"
    : >"$dir/binfmt/register"
    echo enabled >"$dir/binfmt/qemu-i386"
    printf '#!/bin/sh\n[ "$1" = -u ] && echo %s || exec /usr/bin/id "$@"\n' "$2" >"$dir/id"
    # As sudo does by default: the command gets a fresh environment, plus what its command line sets.
    printf '#!/bin/sh\nexec env -i PATH="$PATH" SUDO_USER=tester "$@"\n' >"$dir/sudo"
    printf '#!/bin/sh\n[ -e "%s/installed" ] && echo "install ok installed"\n' "$dir" >"$dir/dpkg-query"
    printf '#!/bin/sh\ncase $1 in --print-foreign-architectures) echo i386 ;; *) exec /usr/bin/dpkg "$@" ;; esac\n' \
        >"$dir/dpkg"
    cat >"$dir/apt-get" <<EOF
#!/bin/sh
verb=install
case " \$* " in *" update "*) verb=update ;; esac
echo "\$verb DEBIAN_FRONTEND=\${DEBIAN_FRONTEND-unset} LC_ALL=\${LC_ALL-unset} SUDO_USER=\${SUDO_USER-none}" >>"$dir/apt.log"
plan="$dir/apt-\$verb.plan"
status=0 says=
if [ -s "\$plan" ]; then
    IFS='|' read -r status says <"\$plan"
    [ "\$(wc -l <"\$plan")" -le 1 ] || sed -i 1d "\$plan"
fi
[ -z "\$says" ] || printf '%b\n' "\$says" >&2
[ "\$verb" != install ] || [ "\$status" != 0 ] || : >"$dir/installed"
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
    env -u DEBIAN_FRONTEND -u ZAL_SKIP_I386 -u APT_CONFIG PATH="$dir:$PATH" ZAL_BINFMT_MISC="$dir/binfmt" \
        ZAL_APT_PAUSE=0 "$@" bash "$root/scripts/$script" >"$dir/out.log" 2>&1 || STATUS=$?
    OUT=$(cat "$dir/out.log")
}

# apt_verbs DIR: the verbs apt-get was called with, in order, on one line.
apt_verbs() {
    [ ! -f "$1/apt.log" ] || cut -d' ' -f1 "$1/apt.log" | paste -sd ' '
}

# Through sudo, which starts its command with an environment of its own, the install still gets
# DEBIAN_FRONTEND; and apt, which translates what it says, says it in English, which the scripts read.
while read -r script uid expected; do
    dir=$work/sudo-$uid-${script%.sh}
    stand_ins "$dir" "$uid"
    run_setup "$script" "$dir" LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8
    [ "$STATUS" = 0 ] || fail "$script as user $uid: exit status $STATUS: $OUT"
    grep -qx "install $expected" "$dir/apt.log" 2>/dev/null ||
        fail "$script as user $uid: apt-get install ran with '$(grep ^install "$dir/apt.log" 2>/dev/null)', expected '$expected'"
    ! grep -v ' LC_ALL=C ' "$dir/apt.log" ||
        fail "$script as user $uid: apt-get ran in the caller's language, whose messages the setup cannot read"
    ok "$script as user $uid: apt-get install ran with $expected, update with LC_ALL=C too"
done <<'EOF'
setup.sh 1000 DEBIAN_FRONTEND=noninteractive LC_ALL=C SUDO_USER=tester
setup.sh 0 DEBIAN_FRONTEND=noninteractive LC_ALL=C SUDO_USER=none
setup-i386.sh 1000 DEBIAN_FRONTEND=noninteractive LC_ALL=C SUDO_USER=tester
setup-i386.sh 0 DEBIAN_FRONTEND=noninteractive LC_ALL=C SUDO_USER=none
EOF

# Neither root nor sudo: said at once, not after three tries blamed on the archive. sudo is hidden by a PATH
# of links to every other command.
mkdir -p "$work/no-sudo-path"
IFS=: read -ra path_dirs <<<"$PATH"
# The last first, so that a command found earlier in PATH replaces it, as it would be found.
for ((i = ${#path_dirs[@]} - 1; i >= 0; i--)); do
    [ ! -d "${path_dirs[i]}" ] || ln -sf "${path_dirs[i]}"/* "$work/no-sudo-path/"
done
rm -f "$work/no-sudo-path/sudo"
for script in setup.sh setup-i386.sh; do
    dir=$work/no-sudo-${script%.sh}
    stand_ins "$dir" 1000
    rm "$dir/sudo"
    STATUS=0
    env -u ZAL_SKIP_I386 PATH="$dir:$work/no-sudo-path" ZAL_BINFMT_MISC="$dir/binfmt" \
        bash "$root/scripts/$script" >"$dir/out.log" 2>&1 || STATUS=$?
    OUT=$(cat "$dir/out.log")
    what="$script as user 1000 without sudo"
    [ "$STATUS" = 1 ] && [ ! -e "$dir/apt.log" ] && [ "$(grep -c . <<<"$OUT")" = 2 ] &&
        [[ $OUT == *"${script%.sh}: could not install "*": this user is not root, and sudo is not installed"* ]] ||
        fail "$what: exit status $STATUS, apt-get ran '$(apt_verbs "$dir")', said: $OUT"
    ok "$what: exit status 1 at once, apt-get never ran, said: ${OUT##*$'\n'}"
done

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
setup-i386.sh|0|1|wine64 wine32:i386 qemu-user|Debian's archive may be mid-sync or out of reach: run this again later, or set ZAL_SKIP_I386=1 to run every stage but the 32-bit one.
setup-i386.sh|1|3||
setup.sh|1|1|cmake ninja-build g++ * osslsigncode openssl ca-certificates|Debian's archive may be mid-sync or out of reach: run this again later.
EOF

# An install that apt-get says went well, yet after which the packages are not there, is a failure too.
dir=$work/left-out
stand_ins "$dir" 0
printf '#!/bin/sh\nexit 1\n' >"$dir/dpkg-query"
run_setup setup-i386.sh "$dir"
what="setup-i386.sh, an install that leaves its packages out"
[ "$STATUS" = 1 ] && [ "$(apt_verbs "$dir")" = "update install" ] &&
    [[ $OUT == *"setup-i386: could not install wine64 wine32:i386 qemu-user: apt-get ended without an error, yet wine64 wine32:i386 qemu-user is not installed. Debian's archive may be"* ]] ||
    fail "$what: exit status $STATUS, apt-get ran '$(apt_verbs "$dir")', said: $OUT"
ok "$what: exit status 1, said: ${OUT##*$'\n'}"
