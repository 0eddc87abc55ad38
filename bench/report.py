#!/usr/bin/env python3
"""Usage: report.py OUTPUT_DIR
Reads the raw figures that bench/run.sh left in OUTPUT_DIR and prints the table of figures and ratios, as
Markdown, each figure beside the baseline it was measured against in the same invocation."""
import re
import statistics
import sys
from pathlib import Path

out = Path(sys.argv[1])
rows = []
problems = []


def row(figure, tool, baseline, ratio="", target=""):
    rows.append((figure, tool, baseline, ratio, target))


def ratio(a, b):
    return f"{a / b:.2f}" if b else "n/a"


def runs(path):
    """'run NAME INDEX VALUE' lines (or key=value fields) grouped by NAME."""
    series = {}
    for line in Path(path).read_text().splitlines():
        parts = line.split()
        if len(parts) >= 4 and parts[0] == "run":
            series.setdefault(parts[1], []).append(parts[3:])
    return series


# Sizes and imports.
pe = {}
for line in (out / "sizes.txt").read_text().splitlines():
    fields = dict(f.split("=", 1) for f in line.split()[2:])
    pe[line.split()[1]] = fields


def import_summary(fields):
    pairs = [p.split(":") for p in fields["imports"].split(",") if p]
    total = sum(int(n) for _, n in pairs)
    listed = " ".join(f"{dll.removesuffix('.dll')}:{n}" for dll, n in pairs)
    return total, f"{len(pairs)} DLLs, {total} functions ({listed})"


for arch in ("x86_64", "i686"):
    tool = pe[f"{arch}/ZALUpdate.exe"]
    base = pe[f"{arch}/MinimalWindow.exe"]
    row(f"{arch} executable size, bytes", tool["size"], base["size"],
        ratio(int(tool["size"]), int(base["size"])))
    row(f"{arch} of which resources, bytes", tool["rsrc"], base["rsrc"])
    tool_total, tool_text = import_summary(tool)
    base_total, base_text = import_summary(base)
    row(f"{arch} imports", tool_text, base_text, ratio(tool_total, base_total))


def start_figures(figures, arch):
    """Start to first paint, peak memory and the DLLs loaded, against the baselines of the same build."""
    start = runs(figures / "start.txt")
    for name in ("tool", "minimal", "astool"):
        if not start.get(name):
            problems.append(f"{arch} start {name}: no run was recorded")
        for fields in start.get(name, []):
            if any(f.startswith("error=") for f in fields) or "exit=0" not in fields:
                problems.append(f"{arch} start {name}: {' '.join(fields)}")

    def start_median(name, key):
        values = []
        for fields in start.get(name, []):
            kv = dict(f.split("=", 1) for f in fields if "=" in f)
            value = float(kv[key])
            if value >= 0:
                values.append(value)
        return statistics.median(values) if values else 0.0, len(values)

    for key, label, unit in (
        ("painted", "start to first paint (WM_PAINT done in every window)", "ms"),
        ("shown", "start until the screen shows the painted client area", "ms"),
        ("visible", "start until the main window is visible", "ms"),
        ("peak_ws_kb", "peak working set", "KB"),
        ("peak_commit_kb", "peak commit (PeakPagefileUsage)", "KB"),
    ):
        tool, n_tool = start_median("tool", key)
        base, n_base = start_median("minimal", key)
        precision = ".1f" if unit == "ms" else ".0f"
        row(f"{arch} {label}, median of {min(n_tool, n_base)}, {unit}", f"{tool:{precision}}",
            f"{base:{precision}}", ratio(tool, base), "close to 1.0" if key == "painted" else "")
        if key in ("painted", "peak_ws_kb", "peak_commit_kb"):
            as_tool, _ = start_median("astool", key)
            row(f"{arch} {label}: against the minimal program with the tool's manifest and CoInitialize, {unit}",
                f"{tool:{precision}}", f"{as_tool:{precision}}", ratio(tool, as_tool))

    # What the start-up loads: the signature check's wintrust.dll comes only with a signed update.
    seen = {name: [dict(f.split("=", 1) for f in fields if "=" in f) for fields in start.get(name, [])]
            for name in ("tool", "minimal")}
    listed = {name: [kv for kv in seen[name] if int(kv.get("modules", -1)) >= 0] for name in seen}
    if listed["tool"] and listed["minimal"]:
        tool_modules = statistics.median(int(kv["modules"]) for kv in listed["tool"])
        base_modules = statistics.median(int(kv["modules"]) for kv in listed["minimal"])
        tool_wintrust = sum(kv.get("wintrust") == "1" for kv in listed["tool"])
        row(f"{arch} DLLs loaded once painted, median of {len(listed['tool'])}", f"{tool_modules:.0f}",
            f"{base_modules:.0f}", ratio(tool_modules, base_modules))
        row(f"{arch} runs that loaded wintrust.dll at start-up", f"{tool_wintrust} of {len(listed['tool'])}",
            "", "", "0")
    elif seen["tool"]:
        row(f"{arch} DLLs loaded once painted, and whether wintrust.dll is among them",
            "not listed: the launcher could not read the program's modules", "", "", "")


