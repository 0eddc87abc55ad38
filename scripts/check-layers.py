#!/usr/bin/env python3
"""Fails when an #include points up a layer.

The layers, lowest first: core/ (the portable rules), base/, ui/, controls/, app/; above them testkit/
(what the tests and the benchmarks share), then tests/ and bench/. A file may include files of its own
layer or of the layers below it, never above. A core file also includes no Windows header, so that it
builds natively.

Usage: check-layers.py [ROOT]; prints every offending include and exits 1 when there is one.
"""
import re
import sys
from pathlib import Path

FOLDER_LAYERS = {"core": 0, "base": 1, "ui": 2, "controls": 3, "app": 4, "testkit": 5, "tests": 6, "bench": 6}
LAYER_NAMES = {0: "core", 1: "base", 2: "ui", 3: "controls", 4: "app", 5: "testkit", 6: "tests/bench"}
WINDOWS_HEADERS = {"windows.h", "winbase.h", "winuser.h", "wingdi.h", "windef.h", "unknwn.h", "objbase.h",
                   "ole2.h", "psapi.h", "commctrl.h", "shellapi.h", "winnls.h"}
PROJECT_INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SYSTEM_INCLUDE = re.compile(r'^\s*#\s*include\s+<([^>]+)>', re.M)


def project_includes(root, path):
    return [root / name for name in PROJECT_INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace"))]


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent).resolve()
    if not (root / "core").is_dir():
        print("check-layers: found no core/; is the root right?")
        return 1

    def layer(path):
        return FOLDER_LAYERS.get(path.relative_to(root).parts[0])

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
    core = [p for p in files if layer(p) == 0]
    print(f"check-layers: {len(files)} files, {len(core)} in the core, "
          f"{'no include points up a layer' if not problems else f'{len(problems)} problems'}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
