#!/usr/bin/env bash
# Usage: bash bench/size.sh [TOP]
# Builds the release executable of the win32 and win64 presets and says where its bytes come from: the
# tool's own code against the static C++ runtime, the CRT, import tables, resources and relocations, by
# origin and by section, read from the link map that the release link leaves beside the executable.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target ZALUpdate >/dev/null
    python3 bench/link_map.py "build/$preset/ZALUpdate.map" "build/$preset/ZALUpdate.exe" "${1:-20}"
    echo
done
