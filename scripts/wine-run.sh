#!/usr/bin/env bash
# Usage: wine-run.sh --prefix PREFIX_DIR WINE PROGRAM [ARGS...]
# Runs a Windows program under Wine in one of the project's prefixes, making it with its default settings
# when nobody has made it yet (scripts/wine-prefix.sh).
# Without a display it runs inside a throwaway Xvfb, since Wine cannot create windows without one.
set -euo pipefail

[ "$1" = --prefix ] || { echo "usage: $0 --prefix DIR WINE PROGRAM [ARGS...]" >&2; exit 2; }
prefix=$2
wine=$3
shift 3

[ -f "$prefix/.zal-prefix" ] || "$(dirname "$0")/wine-prefix.sh" "$prefix" >/dev/null
source "$(dirname "$0")/wine-env.sh"
wine_env "$prefix" "${WINEDEBUG:-}"
if [ -n "${DISPLAY:-}" ]; then
    exec "$wine" "$@"
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$wine" "$@"