def phase_figures(figures, arch):
    """Where the tool's start-up goes, from the inside: no baseline, the steps add up to its start."""
    phases = {}
    for line in (figures / "phases.txt").read_text().splitlines():
        parts = line.split()
        if parts and parts[0] == "phases":
            for key, value in (p.split("=", 1) for p in parts[1:]):
                phases.setdefault(key, []).append(float(value))
    if not phases:
        problems.append(f"{arch} start-up steps: no run was recorded")
    for key, label in (
        ("to_main", "process creation to the entry point"),
        ("application", "the application object and its window"),
        ("initialize", "CoInitialize"),
        ("create_form", "FormPrincipal with panel, label, button, fonts and scaling"),
        ("show", "the show step"),
        ("paint", "until every window has painted"),
    ):
        values = phases.get(key, [])
        if values:
            median = statistics.median(values)
            row(f"{arch} start-up step of the tool: {label}, median of {len(values)}, ms", f"{median:.1f}", "",
                "")


def median_ms(series, name):
    values = [float(f[0]) for f in series.get(name, [])]
    return statistics.median(values) if values else 0.0, len(values)


def replace_figures(figures, arch):
    """The update completion against the system calls it comes down to; returns its median."""
    replace = runs(figures / "replace.txt")
    tool_ms, n = median_ms(replace, "tool")
    for name, label, target in (
        ("flush+rename", "FlushFileBuffers of the staged file + MoveFileExA over the installed one", "<= 1.10"),
        ("copyfile", "CopyFileA, which the replacement used to be", ""),
    ):
        base_ms, _ = median_ms(replace, name)
        row(f"{arch} replacement of a {mb} MB program (median of {n}, ms) against {label}", f"{tool_ms:.3f}",
            f"{base_ms:.3f}", ratio(tool_ms, base_ms), target)
    flush_ms, _ = median_ms(replace, "flush+rename")
    row(f"{arch} what the tool adds to flush + rename for a {mb} MB program (its checks and the hold), ms",
        f"{tool_ms - flush_ms:.3f}", "", "", "<= 1 ms")
    signed_ms, n_signed = median_ms(replace, "tool-signed")
    verify_ms, _ = median_ms(replace, "verify+flush+rename")
    row(f"{arch} replacement of a signed {mb} MB program (median of {n_signed}, ms) against WinVerifyTrust "
        "alone + flush + rename", f"{signed_ms:.3f}", f"{verify_ms:.3f}", ratio(signed_ms, verify_ms),
        "<= 1.10")
    return tool_ms


