#!/usr/bin/env bash
# Usage: tests/scripts/run.sh
# Checks of the shell helpers every stage leans on: start_xvfb (scripts/xvfb.sh) fails with a message of
# its own, not with DISPLAY=":", when Xvfb dies or hangs; and the setup scripts keep DEBIAN_FRONTEND when
# they go through sudo, which starts its command with an environment of its own. The setup scripts run
# against stand-ins for id, sudo, dpkg, dpkg-query, apt-get, locale, mount and tee that only record what
# they were asked, so nothing is installed. Work files: build/scripts-test/.
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

# A server that never reports a display: the stand-in writes to its log and sleeps.
mkdir -p "$work/hung"
printf '#!/bin/sh\necho "stand-in for a hung Xvfb" >&2\nexec sleep 300\n' >"$work/hung/Xvfb"
chmod +x "$work/hung/Xvfb"
mapfile -t got < <(XVFB_START_TIMEOUT=1 start_in_subshell 640x480x24 "$work/hung")
[ "${got[0]}" = 1 ] && [ "${got[1]}" = unset ] || fail "hung Xvfb: status ${got[0]}, DISPLAY ${got[1]}"
[[ ${got[2]} == *"reported no display within 1 s: stand-in for a hung Xvfb"* ]] || fail "hung Xvfb: said ${got[2]}"
! pgrep -f "^sleep 300$" >/dev/null || fail "the hung Xvfb stand-in was left running"
ok "start_xvfb with a server that hangs: status 1 after the deadline, the server ended"

# ----- the setup scripts through sudo -------------------------------------------------------------------

# stand_ins DIR UID: the commands the setup scripts call, as seen by user UID on a machine that lacks
# every package. apt-get records its verb, DEBIAN_FRONTEND and whether sudo ran it, in DIR/apt.log.
stand_ins() {
    local dir=$1
    mkdir -p "$dir"
    printf '#!/bin/sh\n[ "$1" = -u ] && echo %s || exec /usr/bin/id "$@"\n' "$2" >"$dir/id"
    # As sudo does by default: the command gets a fresh environment, plus what its command line sets.
    printf '#!/bin/sh\nexec env -i PATH="$PATH" SUDO_USER=tester "$@"\n' >"$dir/sudo"
    printf '#!/bin/sh\nexit 1\n' >"$dir/dpkg-query"
    printf '#!/bin/sh\necho i386\n' >"$dir/dpkg"
    printf '#!/bin/sh\necho "$1 DEBIAN_FRONTEND=${DEBIAN_FRONTEND-unset} SUDO_USER=${SUDO_USER-none}" >>%s\n' \
        "$dir/apt.log" >"$dir/apt-get"
    printf '#!/bin/sh\necho ja_JP.utf8\n' >"$dir/locale"
    printf '#!/bin/sh\nexit 1\n' >"$dir/mount"
    printf '#!/bin/sh\ncat >/dev/null\n' >"$dir/tee"
    chmod +x "$dir"/*
}

while read -r script uid expected; do
    dir=$work/setup-$uid-${script%.sh}
    stand_ins "$dir" "$uid"
    # setup-i386.sh goes on to binfmt_misc, whose state is this machine's; only its apt-get call counts.
    env -u DEBIAN_FRONTEND PATH="$dir:$PATH" bash "$root/scripts/$script" >"$dir/out.log" 2>&1 ||
        [ "$script" = setup-i386.sh ] || fail "$script as user $uid: $(cat "$dir/out.log")"
    grep -qx "install $expected" "$dir/apt.log" 2>/dev/null ||
        fail "$script as user $uid: apt-get install ran with '$(grep ^install "$dir/apt.log" 2>/dev/null)', expected '$expected'"
    ok "$script as user $uid: apt-get install ran with $expected"
done <<'EOF'
setup.sh 1000 DEBIAN_FRONTEND=noninteractive SUDO_USER=tester
setup.sh 0 DEBIAN_FRONTEND=noninteractive SUDO_USER=none
setup-i386.sh 1000 DEBIAN_FRONTEND=noninteractive SUDO_USER=tester
setup-i386.sh 0 DEBIAN_FRONTEND=noninteractive SUDO_USER=none
EOF
