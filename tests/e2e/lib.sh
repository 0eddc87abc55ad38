# shellcheck shell=bash
# Sourced by every end-to-end case: one session is a private Xvfb, a Wine prefix of the suite's own (a copy
# of the project's prefix in which Wine places and frames the windows itself) and the probe as a
# coprocess. Tests run with e2e_test; an assertion that fails ends its test, and the session goes on with
# the next one. Environment: E2E_BUILD, the win64 build directory (run.sh sets it). Everything a case
# writes lives under build/e2e/. The probe's waits time out after 30 s unless given timeout=MS.

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
E2E_BUILD=$(cd "${E2E_BUILD:-$E2E_ROOT/build/win64}" && pwd)
E2E_HOME=$E2E_ROOT/build/e2e
E2E_WINE=${E2E_WINE:-/usr/lib/wine/wine64}
E2E_WINESERVER=$(dirname "$E2E_WINE")/wineserver
E2E_CASE=${E2E_CASE:-$(basename "$0" .sh)}
E2E_WORK=$E2E_HOME/work/$E2E_CASE
E2E_CONVERT=/usr/bin/convert
E2E_PROBE_EXE=${E2E_PROBE_EXE:-$E2E_BUILD/tests/e2e/zal_probe.exe}
E2E_FAILED=0
E2E_PASSED=0
declare -gA R=()
PROBE_LINES=()
PROBE_STATUS=

source "$E2E_ROOT/scripts/xvfb.sh"

# Each run of a case starts from an empty work directory and leaves it for inspection.
rm -rf "$E2E_WORK"
mkdir -p "$E2E_WORK"

# ----- failures and assertions --------------------------------------------------------------------------

e2e_fail() {
    echo "    FAIL: $*" >&2
    exit 1
}

e2e_log() {
    echo "    $*"
}

assert_eq() { # EXPECTED ACTUAL WHAT
    [ "$1" = "$2" ] || e2e_fail "$3: expected '$1', got '$2'"
}

assert_ne() { # UNEXPECTED ACTUAL WHAT
    [ "$1" != "$2" ] || e2e_fail "$3: got '$2', which it must not be"
}

assert_match() { # EXTENDED_REGEX ACTUAL WHAT
    [[ $2 =~ $1 ]] || e2e_fail "$3: '$2' does not match /$1/"
}

assert_ge() { # ACTUAL MIN WHAT
    [ "$1" -ge "$2" ] || e2e_fail "$3: $1 is less than $2"
}

assert_le() { # ACTUAL MAX WHAT
    [ "$1" -le "$2" ] || e2e_fail "$3: $1 is more than $2"
}

assert_between() { # ACTUAL MIN MAX WHAT
    if [ "$1" -lt "$2" ] || [ "$1" -gt "$3" ]; then
        e2e_fail "$4: $1 is outside $2..$3"
    fi
}

assert_exists() { # PATH
    [ -e "$1" ] || e2e_fail "$1 does not exist"
}

assert_absent() { # PATH
    [ ! -e "$1" ] || e2e_fail "$1 exists and should not"
}

assert_same_file() { # ACTUAL EXPECTED_COPY: byte for byte
    [ -f "$1" ] || e2e_fail "$1 is missing"
    cmp -s "$1" "$2" || e2e_fail "$1 differs from $2"
}

assert_file_text() { # PATH TEXT: the file holds exactly TEXT
    [ -f "$1" ] || e2e_fail "$1 is missing"
    [ "$(cat "$1")" = "$2" ] || e2e_fail "$1 holds '$(head -c 80 "$1")', expected '$2'"
}

# ----- texts and paths ----------------------------------------------------------------------------------

winpath() { # UNIX_PATH -> the Windows path Wine gives it through drive Z:
    local path
    path=$(realpath -m "$1")
    printf 'Z:%s' "${path//\//\\}"
}

cp1252() { # UTF8_TEXT -> its Windows-1252 bytes
    printf '%s' "$1" | iconv -f UTF-8 -t CP1252
}

cp1252_hex() { # UTF8_TEXT -> lower-case hex of its Windows-1252 bytes, as the probe reports texts
    printf '%s' "$1" | iconv -f UTF-8 -t CP1252 | od -An -v -tx1 | tr -d ' \n'
}

_e2e_pct() {
    if [[ $1 =~ ^[A-Za-z0-9._/:,+=@-]*$ ]]; then
        printf '%s' "$1"
        return
    fi
    printf '%s' "$1" | LC_ALL=C od -An -v -tx1 | LC_ALL=C awk '
        BEGIN { for (i = 33; i < 127; i++) if (i != 37) safe[sprintf("%02x", i)] = sprintf("%c", i) }
        { for (i = 1; i <= NF; i++) printf "%s", (($i in safe) ? safe[$i] : "%" toupper($i)) }'
}


