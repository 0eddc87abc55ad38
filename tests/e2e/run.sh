#!/usr/bin/env bash
# Usage: tests/e2e/run.sh [BUILD_DIR] [CASE...]    (ZAL_E2E_HARNESS=1 adds the harness's self-test)
# Runs the end-to-end cases (tests/e2e/cases/*.sh, or the named ones) against the tool of a Windows build
# (build/win64 by default), each in its own Xvfb and Wine session; prints each case's result and time and
# exits non-zero when any failed. The probe is always a 64-bit program: a 32-bit build's tool is driven by
# the probe of build/win64 (E2E_PROBE_BUILD names another), in WoW64 prefixes, which the project's prefix
# is once 32-bit Wine is installed (scripts/setup-i386.sh). E2E_TIME_SCALE=N multiplies every allowance of
# time by N, for a tool run under an emulator. The harness's self-test on Wine's Notepad (harness.sh)
# proves the harness, not the tool, so it runs only when named or when ZAL_E2E_HARNESS=1 asks for it.
# Logs: build/e2e/logs/CASE.log, work files: build/e2e/work/CASE/; a 32-bit build's in build/e2e32/.
set -euo pipefail

case ${1:-} in
-h | --help)
    sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0"
    exit 0
    ;;
esac

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build/win64}
shift || true
[ -d "$build" ] || { echo "e2e: no build directory $build" >&2; exit 2; }
build=$(cd "$build" && pwd)
home=$root/build/e2e
probe_build=$build
case $([ ! -f "$build/ZALUpdate.exe" ] || python3 "$root/scripts/pe.py" "$build/ZALUpdate.exe") in
*" machine=i386 "*)
    home=$root/build/e2e32
    probe_build=${E2E_PROBE_BUILD:-$root/build/win64}
    export E2E_PREFIX_OPTIONS=${E2E_PREFIX_OPTIONS:---wow64}
    ;;
esac
export E2E_HOME=${E2E_HOME:-$home}
export E2E_PROBE_EXE=$probe_build/tests/e2e/zal_probe.exe
[ -f "$E2E_PROBE_EXE" ] || { echo "e2e: $probe_build has no tests/e2e/zal_probe.exe" >&2; exit 2; }
case $(python3 "$root/scripts/pe.py" "$E2E_PROBE_EXE") in
*" machine=x86-64 "*) ;;
*) echo "e2e: the probe $E2E_PROBE_EXE is no 64-bit program; name a 64-bit build's" >&2 && exit 2 ;;
esac

cases=()
if [ $# -gt 0 ]; then
    for name in "$@"; do
        cases+=("$here/cases/${name%.sh}.sh")
    done
else
    for case_file in "$here"/cases/*.sh; do
        if [ "$(basename "$case_file")" = harness.sh ] && [ "${ZAL_E2E_HARNESS:-0}" != 1 ]; then
            echo "e2e: the harness's self-test is left out (name it, or set ZAL_E2E_HARNESS=1)"
            continue
        fi
        cases+=("$case_file")
    done
fi

logs=$E2E_HOME/logs
mkdir -p "$logs"
# A display left over from the caller would be used by Wine instead of each case's own Xvfb.
unset DISPLAY

failed=()
total_start=$SECONDS
for case_file in "${cases[@]}"; do
    [ -f "$case_file" ] || { echo "e2e: no case $case_file" >&2; exit 2; }
    name=$(basename "$case_file" .sh)
    start=$SECONDS
    echo "--- $name"
    if E2E_BUILD=$build E2E_CASE=$name bash "$case_file" 2>&1 | tee "$logs/$name.log"; then
        echo "PASS $name ($((SECONDS - start)) s)"
    else
        echo "FAIL $name ($((SECONDS - start)) s): see $logs/$name.log and $E2E_HOME/work/$name/"
        failed+=("$name")
    fi
done

echo "e2e: ${#cases[@]} cases, ${#failed[@]} failed, $((SECONDS - total_start)) s"
[ ${#failed[@]} -eq 0 ]
