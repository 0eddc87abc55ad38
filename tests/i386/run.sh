#!/usr/bin/env bash
# Usage: tests/i386/run.sh [WIN32_BUILD_DIR] [WIN64_BUILD_DIR]
# The 32-bit stage: the win32 preset built and the deliverable proven under 32-bit Wine, in the mode that
# scripts/setup-i386.sh finds. Its line "setup-i386: 32-bit mode native|qemu (...)" comes first, and the
# stage's last line names the mode again.
# - native, where the kernel runs 32-bit programs: the PE checks, every Windows-side suite in a program of
#   its own with nothing left out, the suites in one program for the portable core at 32 bits, and every
#   end-to-end case (tests/e2e/run.sh) on the 32-bit tool, driven by the win64 build's probe; the suites
#   beside the cases.
# - qemu, where only the emulator runs them and every start of a 32-bit program costs about a minute: the
#   PE checks, the Windows-side suites in one program, and an end-to-end smoke on the 32-bit tool, side by
#   side, each on a core and in a prefix of its own.
# ZAL_I386_MODE=native, for checking only, takes the native path under the emulator, with every allowance of
# time multiplied by ZAL_I386_TIME_SCALE (default 20); it takes an hour or more.
# When a step fails, Wine's own 32-bit hostname.exe, a trivial program that is not the project's, is run: if
# it cannot start either, the last line names that cause; otherwise the fault is the project's.
# Where the kernel refuses binfmt_misc, or ZAL_SKIP_I386=1 asks for it, the PE checks still run and the stage
# prints "SKIPPED: <reason>". Prints each step's duration and the total.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build32=$(realpath -m "${1:-$root/build/win32}")
build64=$(realpath -m "${2:-$root/build/win64}")
# cmake reads the presets of the directory it runs in: this source's, whatever the caller's is.
cd "$root"
mkdir -p "$root/build"
prefix=$root/build/wine-wow64
smoke_prefix=$root/build/wine-wow64-smoke
jobs=${I386_JOBS:-2}
stage_start=$SECONDS

step() {
    local name=$1 start=$SECONDS status=0
    shift
    echo "--- i386: $name"
    "$@" || status=$?
    echo "--- i386: $name $([ $status -eq 0 ] && echo done || echo FAILED) in $((SECONDS - start)) s"
    return $status
}