# ----- the probe ----------------------------------------------------------------------------------------

# e2e_record LINE: parses one record line into R (R[kind] is its first word; values decoded).
e2e_record() {
    local token key value
    local -a tokens
    R=()
    read -ra tokens <<<"$1"
    R[kind]=${tokens[0]:-}
    for token in "${tokens[@]:1}"; do
        key=${token%%=*}
        value=${token#*=}
        value=${value//\\/\\\\}
        printf -v "R[$key]" '%b' "${value//%/\\x}"
    done
}

# probe VERB [key=value...]: one command; values are raw bytes (encoded here). Sets PROBE_LINES (the
# record lines), PROBE_STATUS (the status line) and R: the answer's main record (its first one other than
# the "at" of a delayed command), or the status line of a failure. Returns 1 when the probe answers fail.
probe() {
    [ -n "${PROBE_PID:-}" ] || e2e_fail "the probe is not running"
    local line=$1 arg answer wait_s=90
    shift
    for arg in "$@"; do
        line+=" ${arg%%=*}=$(_e2e_pct "${arg#*=}")"
        case $arg in
        timeout=* | after=* | ms=*) wait_s=$((wait_s + ${arg#*=} / 1000)) ;;
        esac
    done
    printf '%s\n' "$line" >>"$E2E_WORK/probe.log"
    printf '%s\n' "$line" >&"$E2E_TO_PROBE"
    PROBE_LINES=()
    PROBE_STATUS=
    while :; do
        if ! IFS= read -r -t "$wait_s" answer <&"$E2E_FROM_PROBE"; then
            # Out of step for good: end the probe, so that the tests after this one fail at once.
            kill "$PROBE_PID" 2>/dev/null || true
            e2e_fail "the probe did not answer '${line:0:200}' within $wait_s s; the session is over"
        fi
        printf '%s\n' "$answer" >>"$E2E_WORK/probe.log"
        case $answer in
        "ok "* | "fail "*)
            PROBE_STATUS=$answer
            break
            ;;
        *) PROBE_LINES+=("$answer") ;;
        esac
    done
    if [[ $PROBE_STATUS == fail* ]]; then
        e2e_record "$PROBE_STATUS"
        return 1
    fi
    R=()
    local record
    for record in "${PROBE_LINES[@]}"; do
        [[ $record == "at "* ]] && continue
        e2e_record "$record"
        break
    done
    return 0
}

# probe_ok VERB [key=value...]: as probe, and a failure fails the test.
probe_ok() {
    probe "$@" || e2e_fail "probe $1: ${R[reason]:-} ${R[message]:-}"
}

# probe_records KIND: the record lines of the last answer that are of KIND, one a line.
probe_records() {
    local line
    for line in "${PROBE_LINES[@]}"; do
        [[ $line == "$1 "* || $line == "$1" ]] && printf '%s\n' "$line"
    done
    return 0
}

# e2e_wait_for SECONDS WHAT COMMAND...: runs COMMAND every 0.1 s until it succeeds; fails the test when it
# has not within SECONDS. COMMAND runs in the current shell, so R holds what its last probe answered.
e2e_wait_for() {
    local seconds=$1 what=$2 deadline
    shift 2
    deadline=$(($(date +%s%N) + seconds * 1000000000))
    until "$@"; do
        [ "$(date +%s%N)" -lt "$deadline" ] || e2e_fail "gave up after $seconds s waiting for $what"
        sleep 0.1
    done
}

# ----- prefixes and sessions ----------------------------------------------------------------------------

# e2e_prefix DPI: the suite's prefix for that resolution, made once from the project's prefix. With no
# window manager under Xvfb, Wine is told to manage the windows itself (X11 Driver: Decorated=N, so that it
# draws frames and caption bars, which screenshots would otherwise lack; Managed=N, so that it places and
# sizes windows, maximised ones included, without waiting for a manager that never answers). Each
# resolution has a prefix of its own, since the value is read by the whole Wine session.
E2E_PREFIX_VERSION=2
e2e_prefix() {
    local dpi=$1 shared=$E2E_ROOT/build/wine64 prefix=$E2E_HOME/prefix-$1
    mkdir -p "$E2E_HOME"
    "$E2E_ROOT/scripts/wine-prefix.sh" "$shared" "$E2E_WINE" >&2
    (
        flock 9
        [ "$(cat "$prefix/.e2e-ready" 2>/dev/null)" = "$E2E_PREFIX_VERSION" ] && exit 0
        echo "e2e: making $prefix" >&2
        rm -rf "$prefix"
        # Safe while other suites use the project's prefix: Wine replaces its registry files whole.
        cp -a "$shared" "$prefix"
        rm -f "$prefix/.e2e-ready"
        export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
        "$E2E_WINESERVER" -w
        "$E2E_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
        "$E2E_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
        "$E2E_WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
        "$E2E_WINESERVER" -w
        echo "$E2E_PREFIX_VERSION" >"$prefix/.e2e-ready"
    ) 9>"$prefix.lock"
    printf '%s\n' "$prefix"
}

# e2e_start [--geometry WxHxD] [--dpi N] [--locale LOCALE]: starts a session: Xvfb, the prefix (held for
# the session, so that two runs never share a Wine session) and the probe. A case may run several
# sessions one after the other, each ended by e2e_stop (the last by e2e_finish).
e2e_start() {
    local geometry=1280x1024x24 dpi=96 locale=C.UTF-8
    while [ $# -gt 0 ]; do
        case $1 in
        --geometry) geometry=$2 ;;
        --dpi) dpi=$2 ;;
        --locale) locale=$2 ;;
        *) e2e_fail "e2e_start: unknown option $1" ;;
        esac
        shift 2
    done
    [ -f "$E2E_PROBE_EXE" ] || e2e_fail "no probe at $E2E_PROBE_EXE (build the zal_probe target)"
    trap e2e_stop EXIT
    start_xvfb "$geometry"
    E2E_PREFIX=$(e2e_prefix "$dpi") || e2e_fail "cannot prepare the Wine prefix"
    exec {E2E_LOCK_FD}>"$E2E_PREFIX.session.lock"
    flock "$E2E_LOCK_FD"
    export WINEPREFIX=$E2E_PREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    # A Wine session keeps the screen it started with; this one must start on our display.
    "$E2E_WINESERVER" -w
    coproc PROBE { LC_ALL=$locale exec "$E2E_WINE" "$E2E_PROBE_EXE" 2>>"$E2E_WORK/probe.stderr"; }
    # Bash hides a coprocess's own descriptors from subshells, and every test runs in one.
    exec {E2E_TO_PROBE}>&"${PROBE[1]}" {E2E_FROM_PROBE}<&"${PROBE[0]}"
    local ready
    IFS= read -r -t 120 ready <&"$E2E_FROM_PROBE" || e2e_fail "the probe did not start"
    [ "$ready" = ready ] || e2e_fail "the probe said '$ready' at start"
}

