#!/usr/bin/env bash
# Usage: prefix.sh PREFIX_DIR
# The 32-bit stage's prefix, through the project's one prefix maker: one that runs 32-bit programs as well
# (WoW64), with no debugger started on a crash, which would take minutes under emulation before the test
# could fail. Prints its absolute path.
exec "$(cd "$(dirname "$0")/../.." && pwd)/scripts/wine-prefix.sh" "$1" --wow64 --no-debugger
