#!/usr/bin/env bash
# Usage: tests/scripts/run.sh
# Checks of the shell helpers every stage leans on: start_xvfb (scripts/xvfb.sh) fails with a message of
# its own, not with DISPLAY=":", when Xvfb dies or hangs; a failing stage ends the test command's jobs in
# the background and shows their logs (scripts/jobs.sh); scripts/wine-prefix.sh works in a fresh clone and
# refuses a WoW64 prefix that 32-bit Wine did not help make; a failed 32-bit stage ends with one line that
# tells 32-bit Wine's fault from the project's (tests/i386/trivial.sh); the setup scripts keep DEBIAN_FRONTEND when they
# go through sudo, which starts its command with an environment of its own; they try apt again when
# Debian's archive fails for a while, install without a suite whose index keeps failing, and say in one
# line what to do when nothing works; the 32-bit setup runs 32-bit programs natively where the kernel runs a
# tiny one with no emulator in the way, removing the project's qemu-i386 entry, and registers qemu-i386
# elsewhere, saying which mode. The setup scripts run against stand-ins for id, sudo, dpkg, dpkg-query,
# apt-get, apt-cache, apt-config, locale, mount, unshare, tee (binfmt_misc's writes) and the tiny program
# that only record what they were asked and answer as told, so nothing is installed and this machine's
# binfmt_misc is never touched; and once against this machine's own apt, which only simulates. Work files:
# build/scripts-test/.
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
# package, with apt's sources in DIR/etc (Debian's, in deb822), and a binfmt_misc of its own, DIR/binfmt,
# where qemu-i386 is registered. apt-get records its verb ("simulate" for -s), DEBIAN_FRONTEND, LC_ALL and
# whether sudo ran it, in DIR/apt.log, and answers from DIR/apt-VERB.plan: one "STATUS|WHAT IT SAYS" a line,
# a line a call, the last one for every later call; with no plan it succeeds and says nothing. A package is
# installed once an install has succeeded. apt-cache knows no package.
stand_ins() {
    local dir=$1
    mkdir -p "$dir/binfmt" "$dir/etc/sources.list.d"
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
case " \$* " in *" update "*) verb=update ;; *" -s "* | *" --print-uris "*) verb=simulate ;; esac
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
    printf '#!/bin/sh\n' >"$dir/apt-cache"
    # apt-config shell NAME KEY...: where this machine's apt keeps what the setup reads.
    cat >"$dir/apt-config" <<EOF
#!/bin/sh
shift
while [ \$# -ge 2 ]; do
    case \$2 in
    Dir::Etc::sourcelist/f) echo "\$1='$dir/etc/sources.list'" ;;
    Dir::Etc::sourceparts/d) echo "\$1='$dir/etc/sources.list.d/'" ;;
    Dir::State::status/f) echo "\$1='$dir/status'" ;;
    APT::Architecture) echo "\$1='amd64'" ;;
    esac
    shift 2
done
EOF
    cat >"$dir/etc/sources.list.d/debian.sources" <<'EOF'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
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

# What apt-get says when Debian's archive fails: an index replaced while it was read (as this machine's
# apt-get update said, with exit status 100), an archive out of reach (said with exit status 0), and the
# install after the first, which found the i386 packages of the security versions missing.
mid_sync='E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]\n   Hashes of expected file:\n    - Filesize:376004 [weak]\nE: Some index files failed to download. They have been ignored, or old ones used instead.'
unreachable="W: Failed to fetch http://deb.debian.org/debian/dists/bookworm/InRelease  Temporary failure resolving 'deb.debian.org'\nW: Some index files failed to download. They have been ignored, or old ones used instead."
breaks=' wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed\nE: Error, pkgProblemResolver::Resolve generated breaks, this may be caused by held packages.'

# ----- the install without a failing suite, planned by this machine's apt ----------------------------------

