#!/usr/bin/env python3
"""Usage: check-pe.py EXE MACHINE    (MACHINE: i386 or x86-64)

Fails unless the executable is a stripped Windows GUI program for MACHINE with relocations, ASLR and DEP
(and high-entropy ASLR on x86-64) that imports system DLLs only, and unless its resources hold: the icon
group MAINICON with one 32 x 32 16-colour image, language 1046; the manifest (type 24, id 1) with its own
identity and the one common-controls v6 dependency, asking for nothing else; and the version resource
1.0.0.4 with block 041604E4, translation 0x0416/1252, file type 1 and OS 4.
"""
import os
import re
import struct
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import pe  # noqa: E402

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
PT_BR = 1046
MACHINES = {"i386": (0x14C, 0x10B), "x86-64": (0x8664, 0x20B)}  # machine field, optional header magic
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
DLL_FLAGS = {0x20: "HIGH_ENTROPY_VA", 0x40: "DYNAMIC_BASE", 0x100: "NX_COMPAT"}
# The executable must run on a bare Windows: no compiler runtime DLLs, only libraries of the system.
SYSTEM_DLLS = re.compile(r"(kernel32|user32|gdi32|ole32|oleaut32|advapi32|comctl32|shell32|msvcrt)\.dll")

failures = 0


def fail(text):
    global failures
    failures += 1
    print(f"FAIL: {text}")


def check(condition, text, detail=""):
    if condition:
        print(f"ok:   {text}")
    else:
        fail(f"{text}{': ' + detail if detail else ''}")
    return condition


def check_headers(image, machine):
    want_machine, want_magic = MACHINES[machine]
    check(image.machine == want_machine, f"machine {machine}", image.machine_name)
    check(image.magic == want_magic, f"optional header magic {want_magic:04x}", f"{image.magic:04x}")
    check(image.subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI, "subsystem Windows GUI", str(image.subsystem))
    _, relocations = image.directory(pe.DIRECTORY_BASERELOC)
    check(not image.characteristics & IMAGE_FILE_RELOCS_STRIPPED and relocations > 0, "relocations present",
          "none: ASLR cannot move the image")
    wanted = [0x40, 0x100] + ([0x20] if machine == "x86-64" else [])
    for flag in wanted:
        check(image.dll_characteristics & flag, f"DllCharacteristics has {DLL_FLAGS[flag]}",
              f"{image.dll_characteristics:#06x}")
    imports = image.imports()
    check(imports, "import table present")
    for dll, _ in imports:
        check(SYSTEM_DLLS.fullmatch(dll), f"imports system DLL {dll}")
    check(image.symbol_table == 0 and image.symbols == 0, "stripped",
          f"{image.symbols} symbols at {image.symbol_table:#x}")

def read_key(data, offset):
    """A key in a version block: a NUL-terminated UTF-16 string."""
    end = offset
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[offset:end].decode("utf-16-le"), end + 2


def align4(offset):
    return (offset + 3) & ~3


