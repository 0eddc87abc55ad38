#!/usr/bin/env python3
"""Usage: link_map.py MAP EXE [TOP]
Says where the bytes of a linked PE executable come from. MAP is the GNU ld map of the link that made EXE
(-Wl,-Map; a stripped link still names every input section kept). Prints the file's bytes by origin (the
tool's own folders, the C++ runtime libraries, the mingw-w64 CRT, import tables, resources, base
relocations, headers and padding), by section, the two crossed, and the TOP (20) largest input objects.
Base relocations are charged to the origin of the input section each one patches; .reloc's block headers
and padding stay with the linker.
"""
import bisect
import collections
import os
import re
import sys

sys.dont_write_bytecode = True  # no cache beside the sources
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import pe as pe_reader  # noqa: E402


def read_pe(path):
    image = pe_reader.read(path)
    return {"size": len(image.data), "machine": image.machine_name, "image_base": image.image_base,
            "headers": image.headers_size, "sections": image.file_sections, "relocations": image.relocations()}

SUPCXX = set()  # libstdc++.a members that are libsupc++ (exception handling, RTTI, new/delete, demangler)
RUNTIME = ["libstdc++", "libsupc++", "libgcc", "libgcc_eh", "winpthread", "mingw-w64 CRT"]
CRT_ARCHIVES = {"libmingw32.a", "libmingwex.a", "libmoldname.a", "libmsvcrt.a", "crt2.o", "crtbegin.o",
                "crtend.o"}

