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
source "$E2E_ROOT/scripts/wine-env.sh"

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

hex() { printf '0x%08x' "$(($1))"; } # NUMBER -> 0x followed by 8 hex digits, as the probe reports styles

# The tool's windows as every suite expects them.
WS_VISIBLE=0x10000000
# CreateWindowEx adds WS_EX_WINDOWEDGE to every window with a caption, whatever was asked for; the tool
# asks for none, so it is masked before comparing.
WS_EX_WINDOWEDGE=0x100
WS_TABSTOP=0x00010000
FORM_STYLE=0x06C80000 # WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN
APP_STYLE=0x84CA0000  # WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX
CS_DBLCLKS=0x8
BS_DEFPUSHBUTTON=0x1
SS_ICON=0x3
TITLE_HEX=$(cp1252_hex "Atualização do ZAL")
BUTTON_HEX=$(cp1252_hex "Concluir Atualização")

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

# e2e_prefix DPI: the suite's prefix for that resolution, made once as a copy of the project's prefix
# (scripts/wine-prefix.sh), in which Wine already frames and places the windows itself, as it must with no
# window manager under Xvfb. Each resolution has a prefix of its own, since the whole Wine session reads it.
# Wine's relay trace, which only a process started with WINEDEBUG=+relay writes, is narrowed to the calls
# the cases look for. A prefix is remade only while no session uses it.
E2E_PREFIX_VERSION=4
E2E_RELAY_INCLUDE='user32.PostQuitMessage'
e2e_prefix() {
    local dpi=$1 shared=$E2E_ROOT/build/wine64 prefix=$E2E_HOME/prefix-$1
    mkdir -p "$E2E_HOME"
    "$E2E_ROOT/scripts/wine-prefix.sh" "$shared" "$E2E_WINE" >&2
    (
        flock 9
        [ "$(cat "$prefix/.e2e-ready" 2>/dev/null)" = "$E2E_PREFIX_VERSION" ] && exit 0
        exec 8>"$prefix.session.lock"
        flock 8
        echo "e2e: making $prefix" >&2
        rm -rf "$prefix"
        # Safe while other suites use the project's prefix: Wine replaces its registry files whole.
        cp -a "$shared" "$prefix"
        rm -f "$prefix/.e2e-ready"
        wine_env "$prefix"
        "$E2E_WINESERVER" -w
        "$E2E_WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
        "$E2E_WINE" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d "$E2E_RELAY_INCLUDE" /f \
            >/dev/null 2>&1
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
    wine_env "$E2E_PREFIX"
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

# e2e_put DIR NAME...: creates each file NAME in DIR with contents of its own, 64 KiB and a little more, a
# different size for each, so that a truncated, converted or mixed-up copy shows. ZAL's files are Windows
# images of their kind, as only such a staged copy is installed: ZAL.exe and ZAL.upd programs, Glimae.dll
# and Glimae.upd DLLs, each with data of its own; the staged copies are PE32+ and the installed files PE32,
# since ZAL may move to 64 bits one file at a time. Any other NAME gets random bytes (NULs, CR and LF among
# them). A copy of each is kept in DIR.orig/ to compare with afterwards.
e2e_put() {
    local dir=$1 name size=65536
    shift
    mkdir -p "$dir.orig"
    for name in "$@"; do
        size=$((size + 1 + RANDOM % 4096))
        case $name in
        ZAL.exe) e2e_make_program "$dir/$name" "$size" "$RANDOM$RANDOM" ;;
        ZAL.upd) e2e_make_program "$dir/$name" "$size" "$RANDOM$RANDOM" 64 ;;
        Glimae.dll) e2e_make_program "$dir/$name" "$size" "$RANDOM$RANDOM" dll ;;
        Glimae.upd) e2e_make_program "$dir/$name" "$size" "$RANDOM$RANDOM" dll 64 ;;
        *) head -c "$size" /dev/urandom >"$dir/$name" ;;
        esac
        cp -p "$dir/$name" "$dir.orig/$name"
    done
}

