#!/usr/bin/env bash
# Usage: check-pe.sh EXE MACHINE OBJDUMP    (MACHINE: i386 or x86-64)
# Fails unless the executable is a stripped Windows GUI program for MACHINE with relocations, ASLR and DEP
# (and high-entropy ASLR on x86-64) that imports system DLLs only.
set -euo pipefail
exe=$1 machine=$2 objdump=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

headers=$("$objdump" -f "$exe")
private=$("$objdump" -p "$exe")

case $machine in
    i386) want_format=pei-i386 want_arch='architecture: i386,' want_magic=010b ;;
    x86-64) want_format=pei-x86-64 want_arch='architecture: i386:x86-64,' want_magic=020b ;;
    *) echo "unknown machine $machine"; exit 2 ;;
esac

grep -q "file format $want_format\$" <<<"$headers" && grep -qF "$want_arch" <<<"$headers" \
    && pass "machine $machine" || fail "machine is not $machine: $(grep -E 'format|architecture' <<<"$headers" | tr '\n' ' ')"
grep -qE "^Magic[[:space:]]+$want_magic" <<<"$private" && pass "optional header magic $want_magic" \
    || fail "optional header magic is not $want_magic"
grep -qE '^Subsystem[[:space:]]+00000002' <<<"$private" && pass "subsystem Windows GUI" \
    || fail "subsystem is not Windows GUI: $(grep -E '^Subsystem' <<<"$private")"
grep -q HAS_RELOC <<<"$headers" && pass "relocations present" || fail "no relocations: ASLR cannot move the image"

flags=$((16#$(awk '/^DllCharacteristics/ {print $2}' <<<"$private")))
check_flag() {
    if (( flags & $1 )); then pass "DllCharacteristics has $2"; else fail "DllCharacteristics lacks $2"; fi
}
check_flag 0x40 DYNAMIC_BASE
check_flag 0x100 NX_COMPAT
if [ "$machine" = x86-64 ]; then
    check_flag 0x20 HIGH_ENTROPY_VA
fi

# The executable must run on a bare Windows: no compiler runtime DLLs, only libraries of the system.
system_dlls='^(kernel32|user32|gdi32|ole32|oleaut32|advapi32|comctl32|shell32|msvcrt)\.dll$'
mapfile -t imports < <(awk '/DLL Name:/ {print tolower($3)}' <<<"$private")
[ ${#imports[@]} -gt 0 ] || fail "no import table found"
for dll in "${imports[@]}"; do
    if [[ $dll =~ $system_dlls ]]; then pass "imports system DLL $dll"; else fail "imports non-system DLL $dll"; fi
done

"$objdump" -t "$exe" 2>&1 | grep -q 'no symbols' && pass "stripped" || fail "symbol table present: not stripped"

if [ $failures -gt 0 ]; then
    echo "$failures check(s) failed for $exe"
    exit 1
fi