def read_version_node(data, offset):
    """One node of a VS_VERSIONINFO tree: (key, value bytes, value type, children)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
    key, cursor = read_key(data, offset + 6)
    cursor = align4(cursor)
    value_bytes = value_length * 2 if value_type == 1 else value_length
    value = data[cursor:cursor + value_bytes]
    cursor = align4(cursor + value_bytes)
    children = []
    while cursor < offset + length:
        child, size = read_version_node(data, cursor)
        children.append(child)
        cursor = align4(cursor + size)
    return (key, value, value_type, children), length


def text_value(value):
    return value.decode("utf-16-le").rstrip("\0")


def check_icon(resources):
    groups = [r for r in resources if r["type"] == RT_GROUP_ICON]
    check(len(groups) == 1, "exactly one icon group", f"found {[g['name'] for g in groups]}")
    group = next((g for g in groups if g["name"] == "MAINICON"), None)
    if not check(group is not None, "icon group MAINICON"):
        return
    check(group["language"] == PT_BR, "MAINICON language 1046", str(group["language"]))
    reserved, kind, count = struct.unpack_from("<HHH", group["data"])
    if not check(reserved == 0 and kind == 1 and count == 1, "MAINICON holds one icon image", f"count {count}"):
        return
    width, height, colours, _, planes, bits, size, image_id = struct.unpack_from("<BBBBHHIH", group["data"], 6)
    check((width, height, colours, planes, bits) == (32, 32, 16, 1, 4), "group entry is 32 x 32, 16 colours",
          f"{width}x{height}, {colours} colours, {planes} plane(s), {bits} bpp")
    images = [r for r in resources if r["type"] == RT_ICON and r["name"] == image_id]
    if not check(len(images) == 1, f"icon image {image_id} present"):
        return
    image = images[0]
    check(image["language"] == PT_BR, "icon image language 1046", str(image["language"]))
    check(len(image["data"]) == size, "icon image size matches its group entry")
    header_size, bmp_width, bmp_height, bmp_planes, bmp_bits = struct.unpack_from("<IiiHH", image["data"])
    check((header_size, bmp_width, bmp_height, bmp_planes, bmp_bits) == (40, 32, 64, 1, 4),
          "icon image is a 32 x 32 4-bpp bitmap with its mask",
          f"{bmp_width}x{bmp_height // 2}, {bmp_bits} bpp")


def check_manifest(resources):
    manifests = [r for r in resources if r["type"] == RT_MANIFEST]
    if not check(len(manifests) == 1 and manifests[0]["name"] == 1, "one manifest, type 24 id 1",
                 str([m["name"] for m in manifests])):
        return
    ns = "{urn:schemas-microsoft-com:asm.v1}"
    try:
        root = ET.fromstring(manifests[0]["data"])
    except ET.ParseError as error:
        fail(f"manifest is not well-formed XML: {error}")
        return
    check(root.tag == ns + "assembly", "manifest root is an asm.v1 assembly", root.tag)
    children = [child.tag.replace(ns, "") for child in root]
    check(children == ["assemblyIdentity", "dependency"],
          "manifest holds only its identity and one dependency (no execution level, no DPI awareness)",
          str(children))
    identity = root.find(ns + "assemblyIdentity")
    if identity is not None:
        attributes = dict(identity.attrib)
        name = attributes.pop("name", "")
        check(name != "" and attributes == {"type": "win32", "version": "1.0.0.0", "processorArchitecture": "*"},
              "manifest identity: win32, 1.0.0.0, any architecture", str(identity.attrib))
    dependencies = root.findall(f"{ns}dependency/{ns}dependentAssembly/{ns}assemblyIdentity")
    wanted = {"type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
              "publicKeyToken": "6595b64144ccf1df", "language": "*", "processorArchitecture": "*"}
    check(len(dependencies) == 1 and dependencies[0].attrib == wanted,
          "manifest depends on common controls 6.0.0.0 exactly", str([d.attrib for d in dependencies]))


def check_version(resources):
    versions = [r for r in resources if r["type"] == RT_VERSION]
    if not check(len(versions) == 1 and versions[0]["name"] == 1, "one version resource, id 1"):
        return
    (key, fixed, _, children), _ = read_version_node(versions[0]["data"], 0)
    check(key == "VS_VERSION_INFO", "version root VS_VERSION_INFO", key)
    if not check(len(fixed) == 52, "fixed file information present"):
        return
    (signature, _, file_ms, file_ls, product_ms, product_ls, _, _, file_os, file_type, _, _,
     _) = struct.unpack("<13I", fixed)
    check(signature == 0xFEEF04BD, "fixed file information signature")

    def dotted(ms, ls):
        return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"

    check(dotted(file_ms, file_ls) == "1.0.0.4", "file version 1.0.0.4", dotted(file_ms, file_ls))
    check(dotted(product_ms, product_ls) == "1.0.0.4", "product version 1.0.0.4", dotted(product_ms, product_ls))
    check(file_type == 1, "file type VFT_APP", str(file_type))
    check(file_os == 4, "file OS VOS__WINDOWS32", str(file_os))

    by_key = {child[0]: child for child in children}
    tables = by_key.get("StringFileInfo", (None, None, None, []))[3]
    check([t[0] for t in tables] == ["041604E4"], "one string block 041604E4", str([t[0] for t in tables]))
    for table in tables:
        strings = {s[0]: text_value(s[1]) for s in table[3]}
        check(strings.get("FileVersion") == "1.0.0.4", "FileVersion text 1.0.0.4", str(strings.get("FileVersion")))
        # Non-ASCII letters must have come through the Windows-1252 code page, not as mangled bytes.
        check(strings.get("FileDescription") == "Atualiza\u00e7\u00e3o do ZAL", "FileDescription text",
              repr(strings.get("FileDescription")))
        for name, value in strings.items():
            try:
                value.encode("cp1252")
            except UnicodeEncodeError:
                fail(f"{name} has characters outside Windows-1252: {value!r}")
    variables = by_key.get("VarFileInfo", (None, None, None, []))[3]
    translation = [v[1] for v in variables if v[0] == "Translation"]
    check(translation == [struct.pack("<HH", 0x0416, 1252)], "translation 0x0416, 1252",
          str([t.hex() for t in translation]))


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in MACHINES:
        print(__doc__)
        return 2
    exe, machine = sys.argv[1:]
    try:
        image = pe.read(exe)
        check_headers(image, machine)
        resources = image.resources()
    except (OSError, ValueError, struct.error) as error:
        fail(f"cannot read {exe}: {error}")
        return 1
    check_icon(resources)
    check_manifest(resources)
    check_version(resources)
    if failures:
        print(f"{failures} check(s) failed for {exe}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