# The tool, and the programs that run the suites: each suite's own natively, the one-process one alone under
# the emulator.
configure_and_build() { # [TARGET...]
    local -a targets=()
    [ $# -eq 0 ] || targets=(--target "$@")
    cmake --preset win32 -B "$build32" >/dev/null
    cmake --build "$build32" -j "$jobs" "${targets[@]}"
}

set +e
setup_output=$(bash "$root/scripts/setup-i386.sh" 2>&1)
setup_status=$?
set -e
if [ $setup_status -eq 3 ]; then
    step "build the win32 preset" configure_and_build ZALUpdate
    step "PE checks" ctest --test-dir "$build32" --output-on-failure -R '^pe\.'
    reason=$(printf '%s\n' "$setup_output" | sed -n 's/^SKIPPED: //p' | head -1)
    echo "SKIPPED: 32-bit Wine is not run: ${reason:-binfmt_misc refused}"
    echo "i386: stage done in $((SECONDS - stage_start)) s (PE checks only)"
    exit 0
fi
[ -z "$setup_output" ] || printf '%s\n' "$setup_output"
[ $setup_status -eq 0 ] || exit $setup_status
mode_line=$(grep '^setup-i386: 32-bit mode ' <<<"$setup_output" | tail -n 1) ||
    { echo "i386: scripts/setup-i386.sh named no 32-bit mode" >&2; exit 1; }
mode=$(sed 's/^setup-i386: 32-bit mode \([a-z]*\).*/\1/' <<<"$mode_line")
emulated=0 scale=1 runs=natively
if [[ $mode_line == *"through qemu-i386"* ]]; then
    emulated=1 runs="through qemu-i386"
    [ "$mode" = qemu ] || scale=${ZAL_I386_TIME_SCALE:-20}
fi

# fail_because WHAT: ends the stage after WHAT failed, with one line that tells 32-bit Wine's fault from the
# project's (tests/i386/trivial.sh).
source "$root/tests/i386/trivial.sh"
fail_because() {
    i386_fail_because "$1" "$prefix" "$runs" $((emulated ? 600 : 60))
}

make_prefixes() {
    "$root/tests/i386/prefix.sh" "$prefix" >/dev/null
    [ "$mode" = native ] || "$root/tests/i386/prefix.sh" "$smoke_prefix" >/dev/null
}
if [ "$mode" = native ]; then
    step "WoW64 prefix $prefix" make_prefixes || fail_because "making the WoW64 prefix"
    step "build the win32 preset" configure_and_build
else
    step "WoW64 prefixes $prefix and $smoke_prefix" make_prefixes || fail_because "making the WoW64 prefixes"
    step "build the win32 preset" configure_and_build ZALUpdate Win32Suites_test
fi
build_probe() {
    [ -f "$build64/build.ninja" ] || cmake --preset win64 -B "$build64" >/dev/null
    cmake --build "$build64" -j "$jobs" --target zal_probe
}
step "build the win64 probe" build_probe

# A configuration without the emulator would list no Wine test, and the stage would pass on the PE checks.
listed=$(ctest --test-dir "$build32" -N -L "^i386-$mode\$")
grep -Eq 'win32\.(qemu\.)?Win32Suites_test' <<<"$listed" ||
    { echo "i386: $build32 has no 32-bit GoogleTest run; is CMAKE_CROSSCOMPILING_EMULATOR set?" >&2; exit 1; }
suites_log=$build32/suites.log
other=i386-qemu
[ "$mode" = native ] || other=i386-native
suites() {
    ctest --test-dir "$build32" --output-on-failure -LE "^$other\$" -j "$jobs" --timeout $((600 * scale)) \
        >"$suites_log" 2>&1
}
# The suites share one Wine session, which keeps the display it started on: one of the stage's own, so that
# nothing else on the caller's display (the win64 suites of the test command) takes their windows' focus.
source "$root/scripts/xvfb.sh"
start_xvfb 1280x1024x24
trap stop_xvfb EXIT
start=$SECONDS
suites &
suites_pid=$!
set +e
if [ "$mode" = native ]; then
    echo "--- i386: every end-to-end case on the 32-bit tool, beside the suites"
    options=--wow64
    [ $emulated -eq 0 ] || options="--wow64 --no-debugger" # a crash's debugger takes minutes under emulation
    E2E_PROBE_BUILD=$build64 E2E_PREFIX_OPTIONS=$options E2E_TIME_SCALE=$scale bash "$root/tests/e2e/run.sh" "$build32"
    cases_status=$?
    what="the end-to-end cases on the 32-bit tool"
else
    # A display of the caller's would be taken by Wine instead of the smoke's own Xvfb.
    echo "--- i386: end-to-end smoke on the 32-bit tool, beside the suites"
    env -u DISPLAY I386_WIN32_BUILD="$build32" I386_WIN64_BUILD="$build64" I386_PREFIX="$smoke_prefix" \
        bash "$root/tests/i386/smoke.sh"
    cases_status=$?
    what="the end-to-end smoke on the 32-bit tool"
fi
echo "--- i386: $what done in $((SECONDS - start)) s"
wait "$suites_pid"
suites_status=$?
set -e
echo "--- i386: PE checks and the Windows-side suites under 32-bit Wine, done in $((SECONDS - start)) s"
cat "$suites_log"
# What ran under 32-bit Wine, for the log: the GoogleTest programs' own summaries.
grep -E '^\[(==========|  PASSED  |  FAILED  )\]' "$build32/Testing/Temporary/LastTest.log" || true
[ "$suites_status" -eq 0 ] || fail_because "the Windows-side suites"
[ "$cases_status" -eq 0 ] || fail_because "$what"

echo "i386: stage passed in $((SECONDS - stage_start)) s (32-bit mode $mode, 32-bit programs run $runs)"