# setup-i386.sh on this machine as it was before the 32-bit setup (dpkg's status without its i386 packages),
# while apt-get update cannot fetch the i386 index of its security suite (apt's lists without it): apt-get
# computes every plan from this machine's real packages and lists, but only simulates (-s), and nothing of
# the machine's is written. The install with the lists as they are breaks, as it did for the issue's
# machine; the install without the security suite is planned for real. Its plan must install wine32:i386,
# remove nothing, downgrade only the packages said to be moved, from and to the versions said, each to one
# version on both architectures; and, when anything was moved, the same install without the versions asked
# for must be one that apt refuses or that removes packages.
real_apt() {
    # For apt_said, which puts what apt said on one line.
    source "$root/scripts/apt.sh"
    local dir=$work/real-apt start=$SECONDS lists status native target uri filename suite f control moved
    eval "$(LC_ALL=C apt-config shell lists Dir::State::lists/d status Dir::State::status/f native APT::Architecture)"
    target=$(LC_ALL=C apt-get indextargets --format '$(URI) $(FILENAME) $(RELEASE)' 'Identifier: Packages' \
        'Architecture: i386' 2>/dev/null | awk '$3 ~ /-security$/ { print; exit }')
    if [ -z "$target" ]; then
        echo "SKIPPED: the install without a failing suite, planned by this machine's apt: apt has no i386 index of a security suite here (no i386 lists, as where the 32-bit stage is skipped, or no security suite)"
        return 0
    fi
    read -r uri filename suite <<<"$target"
    stand_ins "$dir" 0
    rm "$dir/apt-config" "$dir/apt-cache"
    mkdir -p "$dir/lists/partial" "$dir/admin"
    for f in "$lists"*; do
        [ -f "$f" ] && [[ $f != "${filename%_Packages*}_Packages"* ]] && ln -s "$f" "$dir/lists/" || true
    done
    awk 'BEGIN { RS = ""; ORS = "\n\n" } !/\nArchitecture: i386\n/' "$status" >"$dir/admin/status"
    printf 'Dir::State::Lists "%s/lists/";\nDir::State::status "%s/admin/status";\nAPT::Architectures { "%s"; "i386"; };\n' \
        "$dir" "$dir" "$native" >"$dir/apt.conf"
    # apt-get: the update fails as the issue's did; the install with the lists as they are breaks; apt's
    # simulations are its own, the last kept as the plan. The install that follows must be the very command
    # simulated last, and is taken to do what the plan says; the same install without the versions asked for
    # is planned too, as the control.
    cat >"$dir/apt-get" <<EOF
#!/usr/bin/env bash
case " \$* " in
*" update "*)
    printf 'E: Failed to fetch %s.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]\nE: Some index files failed to download. They have been ignored, or old ones used instead.\n' "$uri" >&2
    exit 100 ;;
*" --print-uris "*) exec /usr/bin/apt-get "\$@" ;;
*" -s "*)
    printf '%s\n' "\$@" | grep -vx -- -s >"$dir/simulated"
    status=0
    /usr/bin/apt-get "\$@" >"$dir/plan" 2>&1 || status=\$?
    cat "$dir/plan"
    exit \$status ;;
*" Dir::Etc::sourceparts="*) ;;
*) printf '%b\n' "$breaks" >&2; exit 100 ;;
esac
printf '%s\n' "\$@" | grep -vxE -- '-y|-qq|--no-remove' | cmp -s - "$dir/simulated" || {
    echo "the install is not the command simulated last" >&2
    exit 100
}
control=()
prev=
for a; do
    [ "\$prev" != -o ] && [[ \$a == [!-]*=* ]] || [[ \$a == @(-y|-qq|--no-remove|--allow-downgrades) ]] || control+=("\$a")
    prev=\$a
done
/usr/bin/apt-get --print-uris "\${control[@]}" >"$dir/control" 2>&1 || echo "exit status \$?" >>"$dir/control"
awk '\$1 == "Inst" { print \$2 }' "$dir/plan" >"$dir/installed"
EOF
    # dpkg-query: dpkg's status without the i386 packages, and those that the simulated install installed.
    cat >"$dir/dpkg-query" <<EOF