# e2e_make_program OUT BYTES SEED [dll] [64]: a Windows program image (a DLL with dll, PE32+ with 64) of
# exactly BYTES bytes, at least 2,048, made by testkit's maker: its data section fills it but for the last
# BYTES % 512, which follow the image as data of its own, since sections come in whole 512-byte blocks.
# SEED varies the data.
e2e_make_program() {
    local out=$1 bytes=$2 seed=$3 maker
    shift 3
    maker=$(e2e_program_maker)
    "$maker" "$out" "size=$bytes" "overlay=$((bytes % 512))" "seed=$seed" "$@" || e2e_fail "cannot make $out"
    [ "$(stat -c %s "$out")" = "$bytes" ] || e2e_fail "$out was made with $(stat -c %s "$out") bytes, not $bytes"
}

# e2e_program_maker: the path of the native zal_make_program, built as e2e_native_tool builds.
e2e_program_maker() {
    e2e_native_tool zal_make_program testkit/MakeProgram.cpp testkit/ProgramMaker.cpp core/ProgramImage.cpp \
        testkit/ProgramMaker.h core/ProgramImage.h
}

# e2e_sign FILE [OUT]: signs the program image FILE (Authenticode over SHA-256) into OUT, or in place, with
# the suite's throwaway self-signed certificate from scripts/test-cert.sh, and checks that osslsigncode
# finds the signature whole.
e2e_sign() {
    local file=$1 out=${2:-$1} certs=$E2E_HOME/cert signed=$E2E_WORK/signing.exe
    "$E2E_ROOT/scripts/test-cert.sh" "$certs" || e2e_fail "cannot make the test certificate"
    rm -f "$signed"
    osslsigncode sign -certs "$certs/cert.pem" -key "$certs/key.pem" -h sha256 -in "$file" -out "$signed" \
        >"$E2E_WORK/signing.log" 2>&1 || e2e_fail "cannot sign $file: $(tail -1 "$E2E_WORK/signing.log")"
    osslsigncode verify -CAfile "$certs/cert.pem" -in "$signed" >>"$E2E_WORK/signing.log" 2>&1 ||
        e2e_fail "osslsigncode does not verify the signature it made on $file: see $E2E_WORK/signing.log"
    cat "$signed" >"$out"
}

# e2e_state ROOT [PRUNED_DIR...]: one line per entry under ROOT (directories included, PRUNED_DIRs and
# what they hold left out): relative path, type, size, modification and change times in nanoseconds, inode,
# mode and, for files, SHA-256. Two equal states mean nothing was created, removed, renamed, written,
# re-stamped or had its attributes changed.
e2e_state() {
    local root=$1 pruned
    shift
    local -a prune=()
    for pruned in "$@"; do
        prune+=(-path "$pruned" -prune -o)
    done
    (
        cd "$root"
        find . -mindepth 1 "${prune[@]}" -printf '%p %y %s %T@ %C@ %i %m\n' | LC_ALL=C sort |
            while read -r path type rest; do
                local hash=-
                [ "$type" = f ] && hash=$(sha256sum <"$path" | cut -c1-64)
                printf '%s %s %s %s\n' "$path" "$type" "$rest" "$hash"
            done
    )
}

# assert_state_unchanged DIR BEFORE_STATE WHAT
assert_state_unchanged() {
    local after
    after=$(e2e_state "$1")
    [ "$after" = "$2" ] || e2e_fail "$3: $(diff <(printf '%s\n' "$2") <(printf '%s\n' "$after") | tr '\n' ' ')"
}

# assert_names DIR NAME...: DIR holds exactly these entries (no temporary file left, nothing extra).
assert_names() {
    local dir=$1 expected actual
    shift
    expected=$(printf '%s\n' "$@" | LC_ALL=C sort | tr '\n' ' ')
    actual=$(find "$dir" -mindepth 1 -maxdepth 1 -printf '%P\n' | LC_ALL=C sort | tr '\n' ' ')
    [ "$actual" = "$expected" ] || e2e_fail "$dir holds '$actual', expected '$expected'"
}

