#!/usr/bin/env bash
# Usage: tests/scripts/run.sh
# Checks of the shell helpers every stage leans on: start_xvfb (scripts/xvfb.sh) fails with a message of
# its own, not with DISPLAY=":", when Xvfb dies or hangs; the setup scripts keep DEBIAN_FRONTEND when they
# go through sudo, which starts its command with an environment of its own; they try apt again when
# Debian's archive fails for a while, install without a suite whose index keeps failing, and say in one
# line what to do when nothing works. The setup scripts run against stand-ins for id, sudo, dpkg,
# dpkg-query, apt-get, apt-cache, apt-config, locale, mount and tee that only record what they were asked
# and answer as told, so nothing is installed; and once against this machine's own apt, which only
# simulates. Work files: build/scripts-test/.
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

real_apt_status=0
wait "$real_apt_pid" || real_apt_status=$?
trap - EXIT
cat "$work/real-apt.log"
exit "$real_apt_status"