#!/usr/bin/env bash
case \$1 in --admindir=*) exec /usr/bin/dpkg-query "\$@" ;; esac
said=\$(/usr/bin/dpkg-query --admindir="$dir/admin" "\$@" 2>/dev/null)
[ "\$said" = "install ok installed" ] || ! grep -qxF -- "\${*: -1}" "$dir/installed" 2>/dev/null || said="install ok installed"
printf '%s' "\$said"
EOF
    chmod +x "$dir/apt-get" "$dir/dpkg-query"
    local before
    before=$(find /etc/apt "$status" -type f -readable -exec md5sum {} + | sort)
    run_setup setup-i386.sh "$dir" ZAL_APT_TRIES=1 APT_CONFIG="$dir/apt.conf"
    local what="setup-i386.sh without $uri, planned by this machine's apt"
    [ "$STATUS" = 0 ] && [ -s "$dir/plan" ] || fail "$what: exit status $STATUS: $OUT"
    [[ $OUT == *"setup-i386: installed with $suite of ${uri%%/dists/*} left out (packages moved: $(grep -c '^setup-i386: moving ' <<<"$OUT"))"* ]] ||
        fail "$what: said: $OUT"
    [ "$(find /etc/apt "$status" -type f -readable -exec md5sum {} + | sort)" = "$before" ] ||
        fail "$what: /etc/apt or dpkg's status changed"
    grep -q '^Inst wine32:i386 ' "$dir/plan" || fail "$what: the plan does not install wine32:i386: $(apt_said "$dir/plan")"
    ! grep '^Remv ' "$dir/plan" || fail "$what: the plan removes the packages above"
    # "PACKAGE OLD NEW" for each package the plan downgrades, and the same for each the setup said it moved.
    local p old new down twin
    down=$(awk '$1 == "Inst" && $3 ~ /^\[/ { v = $4; sub(/^\(/, "", v); print $2, substr($3, 2, length($3) - 2), v }' \
        "$dir/plan" | while read -r p old new; do
        ! dpkg --compare-versions "$new" lt "$old" || echo "$p $old $new"
    done | sort)
    moved=$(sed -n 's/^setup-i386: moving \([^ ]*\) from \([^ ]*\) to \([^ ]*\)$/\1 \2 \3/p' <<<"$OUT" | sort)
    [ "$down" = "$moved" ] || fail "$what: the plan downgrades:
$down
but the setup said it moved:
$moved"
    while read -r p old new; do
        [ -n "$p" ] || continue
        twin=$(awk -v p="${p%:*}:i386" '$1 == "Inst" && $2 == p { sub(/^\(/, "", $3); print $3 }' "$dir/plan")
        [ -z "$twin" ] || [ "$twin" = "$new" ] || fail "$what: $p goes to $new, and its i386 twin to $twin"
    done <<<"$moved"
    control=$(apt_said "$dir/control")
    if [ -n "$moved" ]; then
        grep -qE '^The following packages will be REMOVED:$|^exit status ' "$dir/control" ||
            fail "$what: without the versions asked for, apt's plan works too"
        control="without the versions asked for, apt says: $control$(grep -E ' to remove ' "$dir/control" || true)"
    fi
    ok "$what, in $((SECONDS - start)) s: $(grep -E '^[0-9]+ upgraded' "$dir/plan"); $control; the setup said:"
    grep -E '^setup-i386: (apt-get update could not|moving|installed)' <<<"$OUT" | sed 's/^/        /'
}

# It takes the longest, mostly apt's own work: it runs beside the cases below, and what it says is shown
# after them.
real_apt >"$work/real-apt.log" 2>&1 &
real_apt_pid=$!
trap 'kill "$real_apt_pid" 2>/dev/null || true' EXIT

# ----- the setup scripts against stand-ins --------------------------------------------------------------

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

