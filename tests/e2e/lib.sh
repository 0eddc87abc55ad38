# shellcheck shell=bash
# Sourced by every end-to-end case: one session is a private Xvfb, a Wine prefix of the suite's own (a copy
# of the project's prefix in which Wine places and frames the windows itself) and the probe as a
# coprocess. Tests run with e2e_test; an assertion that fails ends its test, and the session goes on with
# the next one. Environment (run.sh sets it): E2E_BUILD, the build of the tool under test; E2E_PROBE_EXE, the
# probe, a 64-bit program run by wine64 (by default E2E_BUILD's); E2E_HOME, where everything a case writes
# lives (build/e2e); E2E_PREFIX_OPTIONS, more options of the suite's prefixes (--wow64 for a 32-bit tool);
# E2E_TIME_SCALE, a whole number that every allowance of time is multiplied by (1), for a tool that runs
# under an emulator. The probe's waits time out after 30 s unless given timeout=MS.

# A helper whose output a case takes with $(...) stops at its first failing command, as it does anywhere
# else; bash would otherwise run the rest of it with errors ignored, and e2e_state of a directory it cannot
# enter would list another one. Its failure fails the assignment, and with it the test.
shopt -s inherit_errexit

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
E2E_BUILD=$(cd "${E2E_BUILD:-$E2E_ROOT/build/win64}" && pwd)
E2E_HOME=${E2E_HOME:-$E2E_ROOT/build/e2e}
E2E_TIME_SCALE=${E2E_TIME_SCALE:-1}
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

# One file a concern, in the order they build on each other.
for _e2e_part in assert text probe session install x11 window errorbox native trace picture; do
    source "$E2E_ROOT/tests/e2e/lib/$_e2e_part.sh"
done
unset _e2e_part
