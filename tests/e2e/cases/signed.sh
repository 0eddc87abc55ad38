#!/usr/bin/env bash
# The tool as a release ships it, with an Authenticode signature appended, still starts and applies an
# update. The executable is E2E_SIGNED_EXE when given, else the win64 build signed here with the
# throwaway certificate of scripts/test-cert.sh.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

signed=${E2E_SIGNED_EXE:-}
if [ -z "$signed" ]; then
    tool=$(e2e_tool_exe) || e2e_fail "no ZALUpdate.exe in $E2E_BUILD"
    signed=$E2E_WORK/ZALUpdate-signed.exe
    e2e_sign "$tool" "$signed"
fi
[[ $(python3 "$E2E_ROOT/scripts/pe.py" "$signed") =~ \ signature=[1-9] ]] || e2e_fail "$signed carries no signature"

test_signed_tool_applies_the_update() {
    local dir
    dir=$(e2e_install signed)
    cp "$signed" "$dir/ZALUpdate.exe"
    e2e_put "$dir" ZAL.exe ZAL.upd
    e2e_tool_start "$dir" ZAL.exe
    e2e_press "$E2E_FORM" press Return
    e2e_expect_close_after press 3000
    assert_zal_updated "$dir"
    assert_same_file "$dir/ZALUpdate.exe" "$signed"
}

e2e_start --geometry 1280x1024x24
e2e_test "signed tool: ZAL.exe replaced by ZAL.upd" test_signed_tool_applies_the_update
e2e_finish