# e2e_stop: ends the session; runs from the EXIT trap too. Whatever the probe launched is terminated by it.
e2e_stop() {
    if [ -n "${PROBE_PID:-}" ]; then
        local pid=$PROBE_PID
        { printf 'quit\n' >&"$E2E_TO_PROBE"; } 2>/dev/null || true
        exec {E2E_TO_PROBE}>&- {E2E_FROM_PROBE}<&-
        local waited=0
        while kill -0 "$pid" 2>/dev/null && [ $waited -lt 300 ]; do
            sleep 0.1
            waited=$((waited + 1))
        done
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        PROBE_PID=
    fi
    if [ -n "${E2E_PREFIX:-}" ]; then
        timeout 60 "$E2E_WINESERVER" -w || true
        E2E_PREFIX=
    fi
    if [ -n "${E2E_LOCK_FD:-}" ]; then
        exec {E2E_LOCK_FD}>&-
        E2E_LOCK_FD=
    fi
    stop_xvfb
}

# e2e_test NAME FUNCTION [ARGS...]: runs one test in a subshell, prints its result and time, and lets the
# probe go of whatever the test started or locked.
e2e_test() {
    local name=$1 start status
    shift
    start=$(date +%s%N)
    echo "# test $name" >>"$E2E_WORK/probe.log"
    set +e
    (
        set -euo pipefail
        "$@"
    )
    status=$?
    set -e
    local ms=$((($(date +%s%N) - start) / 1000000))
    if [ $status -eq 0 ]; then
        printf '  ok   %-60s %6d ms\n' "$name" "$ms"
        E2E_PASSED=$((E2E_PASSED + 1))
    else
        printf '  FAIL %-60s %6d ms\n' "$name" "$ms"
        E2E_FAILED=$((E2E_FAILED + 1))
    fi
    probe reset >/dev/null || true
}

# e2e_finish: ends the session; the case's exit status says whether every test passed.
e2e_finish() {
    e2e_stop
    trap - EXIT
    echo "  $E2E_PASSED passed, $E2E_FAILED failed"
    [ "$E2E_FAILED" -eq 0 ]
}

# ----- the tool and its installation --------------------------------------------------------------------

e2e_tool_exe() {
    local candidate
    for candidate in "$E2E_BUILD/ZALUpdate.exe" "$E2E_BUILD/app/ZALUpdate.exe"; do
        [ -f "$candidate" ] && { printf '%s\n' "$candidate"; return 0; }
    done
    return 1
}