INPUT = re.compile(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")
NAME_ONLY = re.compile(r"^ (\S+)$")
CONTINUED = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")
FILL = re.compile(r"^ \*fill\*\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)")
DATA = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(?:BYTE|SHORT|LONG|QUAD)\b")
OUTPUT = re.compile(r"^(\.\S+|/DISCARD/)")


def supcxx_members(map_text):
    """The libsupc++.a members, read from the archive beside the libstdc++.a that the map loaded."""
    found = re.search(r"^LOAD (\S*/)libstdc\+\+\.a$", map_text, re.M)
    if found:
        import subprocess
        archive = found.group(1) + "libsupc++.a"
        if os.path.exists(archive):
            listing = subprocess.run(["ar", "t", archive], capture_output=True, text=True, check=True)
            SUPCXX.update(listing.stdout.split())


def parse(map_text):
    """Yields (output section, input section, address, size, file) for every piece of the image."""
    lines = map_text[map_text.index("Linker script and memory map"):].splitlines()
    output = None
    pending = None
    for line in lines:
        match = OUTPUT.match(line)
        if match:
            output, pending = match.group(1), None
            continue
        if output in (None, "/DISCARD/"):
            continue
        match = FILL.match(line)
        if match:
            yield output, "*fill*", int(match.group(1), 16), int(match.group(2), 16), "*fill*"
            pending = None
            continue
        match = DATA.match(line)
        if match:
            yield output, "*data*", int(match.group(1), 16), int(match.group(2), 16), "linker script data"
            continue
        match = INPUT.match(line)
        if match and not match.group(1).startswith("*"):
            yield output, match.group(1), int(match.group(2), 16), int(match.group(3), 16), match.group(4)
            pending = None
            continue
        match = NAME_ONLY.match(line)
        if match and not match.group(1).startswith("*") and "(" not in match.group(1):
            pending = match.group(1)
            continue
        match = CONTINUED.match(line)
        if match and pending:
            yield output, pending, int(match.group(1), 16), int(match.group(2), 16), match.group(3)
        pending = None


def split_file(path):
    """'dir/libfoo.a(bar.o)' -> ('libfoo.a', 'bar.o'); 'dir/crt2.o' -> ('crt2.o', None)."""
    match = re.match(r"^(.*?)\(([^()]*)\)$", path)
    if match:
        return os.path.basename(match.group(1)), match.group(2)
    return os.path.basename(path), None


def origin(path, section, importers):
    if path == "*fill*":
        return "headers/padding"
    if path == "linker script data":
        return "import tables" if section == ".idata" else "headers/padding"
    if path == "dll stuff":
        return "base relocations"
    if path.endswith(".res"):
        return "resources"
    archive, member = split_file(path)
    if ".ltrans" in archive:
        return "own: lto"  # -flto merges the folders' objects into link-time partitions
    if not path.startswith("/"):
        # The project's own objects: libzal_ui.a(...) or app/CMakeFiles/ZALUpdate.dir/...
        own = re.match(r"^libzal_(\w+)\.a$", archive)
        folder = own.group(1) if own else path.split("/")[0]
        return "own: " + folder
    if (archive, member) in importers:
        return "import tables"
    if archive == "libstdc++.a":
        return "libsupc++" if member in SUPCXX else "libstdc++"
    if archive in ("libgcc.a", "libgcc_eh.a"):
        return archive[:-2]
    if archive in ("libpthread.a", "libwinpthread.a"):
        return "winpthread"
    if archive in CRT_ARCHIVES:
        return "mingw-w64 CRT"
    return "import tables"  # the system DLLs' import libraries: thunks and their .idata pieces


def file_section(name, sections):
    """The PE section for a map's output section (the stripped file cuts names at 8 bytes)."""
    for candidate, _, _ in sections:
        if name[:8] == candidate:
            return candidate
    return None


def main():
    map_path, exe = sys.argv[1], sys.argv[2]
    top = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    map_text = open(map_path).read()
    supcxx_members(map_text)
    pe = read_pe(exe)
    pieces = list(parse(map_text))
    importers = {split_file(path) for out, _, _, _, path in pieces if out == ".idata"}

    raw = {name: size for name, _, size in pe["sections"]}
    # bytes[origin][section]
    table = collections.defaultdict(collections.Counter)
    objects = collections.Counter()
    kept = []  # (address, end, origin) for charging relocations
    for out, _, address, size, path in pieces:
        section = file_section(out, pe["sections"])
        if section is None or size == 0:
            continue
        who = origin(path, out, importers)
        kept.append((address, address + size, who))
        if section == ".reloc" or raw.get(section, 0) == 0:
            continue  # .reloc is charged below; sections without file bytes (.bss) cost nothing on disk
        table[who][section] += size
        if path not in ("*fill*", "linker script data"):
            objects[path] += size

    # Base relocations: 2 bytes each, charged to the origin of the bytes they patch.
    kept.sort()
    starts = [start for start, _, _ in kept]
    charged = 0
    for rva in pe["relocations"]:
        address = pe["image_base"] + rva
        k = bisect.bisect_right(starts, address) - 1
        if k >= 0 and kept[k][0] <= address < kept[k][1]:
            table[kept[k][2]][".reloc"] += 2
            charged += 2
    if ".reloc" in raw:
        table["base relocations"][".reloc"] += raw[".reloc"] - charged

    # Whatever a section's file bytes hold beyond its input sections is alignment to the file alignment.
    for section, size in raw.items():
        used = sum(table[who][section] for who in table)
        table["headers/padding"][section] += size - used
    table["headers/padding"]["headers"] += pe["headers"]

    total = sum(sum(row.values()) for row in table.values())
    if total != pe["size"]:
        print(f"warning: the breakdown adds up to {total} bytes, the file has {pe['size']}")
    size = pe["size"]

    def line(label, value):
        print(f"  {label:<28} {value:>8} {100 * value / size:5.1f} %")

    own = sorted(who for who in table if who.startswith("own: "))
    order = own + RUNTIME + ["import tables", "resources", "base relocations", "headers/padding"]
    order += sorted(set(table) - set(order))
    print(f"{exe}: {size} bytes, {pe['machine']}")
    print("by origin (.reloc entries charged to the origin of what they patch):")
    line("own code, all", sum(sum(table[who].values()) for who in own))
    for who in own:
        line("  " + who, sum(table[who].values()))
    line("runtime, all", sum(sum(table[who].values()) for who in RUNTIME))
    for who in RUNTIME:
        line("  " + who, sum(table[who].values()))
    for who in order[len(own) + len(RUNTIME):]:
        line(who, sum(table[who].values()))
    print("by section (bytes in the file):")
    sections = ["headers"] + [name for name, _, size in pe["sections"] if size]
    for section in sections:
        line(section, sum(table[who][section] for who in table))
    print("origin by section:")
    print(f"  {'':<22}" + "".join(f"{name:>9}" for name in sections))
    for who in order:
        if sum(table[who].values()):
            print(f"  {who:<22}" + "".join(f"{table[who][name]:>9}" for name in sections))
    print(f"largest {top} input objects (all their sections but .reloc):")
    for path, value in objects.most_common(top):
        archive, member = split_file(path)
        print(f"  {value:>8}  {archive + ('(' + member + ')' if member else '')}")


if __name__ == "__main__":
    main()
