#!/usr/bin/env bash
# Usage: tests/i386/run.sh [WIN32_BUILD_DIR] [WIN64_BUILD_DIR]
# The 32-bit stage: the win32 preset built and tested under 32-bit Wine, which this machine runs through
# qemu-i386 (the kernel has no 32-bit support): the PE checks, the Windows-side suites in one program, and an
# end-to-end smoke on the 32-bit tool driven by the win64 build's probe. Each start of a 32-bit program
# costs about a minute of emulation, so the stage starts two, side by side, each on a core and in a prefix
# of its own. Prints each step's duration and the total.
# Where the kernel refuses binfmt_misc, or ZAL_SKIP_I386=1 asks for it (scripts/setup-i386.sh), the PE checks
# still run and the stage prints "SKIPPED: <reason>".
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build32=$(realpath -m "${1:-$root/build/win32}")
build64=$(realpath -m "${2:-$root/build/win64}")
# cmake reads the presets of the directory it runs in: this source's, whatever the caller's is.
cd "$root"
prefix=$root/build/wine-wow64
smoke_prefix=$root/build/wine-wow64-smoke
jobs=${I386_JOBS:-2}
stage_start=$SECONDS

step() {
    local name=$1 start=$SECONDS
    shift
    echo "--- i386: $name"
    "$@"
    echo "--- i386: $name done in $((SECONDS - start)) s"
}

# The tool and the one program that runs the suites under 32-bit Wine; the suites' own programs run on 64
# bits only.
configure_and_build() {
    cmake --preset win32 -B "$build32" >/dev/null
    cmake --build "$build32" -j "$jobs" --target ZALUpdate Win32Suites_test
}

set +e
setup_output=$(bash "$root/scripts/setup-i386.sh" 2>&1)
setup_status=$?
set -e
if [ $setup_status -eq 3 ]; then
    step "build the win32 preset" configure_and_build
    step "PE checks" ctest --test-dir "$build32" --output-on-failure -R '^pe\.'
    reason=$(printf '%s\n' "$setup_output" | sed -n 's/^SKIPPED: //p' | head -1)
    echo "SKIPPED: 32-bit Wine is not run: ${reason:-binfmt_misc refused}"
    echo "i386: stage done in $((SECONDS - stage_start)) s (PE checks only)"
    exit 0
fi
[ -z "$setup_output" ] || printf '%s\n' "$setup_output"
[ $setup_status -eq 0 ] || exit $setup_status

make_prefixes() { "$root/tests/i386/prefix.sh" "$prefix" >/dev/null && "$root/tests/i386/prefix.sh" "$smoke_prefix" >/dev/null; }
step "WoW64 prefixes $prefix and $smoke_prefix" make_prefixes
step "build the win32 preset" configure_and_build
build_probe() {
    [ -f "$build64/build.ninja" ] || cmake --preset win64 -B "$build64" >/dev/null
    cmake --build "$build64" -j "$jobs" --target zal_probe
}
step "build the win64 probe" build_probe

# A configuration without the emulator would list no Wine test, and the stage would pass on the PE checks.
listed=$(ctest --test-dir "$build32" -N)
grep -q 'win32\.Win32Suites_test' <<<"$listed" ||
    { echo "i386: $build32 has no 32-bit GoogleTest run; is CMAKE_CROSSCOMPILING_EMULATOR set?" >&2; exit 1; }
suites_log=$build32/suites.log
suites() {
    ctest --test-dir "$build32" --output-on-failure --timeout 600 >"$suites_log" 2>&1
}
start=$SECONDS
suites &
suites_pid=$!
# A display of the caller's would be taken by Wine instead of the smoke's own Xvfb.
echo "--- i386: end-to-end smoke on the 32-bit tool, beside the suites"
set +e
env -u DISPLAY I386_WIN32_BUILD="$build32" I386_WIN64_BUILD="$build64" I386_PREFIX="$smoke_prefix" \
    bash "$root/tests/i386/smoke.sh"
smoke_status=$?
echo "--- i386: end-to-end smoke done in $((SECONDS - start)) s"
wait "$suites_pid"
suites_status=$?
set -e
echo "--- i386: PE checks and the Windows-side suites under 32-bit Wine, done in $((SECONDS - start)) s"
cat "$suites_log"
# What ran under 32-bit Wine, for the log: the GoogleTest program's own summary.
grep -E '^\[(==========|  PASSED  |  FAILED  )\]' "$build32/Testing/Temporary/LastTest.log" || true
[ "$smoke_status" -eq 0 ] && [ "$suites_status" -eq 0 ] || exit 1

echo "i386: stage passed in $((SECONDS - stage_start)) s"