# e2e_install NAME: a fresh installation directory under the case's work directory, with the tool copied
# into it when it has been built. Prints its path.
e2e_install() {
    local dir=$E2E_WORK/$1 tool
    rm -rf "$dir"
    mkdir -p "$dir"
    if tool=$(e2e_tool_exe); then
        cp "$tool" "$dir/ZALUpdate.exe"
    fi
    printf '%s\n' "$dir"
}

# e2e_launch_tool DIR ARGUMENTS [key=value...]: starts DIR/ZALUpdate.exe as ZAL would, with the command
# line '"<path>" ARGUMENTS' (ARGUMENTS exact bytes; empty for none). The current directory is another one
# (the case's work directory) unless cwd= is given, so that nothing can lean on it by accident. Further
# key=value pairs go to launch (show=, out=).
e2e_launch_tool() {
    local dir=$1 arguments=$2 exe cwd
    shift 2
    exe=$(winpath "$dir/ZALUpdate.exe")
    local cmdline="\"$exe\""
    [ -n "$arguments" ] && cmdline+=" $arguments"
    cwd="cwd=$(winpath "$E2E_WORK")"
    [[ " $* " == *" cwd="* ]] && cwd=
    probe_ok launch "cmdline=$cmdline" ${cwd:+"$cwd"} "$@"
}

# ----- X11: windows, keys and pixels --------------------------------------------------------------------

# e2e_xwindow X Y W H: the X window that shows the Windows window with that outer rectangle. With Wine
# drawing the frames, the X window and the Windows window rectangle coincide. Waits for it to be mapped.
e2e_xwindow() {
    local x=$1 y=$2 w=$3 h=$4 tries=0 id
    while [ $tries -lt 100 ]; do
        id=$(xwininfo -root -children 2>/dev/null | awk -v g="${w}x${h}+${x}+${y}" '
            $1 ~ /^0x/ { for (i = 2; i <= NF; i++) if ($i == g) { print $1; exit } }')
        if [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
            printf '%s\n' "$id"
            return 0
        fi
        sleep 0.1
        tries=$((tries + 1))
    done
    e2e_fail "no viewable X window at ${w}x${h}+${x}+${y}"
}

# e2e_xwindow_of HWND: the X window of a top-level Windows window, by its current rectangle.
e2e_xwindow_of() {
    probe_ok window "hwnd=$1"
    e2e_xwindow "${R[x]}" "${R[y]}" "${R[w]}" "${R[h]}"
}

# e2e_xkey XID KEY...: focuses the X window and types xdotool key names (Return, space, Escape, Tab,
# alt+F4 ...), one after the other. It returns once X has the keys; the program handles them a moment
# later, so check their effect with e2e_wait_for (or a probe wait), never right away.
e2e_xkey() {
    local id=$1
    shift
    xdotool windowfocus --sync "$id" || e2e_fail "cannot focus X window $id"
    xdotool key --delay 50 "$@"
}

# e2e_xtype XID TEXT
e2e_xtype() {
    xdotool windowfocus --sync "$1" || e2e_fail "cannot focus X window $1"
    xdotool type --delay 30 "$2"
}

# e2e_screenshot FILE: the whole screen, as PNG.
e2e_screenshot() {
    import -window root "png:$1" || e2e_fail "screenshot failed"
}

# e2e_crop PNG X Y W H OUT
e2e_crop() {
    "$E2E_CONVERT" "$1" -crop "${4}x${5}+${2}+${3}" +repage "png:$6"
}

# e2e_pixels PNG X Y W H: one line "x y r g b" per pixel of the rectangle, in screen coordinates, 8 bits
# per channel.
e2e_pixels() {
    "$E2E_CONVERT" "$1" -crop "${4}x${5}+${2}+${3}" +repage -depth 8 txt:- | awk -v ox="$2" -v oy="$3" '
        /^#/ { next }
        {
            split($1, at, /[,:]/)
            match($0, /\([0-9]+,[0-9]+,[0-9]+/)
            split(substr($0, RSTART + 1, RLENGTH - 1), c, ",")
            print at[1] + ox, at[2] + oy, c[1], c[2], c[3]
        }'
}

# e2e_pixel PNG X Y: "r g b" of one pixel.
e2e_pixel() {
    e2e_pixels "$1" "$2" "$3" 1 1 | awk '{ print $3, $4, $5 }'
}

assert_pixel() { # PNG X Y "R G B" [TOLERANCE per channel]
    local got tolerance=${5:-0}
    got=$(e2e_pixel "$1" "$2" "$3")
    local -a g e
    read -ra g <<<"$got"
    read -ra e <<<"$4"
    local i
    for i in 0 1 2; do
        local d=$((g[i] - e[i]))
        [ ${d#-} -le "$tolerance" ] || e2e_fail "pixel ($2,$3) of $(basename "$1") is '$got', expected '$4'"
    done
}