# assert_zal_updated DIR: ZAL.exe holds what the staged ZAL.upd held (as e2e_put kept it in DIR.orig/), and
# DIR holds the tool and ZAL.exe alone: the staged copy is gone and no temporary file is left.
assert_zal_updated() {
    assert_same_file "$1/ZAL.exe" "$1.orig/ZAL.upd"
    assert_names "$1" ZALUpdate.exe ZAL.exe
}

# ----- X11: windows, keys and pixels --------------------------------------------------------------------

# e2e_xwindow X Y W H: the X window that shows the Windows window with that outer rectangle. With Wine
# drawing the frames, the X window and the Windows window rectangle coincide (a zero-sized window has an X
# window of 1 x 1). Waits for it to be mapped.
e2e_xwindow() {
    local x=$1 y=$2 w=$(($3 > 0 ? $3 : 1)) h=$(($4 > 0 ? $4 : 1)) tries=0 id
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

# ----- the tool's window --------------------------------------------------------------------------------

# e2e_tool_start DIR ARGUMENTS [key=value...]: e2e_launch_tool, then waits for the tool's main window
# (TFormPrincipal) to show and for its application window. Sets E2E_FORM and E2E_APP (window handles) and
# E2E_TOOL_TID (the tool's main thread, decimal); leaves the main window's report in R.
e2e_tool_start() {
    e2e_launch_tool "$@"
    E2E_TOOL_TID=${R[tid]}
    probe_ok waitwin class=TApplication
    E2E_APP=${R[hwnd]}
    probe_ok waitwin class=TFormPrincipal visible=1
    E2E_FORM=${R[hwnd]}
}

# e2e_start_staged NAME [key=value...]: e2e_tool_start with the argument ZAL.exe over a fresh installation
# NAME with an update of ZAL.exe staged. Sets DIR (the installation) and BEFORE (its state before the run);
# key=value pairs go to launch.
e2e_start_staged() {
    local name=$1
    shift
    DIR=$(e2e_install "$name")
    e2e_put "$DIR" ZAL.exe ZAL.upd
    BEFORE=$(e2e_state "$DIR")
    e2e_tool_start "$DIR" ZAL.exe "$@"
}

# e2e_press HWND MARK KEY...: types xdotool KEYs into the top-level window HWND through X, taking MARK on
# the probe's clock just before them, once the window has the X focus. Between the mark and the key there
# is only the start of xdotool, a few milliseconds, against the seconds the cases measure since the mark.
e2e_press() {
    local xid mark=$2
    xid=$(e2e_xwindow_of "$1")
    shift 2
    xdotool windowfocus --sync "$xid" || e2e_fail "cannot focus X window $xid"
    probe_ok mark "name=$mark"
    xdotool key --delay 50 "$@"
}

# e2e_expect_close_after MARK MIN_MS: the tool's main window goes and the tool exits with code 0, neither
# sooner than MIN_MS after MARK.
e2e_expect_close_after() {
    probe_ok waitgone "hwnd=$E2E_FORM" "since=$1"
    assert_ge "${R[elapsed_ms]}" "$2" "ms from the press until the window went"
    probe_ok waitexit "since=$1"
    assert_eq 0 "${R[code]}" "exit code"
    assert_ge "${R[elapsed_ms]}" "$2" "ms from the press until the process ended"
}

# e2e_expect_still_open [SECONDS]: the tool's window is still shown, and enabled, after SECONDS (default 1).
e2e_expect_still_open() {
    sleep "${1:-1}"
    probe_ok status
    assert_eq 1 "${R[running]}" "the tool still running"
    probe_ok window "hwnd=$E2E_FORM"
    assert_eq "1 1" "${R[visible]} ${R[enabled]}" "main window visible and enabled"
}

# e2e_expect_button_focused [SECONDS]: the keyboard focus settles, within SECONDS (default 5), on the
# tool's button shown as the default push button (BS_DEFPUSHBUTTON). The look follows the focus within one
# message of the tool, which the probe may read half way; leaves the focus report in R.
e2e_expect_button_focused() {
    e2e_wait_for "${1:-5}" "the focus on the default-looking button" _e2e_button_focused
}

_e2e_button_focused() {
    probe_ok focus && [ "${R[class]}" = TButton ] && [ "${R[defpush]}" = 1 ]
}

# e2e_expect_children FORM CX CY: the form's two child windows, the label having none of its own: the panel
# filling the client area whose screen origin is (CX, CY), and on it the button at (159, 47), 169 x 28, with
# its caption. Leaves the button's record in R.
e2e_expect_children() {
    local form=$1 cx=$2 cy=$3
    probe_ok children "hwnd=$form"
    local -a children
    mapfile -t children < <(probe_records child)
    assert_eq 2 "${#children[@]}" "child windows"
    e2e_record "${children[0]}"
    local panel=${R[hwnd]}
    assert_eq "TShader $form" "${R[class]} ${R[parent]}" "first child's class and parent"
    assert_eq "0 0 487 90" "$((R[x] - cx)) $((R[y] - cy)) ${R[w]} ${R[h]}" "panel x y w h in the client area"
    e2e_record "${children[1]}"
    assert_eq "TButton $panel" "${R[class]} ${R[parent]}" "second child's class and parent"
    assert_eq "159 47 169 28" "$((R[x] - cx)) $((R[y] - cy)) ${R[w]} ${R[h]}" "button x y w h in the client area"
    assert_eq "$BUTTON_HEX" "${R[text_hex]}" "button caption bytes"
}

# e2e_expect_main_window FORM APP: the tool's main window as the system reports it: its class, styles and
# class style, owned by the application window APP, and its caption. Leaves its report in R.
e2e_expect_main_window() {
    probe_ok window "hwnd=$1"
    assert_eq TFormPrincipal "${R[class]}" "class"
    assert_eq "$(hex "FORM_STYLE | WS_VISIBLE")" "$(hex "${R[style]}")" "style once shown"
    assert_eq 0x00000080 "$(hex "${R[exstyle]} & ~WS_EX_WINDOWEDGE")" "extended style (WS_EX_TOOLWINDOW)"
    # Nothing but the system's own WS_EX_WINDOWEDGE may come on top of what was asked for.
    assert_match '^0x000001?80$' "$(hex "${R[exstyle]}")" "extended style as the system keeps it"
    assert_eq "$(hex $CS_DBLCLKS)" "$(hex "${R[classstyle]}")" "class style"
    assert_eq "$2" "${R[owner]}" "owner"
    assert_eq TApplication "${R[owner_class]}" "class of the owner"
    assert_eq "$TITLE_HEX" "${R[text_hex]}" "caption bytes"
}

# e2e_expect_client_area_centred FORM: a client area of 487 x 90 inside the system's own frame for the
# window's styles, the window centred on the screen, and Wine drawing it where it says it is.
e2e_expect_client_area_centred() {
    probe_ok window "hwnd=$1"
    local style=${R[style]} exstyle=${R[exstyle]} x=${R[x]} y=${R[y]} w=${R[w]} h=${R[h]}
    assert_eq "487 90" "${R[cw]} ${R[ch]}" "client area"
    # The frame is the system's own for these styles: nothing else is added to the outer size.
    probe_ok adjust "style=$style" "exstyle=$exstyle" w=487 h=90
    assert_eq "${R[w]} ${R[h]}" "$w $h" "outer size from AdjustWindowRectEx"
    probe_ok metrics
    assert_eq "$(((R[cxscreen] - w) / 2)) $(((R[cyscreen] - h) / 2))" "$x $y" "position centred on the screen"
    e2e_xwindow "$x" "$y" "$w" "$h" >/dev/null
}

# e2e_expect_application_window APP: the application window, which carries the taskbar button: visible,
# since a window of the tool is, yet of no size at the screen's centre, owned by nobody, with the title.
e2e_expect_application_window() {
    probe_ok metrics
    local cx=${R[cxscreen]} cy=${R[cyscreen]}
    probe_ok window "hwnd=$1"
    assert_eq TApplication "${R[class]}" "application window class"
    assert_eq "$(hex "APP_STYLE | WS_VISIBLE")" "$(hex "${R[style]}")" "application window style"
    assert_eq 0x00000000 "$(hex "${R[exstyle]} & ~WS_EX_WINDOWEDGE")" "application window extended style"
    assert_eq "$((cx / 2)) $((cy / 2)) 0 0" "${R[x]} ${R[y]} ${R[w]} ${R[h]}" "application window x y w h"
    assert_eq 0x0 "${R[owner]}" "application window owner"
    assert_eq "$TITLE_HEX" "${R[text_hex]}" "application window title bytes"
}

# e2e_expect_mainicon HWND...: each top-level window shows MAINICON as its big icon. Wine answers
# WM_GETICON from another process with 0, so the icon is read where Wine publishes it: the X window's
# _NET_WM_ICON, taken from the window's big icon (or, lacking one, its class icon or a stock icon).
e2e_expect_mainicon() {
    local hwnd
    for hwnd in "$@"; do
        e2e_icon_matches "$(e2e_xwindow_of "$hwnd")" "$E2E_ROOT/app/MAINICON.ico"
    done
}

# e2e_check_form_picture FORM [OPTIONS...]: e2e_check_picture on the main window at 96 dpi: the gradient
# outside the label's caption at (19, 9) and the button, and the white of the caption against the label's
# own drawing (LABEL_INK, of LABEL_W x LABEL_H).
e2e_check_form_picture() {
    local form=$1
    shift
    e2e_label_ink -13
    e2e_check_picture "$form" --exclude "19,9,$LABEL_W,$LABEL_H" --exclude 159,47,169,28 \
        --white-mask "$LABEL_INK" --at 19,9 "$@"
}

# ----- the error box ------------------------------------------------------------------------------------

# e2e_system_box_text CODE [INSERT]: the text of the tool's error box for a system error code: the system's
# own message, as the probe gets it from FormatMessageA in the same Wine session, with its %1 filled with
# INSERT (the name the tool fills in, as the staged file's for ERROR_BAD_EXE_FORMAT) and a full stop added
# when the message ends in a character that sorts after it.
e2e_system_box_text() {
    probe_ok errtext "code=$1"
    local text=${R[text]}
    [ -n "$text" ] || e2e_fail "the system has no text for error $1"
    if [ $# -ge 2 ]; then
        text=${text//%1/$2}
    fi
    if [ "$(printf '%s' "${text: -1}" | od -An -tu1 | tr -d ' ')" -gt 46 ]; then
        text+=.
    fi
    printf '%s' "$text"
}

# e2e_expect_error_box DIR BEFORE MARK MIN_MS MAX_MS TEXT...: the press at MARK brings up the tool's error
# box between MIN_MS and MAX_MS after it (no sooner than the 5,000 ms the tool waits for a held file; or
# sooner than those end, for what waiting cannot change): a system message box owned by the application
# window, with the tool's title, one of the TEXTs, one button (OK) and one icon. While it shows, the
# installation DIR keeps its state BEFORE and the main window is shown but disabled; after OK, the tool goes
# on with its window enabled, and DIR is still as it was.
e2e_expect_error_box() {
    local dir=$1 before=$2 mark=$3 min=$4 max=$5
    shift 5
    probe_ok msgbox "timeout=$max"
    local box=${R[hwnd]} class=${R[class]} owner=${R[owner]} caption=${R[text_hex]} message=${R[message]}
    local -a buttons
    mapfile -t buttons < <(probe_records button)
    probe_ok time "since=$mark"
    # Seen at most a poll (20 ms) after it opened.
    assert_between "${R[elapsed_ms]}" "$min" "$max" "ms from the press until the box was seen"
    assert_eq "#32770 $E2E_APP" "$class $owner" "class and owner of the box"
    assert_eq "$TITLE_HEX" "$caption" "caption bytes of the box"
    local text known=0
    for text in "$@"; do
        [ "$message" = "$text" ] && known=1
    done
    [ $known -eq 1 ] || e2e_fail "text of the box: '$message', expected $(printf "'%s' or " "$@" | sed 's/ or $//')"
    assert_eq 1 "${#buttons[@]}" "buttons in the box"
    e2e_record "${buttons[0]}"
    assert_eq 1 "${R[id]}" "the box's one button is IDOK"
    probe_ok children "hwnd=$box"
    local icons=0 line
    while IFS= read -r line; do
        e2e_record "$line"
        [ "${R[class]}" = Static ] && [ $((R[style] & 0x1F)) -eq $((SS_ICON)) ] && icons=$((icons + 1))
    done < <(probe_records child)
    assert_eq 1 "$icons" "icons in the box"

    assert_state_unchanged "$dir" "$before" "the installation while the box shows"
    probe_ok window "hwnd=$E2E_FORM"
    assert_eq "1 0" "${R[visible]} ${R[enabled]}" "main window visible, disabled while the box shows"

    probe_ok dlgpress "hwnd=$box" id=IDOK
    probe_ok waitgone "hwnd=$box" "timeout=$max"
    e2e_expect_still_open 1
    assert_state_unchanged "$dir" "$before" "the installation after the box: both files kept"
}

# ----- native helpers -----------------------------------------------------------------------------------

# e2e_native_tool NAME FILE...: builds build/e2e/bin/NAME natively from the .cpp files among FILEs (paths
# in the repository, each of which must exist), once and whenever one of FILEs, the headers listed among
# them included, is newer than it; prints its path.
e2e_native_tool() {
    local name=$1 bin=$E2E_HOME/bin/$1 file stale=0
    shift
    local -a units=()
    [ -x "$bin" ] || stale=1
    for file in "$@"; do
        [ -f "$E2E_ROOT/$file" ] || e2e_fail "$name is built from $file, which does not exist"
        [ "$E2E_ROOT/$file" -nt "$bin" ] && stale=1
        [[ $file == *.cpp ]] && units+=("$E2E_ROOT/$file")
    done
    if [ $stale -eq 1 ]; then
        mkdir -p "$(dirname "$bin")"
        g++ -std=c++20 -O1 -Wall -Wextra -Werror -I"$E2E_ROOT" -o "$bin.$$" "${units[@]}" >&2 ||
            e2e_fail "cannot build $bin"
        mv -f "$bin.$$" "$bin"
    fi
    printf '%s\n' "$bin"
}

# e2e_to_ppm PNG X Y W H OUT: that rectangle of a screenshot as a binary PPM.
e2e_to_ppm() {
    "$E2E_CONVERT" "$1" -crop "${4}x${5}+${2}+${3}" +repage -depth 8 "ppm:$6" || e2e_fail "cannot crop $1"
}

# e2e_icon_matches XID ICON_FILE: the X window publishes ICON_FILE's 32 x 32 image as its icon.
e2e_icon_matches() {
    local dump=$E2E_WORK/icon-$1.txt
    xprop -notype -id "$1" 32c _NET_WM_ICON >"$dump" 2>&1 || true
    python3 "$E2E_ROOT/tests/e2e/model/icon_matches.py" "$2" "$dump" >"$dump.verdict" ||
        e2e_fail "icon of X window $1: $(cat "$dump.verdict")"
}

# ----- Wine's trace of calls into system DLLs -----------------------------------------------------------

# The prefixes trace only the calls named in RelayInclude (see e2e_prefix). A process launched with
# env=WINEDEBUG=+relay writes them to the probe's stderr, each line tagged with the thread's id.

# e2e_trace_offset: where the trace of what is launched next will start.
e2e_trace_offset() {
    stat -c %s "$E2E_WORK/probe.stderr" 2>/dev/null || echo 0
}

# e2e_trace_calls OFFSET TID FUNCTION: how many calls of FUNCTION (as "user32.PostQuitMessage") the thread
# TID (decimal) made, in the trace after OFFSET.
e2e_trace_calls() {
    local tag
    tag=$(printf '%04x' "$2")
    tail -c +"$(($1 + 1))" "$E2E_WORK/probe.stderr" | grep -c "^$tag:Call $3(" || true
}

# ----- what the tool's window shows ---------------------------------------------------------------------

E2E_LABEL_CAPTION=$(cp1252 'Para concluir a atualização, pressione o botão  "Concluir Atualização"')
E2E_FROM_COLOR=8421440 # the panel's FromColor: red 64, green 128, blue 128; ToColor black, no mirror

# e2e_label_ink HEIGHT: the label's caption measured as the label measures itself (DrawTextA with
# DT_CALCRECT in Arial bold, ANSI_CHARSET, of that font height, on the screen) in LABEL_W and LABEL_H, and
# drawn the same way, white on black, into the PPM file LABEL_INK.
e2e_label_ink() {
    LABEL_INK=$E2E_WORK/label-ink$1.ppm
    probe_ok textsize face=Arial "height=$1" weight=700 charset=0 "text=$E2E_LABEL_CAPTION" \
        "ink=$(winpath "$LABEL_INK")"
    LABEL_W=${R[dt_w]} LABEL_H=${R[dt_h]}
}

# e2e_shoot_client HWND: a screenshot (SHOT_PNG) and the window's client area from it (SHOT, a PPM); the
# client rectangle in screen coordinates in CX, CY, CW and CH.
e2e_shoot_client() {
    probe_ok window "hwnd=$1"
    CX=${R[cx]} CY=${R[cy]} CW=${R[cw]} CH=${R[ch]}
    SHOT_PNG=$E2E_WORK/screen.png
    SHOT=$E2E_WORK/client.ppm
    e2e_screenshot "$SHOT_PNG"
    e2e_to_ppm "$SHOT_PNG" "$CX" "$CY" "$CW" "$CH" "$SHOT"
}

# e2e_check_picture HWND OPTIONS...: compares the client area of HWND with the panel's gradient model
# (zal_shader_picture with OPTIONS), on fresh screenshots until the gradient matches or 10 s have passed,
# since the first paint may come a moment after the window shows. CHECK holds the checker's last report,
# also kept in the work directory.
e2e_check_picture() {
    local hwnd=$1 checker deadline
    shift
    checker=$(e2e_native_tool zal_shader_picture tests/e2e/model/ShaderPicture.cpp core/Gradient.cpp \
        testkit/BandPicture.cpp core/Gradient.h testkit/BandPicture.h core/Colors.h)
    deadline=$((SECONDS + 10))
    while :; do
        e2e_shoot_client "$hwnd"
        CHECK=$("$checker" "$SHOT" --from "$E2E_FROM_COLOR" --to 0 "$@") || e2e_fail "picture checker failed"
        [[ $CHECK == *" differences=0"* ]] && break
        [ $SECONDS -lt $deadline ] || break
        sleep 0.3
    done
    printf '%s\n' "$CHECK" >"$E2E_WORK/picture-check.txt"
}

# e2e_check_value NAME: the value of NAME= in CHECK.
e2e_check_value() {
    local value
    value=$(printf '%s\n' "$CHECK" | grep -o "\\b$1=[^ ]*" | head -1)
    printf '%s' "${value#*=}"
}