# An archive that keeps failing: three tries, the last installing with the lists as they are, then one more
# without the suite whose index failed, which apt's plan refuses too; then one line naming the packages,
# what apt said and what to do, and a failure. ZAL_SKIP_I386=1 skips the 32-bit setup without asking apt
# anything.
while IFS='|' read -r script skip want packages advice; do
    dir=$work/always-${script%.sh}-skip$skip
    stand_ins "$dir" 0
    printf '100|%s\n' "$mid_sync" >"$dir/apt-update.plan"
    printf '100|%s\n' "$breaks" >"$dir/apt-install.plan"
    printf '100|%s\n' "$breaks" >"$dir/apt-simulate.plan"
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
    [ "$verbs" = "update update update install simulate" ] || fail "$what: apt-get ran '$verbs'"
    line=$(grep 'could not install' <<<"$OUT") || fail "$what: no line says what could not be installed: $OUT"
    # The packages are a pattern: setup.sh's list is long.
    start="${script%.sh}: could not install $packages: wine32:i386 : Depends: libwine:i386 "
    # shellcheck disable=SC2053
    [[ $line == $start* ]] && [[ $line == *"held packages.; with bookworm-security of http://deb.debian.org/debian-security left out: wine32:i386 : Depends: libwine:i386 "*" E: Error, pkgProblemResolver::Resolve generated breaks"* ]] &&
        [[ $line == *" (apt-get update: E: Failed to fetch "*"Mirror sync in progress?"* ]] &&
        [[ $line == *". $advice" ]] && [ "$(grep -c 'could not install' <<<"$OUT")" = 1 ] &&
        [[ $OUT == *"${script%.sh}: apt-get update could not fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz: installing with bookworm-security of http://deb.debian.org/debian-security left out, for this install only"* ]] ||
        fail "$what: said: $OUT"
    ok "$what: exit status $want after three tries and one without the failing suite, in one line:"
    printf '        %s\n' "$line"
done <<'EOF'
setup-i386.sh|0|1|wine64 wine32:i386 qemu-user|Debian's archive may be mid-sync or out of reach: run this again later, or set ZAL_SKIP_I386=1 to run every stage but the 32-bit one.
setup-i386.sh|1|3||
setup.sh|1|1|cmake ninja-build g++ * osslsigncode openssl ca-certificates|Debian's archive may be mid-sync or out of reach: run this again later.
EOF

# A plan without the failing suite that removes a package, or that downgrades one the setup did not move,
# is never carried out: apt-get installs nothing more, and the one line says why. Each plan is the summary
# (--print-uris), then the simulation (-s).
while IFS=';' read -r name summary simulation said; do
    dir=$work/refused-$name
    stand_ins "$dir" 0
    printf '100|%s\n' "$mid_sync" >"$dir/apt-update.plan"
    printf '100|%s\n' "$breaks" >"$dir/apt-install.plan"
    printf '%s\n%s\n' "$summary" "$simulation" >"$dir/apt-simulate.plan"
    run_setup setup-i386.sh "$dir"
    what="setup-i386.sh, a plan without the failing suite that $name"
    verbs=$(apt_verbs "$dir")
    [ "$STATUS" = 1 ] && [[ $verbs == "update update update install simulate"*([ ]simulate) ]] &&
        [[ $OUT == *"setup-i386: could not install wine64 wine32:i386 qemu-user: wine32:i386 : Depends: "*"; with bookworm-security of http://deb.debian.org/debian-security left out, $said (apt-get update: E: Failed to fetch "* ]] &&
        [[ $OUT != *"setup-i386: moving "* ]] || fail "$what: exit status $STATUS, apt-get ran '$verbs', said: $OUT"
    ok "$what: exit status 1, apt-get ran '$verbs', said: ... $said ..."
done <<'EOF'
removes;0|The following packages will be REMOVED:\n  libwine wine64;0|Remv libwine [8.0~repack-4]\nRemv wine64 [8.0~repack-4];apt would remove libwine wine64, which this install never does
downgrades;0|;0|Inst libgstreamer-plugins-base1.0-0 [1.22.0-3+deb12u7] (1.22.0-3+deb12u6 Debian:12.11/stable [amd64]);apt would downgrade libgstreamer-plugins-base1.0-0, which this install does not move
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

