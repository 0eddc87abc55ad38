#!/usr/bin/env python3
"""Usage: check-resources.py EXE

Reads the resource tree of a Windows executable (PE32 or PE32+) and fails unless it holds:
the icon group MAINICON with one 32 x 32 16-colour image, language 1046; the manifest (type 24, id 1) with
its own identity and the one common-controls v6 dependency, asking for nothing else; and the version
resource 1.0.0.4 with block 041604E4, translation 0x0416/1252, file type 1 and OS 4.
"""
import struct
import sys
import xml.etree.ElementTree as ET

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
PT_BR = 1046

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


def read_key(data, offset):
    """A key in a version block: a NUL-terminated UTF-16 string."""
    end = offset
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[offset:end].decode("utf-16-le"), end + 2


def align4(offset):
    return (offset + 3) & ~3


def read_resources(image):
    """Every resource of a PE image as {type, name, language, data}, read straight from its .rsrc tree."""
    if image[:2] != b"MZ":
        raise ValueError("not an MZ executable")
    (pe,) = struct.unpack_from("<I", image, 0x3C)
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    sections_count, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    (magic,) = struct.unpack_from("<H", image, optional)
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", image, directories + 2 * 8)
    if rsrc_rva == 0 or rsrc_size == 0:
        raise ValueError("no resource directory")
    sections = []
    for index in range(sections_count):
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from(
            "<IIII", image, optional + optional_size + index * 40 + 8)
        sections.append((virtual_address, max(virtual_size, raw_size), raw_pointer))

    def file_offset(rva):
        for virtual_address, size, raw_pointer in sections:
            if virtual_address <= rva < virtual_address + size:
                return raw_pointer + rva - virtual_address
        raise ValueError(f"RVA {rva:#x} lies in no section")

    root = file_offset(rsrc_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", image, root + directory + 12)
        for index in range(named + ids):
            name, target = struct.unpack_from("<II", image, root + directory + 16 + index * 8)
            if name & 0x80000000:
                (length,) = struct.unpack_from("<H", image, root + (name & 0x7FFFFFFF))
                start = root + (name & 0x7FFFFFFF) + 2
                name = image[start:start + 2 * length].decode("utf-16-le")
            yield name, target

    resources = []
    for rtype, names in entries(0):
        for name, languages in entries(names & 0x7FFFFFFF):
            for language, leaf in entries(languages & 0x7FFFFFFF):
                data_rva, size = struct.unpack_from("<II", image, root + leaf)
                start = file_offset(data_rva)
                resources.append({"type": rtype, "name": name, "language": language,
                                  "data": image[start:start + size]})
    return resources


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
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    exe = sys.argv[1]
    try:
        with open(exe, "rb") as f:
            resources = read_resources(f.read())
    except (OSError, ValueError, struct.error) as error:
        fail(f"cannot read the resources of {exe}: {error}")
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
