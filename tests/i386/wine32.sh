#!/usr/bin/env bash
# Usage: wine32.sh PREFIX_DIR PROGRAM [ARGS...]
# The win32 preset's test emulator: runs a 32-bit Windows program under 32-bit Wine, which this machine runs
# through qemu-i386 (scripts/setup-i386.sh registers it), in the stage's WoW64 prefix.
set -euo pipefail

[ $# -ge 2 ] || { echo "usage: $0 PREFIX_DIR PROGRAM [ARGS...]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/../.." && pwd)
prefix=$(realpath -m "$1")
shift

"$root/tests/i386/prefix.sh" "$prefix" >/dev/null
exec "$root/scripts/wine-run.sh" --prefix "$prefix" /usr/lib/wine/wine "$@"