def leak_figures(figures, arch):
    """Handles and memory before, over the repaints and over the error boxes."""
    leaks_text = (figures / "leaks.txt").read_text()
    snapshots = {}
    for line in leaks_text.splitlines():
        parts = line.split()
        if parts and parts[0] == "snapshot":
            snapshots[parts[1]] = dict(p.split("=", 1) for p in parts[2:])
    if not re.search(r"^counters handle=1 gdi=1 memory=1 window=1$", leaks_text, re.M):
        problems.append(f"{arch} leaks: a counter does not see a new object")
    boxes = re.search(r"^boxes pressed=(\d+)", leaks_text, re.M)
    repaints = (figures / "leaks-repaints.txt").read_text().strip()
    for key, label in (
        ("gdi", "GDI objects (GetGuiResources)"),
        ("user", "USER objects (GetGuiResources)"),
        ("handles", "kernel handles (GetProcessHandleCount)"),
        ("probed_handles", "kernel handles (every handle value probed)"),
        ("wrapper_gdi", "GDI objects held by the wrappers (LiveGdiObjects)"),
        ("windows", "windows of the thread"),
        ("private_kb", "private bytes (PrivateUsage), KB"),
        ("private_committed_kb", "private committed memory (VirtualQuery), KB"),
        ("pagefile_kb", "pagefile usage, KB"),
    ):
        before = int(snapshots["before"][key])
        mid = int(snapshots["after-repaints"][key])
        after = int(snapshots["after-boxes"][key])
        row(f"{arch} {label}: before, delta over {repaints} repaints, delta over "
            f"{boxes.group(1) if boxes else '?'} error boxes", f"{before}, {mid - before:+d}, {after - mid:+d}",
            "", "", "+0, +0")


mb = (out / "replace-mb.txt").read_text().strip()
start_figures(out / "x86_64", "x86_64")
phase_figures(out / "x86_64", "x86_64")
tool_ms = replace_figures(out / "x86_64", "x86_64")

# The same replacement against cp on Linux.
cp = runs(out / "cp.txt")
cp_ms, n_cp = median_ms(cp, "cp")
row(f"x86_64 replacement of {mb} MB against cp on Linux (median of {n_cp}), ms", f"{tool_ms:.3f}",
    f"{cp_ms:.1f}", ratio(tool_ms, cp_ms))
cp_flush_ms, _ = median_ms(cp, "cp+sync")
row(f"x86_64 replacement of {mb} MB against cp + sync of the file on Linux, ms", f"{tool_ms:.3f}",
    f"{cp_flush_ms:.1f}", ratio(tool_ms, cp_flush_ms))

# Paint cost.
paint_text = (out / "x86_64" / "paint.txt").read_text()
paint = runs(out / "x86_64" / "paint.txt")
panel, n_panel = median_ms(paint, "panel")
fill, _ = median_ms(paint, "fillrect")
row(f"x86_64 full repaint of a 1920 x 1080 panel (median of {n_panel}), ms", f"{panel:.3f}",
    f"{fill:.3f} (one FillRect)", ratio(panel, fill))
if not re.search(r"^check panel .* ok$", paint_text, re.M):
    problems.append("paint: the panel did not paint its gradient")

leak_figures(out / "x86_64", "x86_64")

# The deliverable, under 32-bit Wine: natively or through an emulator, as the mode says.
i686 = out / "i686"
if (i686 / "mode.txt").exists():
    mode = (i686 / "mode.txt").read_text().strip()
    row("how the i686 programs ran", mode, "", "", "")
    arch = "i686" if mode.startswith("native") else "i686 (emulated)"
    start_figures(i686, arch)
    phase_figures(i686, arch)
    replace_figures(i686, arch)
    leak_figures(i686, arch)
else:
    skipped = (i686 / "skipped.txt").read_text().strip() if (i686 / "skipped.txt").exists() else "no figures"
    row("i686 under Wine", f"not measured: {skipped}", "", "", "")

print("| figure | ZALUpdate | baseline | ratio | target |")
print("|---|---|---|---|---|")
for figure, tool, baseline, r, target in rows:
    print(f"| {figure} | {tool} | {baseline} | {r} | {target} |")
for problem in problems:
    print(f"\nPROBLEM: {problem}")
sys.exit(1 if problems else 0)
