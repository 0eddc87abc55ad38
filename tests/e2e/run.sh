#!/usr/bin/env bash
# Usage: tests/e2e/run.sh [WIN64_BUILD_DIR] [CASE...]    (ZAL_E2E_HARNESS=1 adds the harness's self-test)
# Runs the end-to-end cases (tests/e2e/cases/*.sh, or the named ones) against the tool and probe of the
# win64 build, each in its own Xvfb and Wine session; prints each case's result and time and exits
# non-zero when any failed. The harness's self-test on Wine's Notepad (harness.sh) proves the harness, not
# the tool, so it runs only when named or when ZAL_E2E_HARNESS=1 asks for it. Logs:
# build/e2e/logs/CASE.log; work files: build/e2e/work/CASE/.
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
[ -f "$build/tests/e2e/zal_probe.exe" ] || { echo "e2e: $build has no tests/e2e/zal_probe.exe" >&2; exit 2; }

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

logs=$root/build/e2e/logs
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
        echo "FAIL $name ($((SECONDS - start)) s): see $logs/$name.log and build/e2e/work/$name/"
        failed+=("$name")
    fi
done

echo "e2e: ${#cases[@]} cases, ${#failed[@]} failed, $((SECONDS - total_start)) s"
[ ${#failed[@]} -eq 0 ]
