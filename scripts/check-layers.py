#!/usr/bin/env python3
"""Fails when an #include points up a layer.

The layers, lowest first: the portable core, base/, ui/, controls/, app/; above them testkit/ (what the
tests and the benchmarks share), then tests/ and bench/. A file may include files of its own layer or of
the layers below it, never above. The core is not a folder: it is the portable sources that the folders'
CMakeLists.txt name in zal_add_folder_sources, and every project header they include; a core file also
includes no Windows header, so that it builds natively.

Usage: check-layers.py [ROOT]; prints every offending include and exits 1 when there is one.
"""
import re
import sys
from pathlib import Path

FOLDER_LAYERS = {"base": 1, "ui": 2, "controls": 3, "app": 4, "testkit": 5, "tests": 6, "bench": 6}
LAYER_NAMES = {0: "core", 1: "base", 2: "ui", 3: "controls", 4: "app", 5: "testkit", 6: "tests/bench"}
PRODUCT_FOLDERS = ("base", "ui", "controls", "app")
WINDOWS_HEADERS = {"windows.h", "winbase.h", "winuser.h", "wingdi.h", "windef.h", "unknwn.h", "objbase.h",
                   "ole2.h", "psapi.h", "commctrl.h", "shellapi.h", "winnls.h"}
PROJECT_INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SYSTEM_INCLUDE = re.compile(r'^\s*#\s*include\s+<([^>]+)>', re.M)
PORTABLE_SOURCES = re.compile(r"zal_add_folder_sources\(\s*\w+((?:\s+[\w.]+)*)\s*\)")


def project_includes(root, path):
    return [root / name for name in PROJECT_INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace"))]


def core_files(root):
    """The portable sources and, transitively, every project header they include."""
    pending = []
    for folder in PRODUCT_FOLDERS:
        cmake = root / folder / "CMakeLists.txt"
        if cmake.exists():
            for match in PORTABLE_SOURCES.finditer(cmake.read_text()):
                pending += [root / folder / name for name in match.group(1).split()]
    core = set()
    while pending:
        path = pending.pop()
        if path in core or not path.exists():
            continue
        core.add(path)
        pending += project_includes(root, path)
    return core


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent).resolve()
    core = core_files(root)
    if not core:
        print("check-layers: found no portable core; is the root right?")
        return 1

    def layer(path):
        return 0 if path in core else FOLDER_LAYERS.get(path.relative_to(root).parts[0])

    problems = []
    files = [p for folder in FOLDER_LAYERS for p in sorted((root / folder).rglob("*"))
             if p.suffix in (".h", ".cpp") and "build" not in p.relative_to(root).parts]
    for path in files:
        own = layer(path)
        name = path.relative_to(root)
        text = path.read_text(encoding="utf-8", errors="replace")
        for target in project_includes(root, path):
            if not target.exists():
                problems.append(f"{name}: includes {target.relative_to(root)}, which does not exist")
                continue
            theirs = layer(target)
            if theirs is None or theirs > own:
                problems.append(f"{name} ({LAYER_NAMES[own]}) includes {target.relative_to(root)} "
                                f"({LAYER_NAMES.get(theirs, 'outside the layers')}): it points up a layer")
        if own == 0:
            for header in SYSTEM_INCLUDE.findall(text):
                if header.lower() in WINDOWS_HEADERS:
                    problems.append(f"{name} (core) includes <{header}>: the core builds without Windows")
    for problem in problems:
        print("check-layers:", problem)
    print(f"check-layers: {len(files)} files, {len(core)} in the core, "
          f"{'no include points up a layer' if not problems else f'{len(problems)} problems'}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