# ----- the sources without a failing suite ------------------------------------------------------------------

# Sources of each kind, as people write them; three indexes fail: one of a suite in a one-line entry (with
# options, and a deb-src line for the same suite), one of a suite that a deb822 stanza shares with another
# (over a continuation line), and the Release file of a stanza of one suite. A disabled stanza stays as it
# is, and a part apt does not read is not copied.
dir=$work/sources
stand_ins "$dir" 0
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
cat >"$dir/etc/sources.list" <<EOF
deb [arch=amd64 signed-by=$keyring] http://mirror.example/debian/ bookworm main
deb [signed-by=$keyring] http://mirror.example/debian bookworm-updates main
	deb-src [signed-by=$keyring] http://mirror.example/debian bookworm main
# deb http://mirror.example/debian bookworm-backports main
EOF
cat >"$dir/etc/sources.list.d/debian.sources" <<EOF
Types: deb
URIs: http://deb.debian.org/debian/
Suites: bookworm
 bookworm-updates
Components: main
Signed-By: $keyring

# The security suite, apart.
Types: deb
URIs: http://deb.debian.org/debian-security
suites: bookworm-security
Components: main
Signed-By: $keyring
EOF
printf 'Enabled: no\nTypes: deb\nURIs: http://deb.debian.org/debian-security\nSuites: bookworm-security\nComponents: main\n' \
    >"$dir/etc/sources.list.d/off.sources"
cp "$dir/etc/sources.list" "$dir/etc/sources.list.d/old.list.disabled"
mapfile -t said < <(PATH="$dir:$PATH" bash -c 'source "$1/scripts/apt.sh"; apt_sources_without "${@:2}"' _ "$root" \
    "$dir/out" http://mirror.example/debian/dists/bookworm/main/binary-i386/Packages.xz \
    http://deb.debian.org/debian/dists/bookworm-updates/main/binary-i386/Packages.xz \
    http://deb.debian.org/debian-security/dists/bookworm-security/InRelease)
what="the sources without the suites of three indexes that failed"
[ "${said[*]}" = "bookworm of http://mirror.example/debian bookworm-security of http://deb.debian.org/debian-security bookworm-updates of http://deb.debian.org/debian" ] ||
    fail "$what: said it left out: ${said[*]}"
[ "$(ls "$dir/out")" = "$(printf '0-sources.list\ndebian.sources\noff.sources')" ] || fail "$what: wrote $(ls "$dir/out")"
cmp -s "$dir/etc/sources.list.d/off.sources" "$dir/out/off.sources" || fail "$what: the disabled stanza changed"
diff <(sed '1s/^/# /;3s/^/# /' "$dir/etc/sources.list") "$dir/out/0-sources.list" ||
    fail "$what: the one-line entries left out are not those of bookworm from mirror.example"
diff <(sed -e '3,4c Suites: bookworm' -e '8,$s/^/# /' "$dir/etc/sources.list.d/debian.sources") "$dir/out/debian.sources" ||
    fail "$what: the deb822 stanzas"
# apt reads the copy, and would fetch the suites kept, and only those.
mkdir -p "$dir/lists/partial"
fetched=$(LC_ALL=C apt-get -o Dir::Etc::sourcelist=/dev/null -o "Dir::Etc::sourceparts=$dir/out" \
    -o "Dir::State::Lists=$dir/lists/" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= update --print-uris 2>&1 |
    grep -oE "^'[^']*InRelease'|^[EW]: .*" | tr -d "'" | sort | paste -sd ' ')
[ "$fetched" = "http://deb.debian.org/debian/dists/bookworm/InRelease http://mirror.example/debian/dists/bookworm-updates/InRelease" ] ||
    fail "$what: apt, reading the copy, would fetch: $fetched"
ok "$what: each left out once, the rest as written, and apt would fetch only $fetched"

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

real_apt_status=0
wait "$real_apt_pid" || real_apt_status=$?
trap - EXIT
cat "$work/real-apt.log"
exit "$real_apt_status"
