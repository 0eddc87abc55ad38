# shellcheck shell=bash
# Sourced by tests/i386/run.sh: tells 32-bit Wine's fault from the project's once a step of the stage has
# failed, by a trivial 32-bit program that is not the project's, Wine's own hostname.exe, which 32-bit Wine
# starts in half a second natively and in about a minute under qemu. The tests give a stand-in for Wine's
# 32-bit loader in ZAL_WINE32.

# i386_fail_because WHAT PREFIX HOW SECONDS: ends the stage (exit 1) after WHAT failed, with one line: the
# trivial program run in PREFIX ("natively" or "through qemu-i386", as HOW says) for at most SECONDS,
# either started, and the fault is the project's, or did not, and the line names what it said last.
i386_fail_because() {
    local what=$1 prefix=$2 how=$3 limit=$4 out err status=0 start=$SECONDS cause
    local wine=${ZAL_WINE32:-/usr/lib/wine/wine} trivial=/usr/lib/i386-linux-gnu/wine/i386-windows/hostname.exe
    out=$(mktemp)
    err=$(mktemp)
    echo "--- i386: $what failed; does 32-bit Wine start its own hostname.exe $how?"
    (
        source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"
        wine_env "$prefix" fixme-all
        with_display timeout "$limit" "$wine" "$trivial"
    ) >"$out" 2>"$err" || status=$?
    if [ $status -eq 0 ] && grep -q '[^[:space:]]' "$out"; then
        echo "i386: $what failed, though 32-bit Wine ran a trivial 32-bit program (Wine's own hostname.exe)" \
            "$how in $((SECONDS - start)) s: the fault is the project's (see above)"
    else
        if [ $status -eq 124 ]; then
            cause="it did not end within $limit s"
        else
            cause=$(grep -v '^[[:space:]]*$' "$err" | tail -n 1 || true)
            cause="exit status $status${cause:+: $cause}"
        fi
        echo "i386: 32-bit Wine cannot start even a trivial 32-bit program (Wine's own hostname.exe) $how" \
            "($cause): $what failed for that cause, not the project's"
    fi
    rm -f "$out" "$err"
    exit 1
}
