#!/usr/bin/env python3
"""Usage: pe_info.py FILE...
For each PE file prints one line: its size, the size of its resources, and its imports, each DLL with the
number of functions taken from it:
  pe FILE size=BYTES rsrc=BYTES machine=i386|x86-64 imports=kernel32.dll:N,user32.dll:N,...
"""
import struct
import sys


def read_pe(path):
    data = open(path, "rb").read()
    if data[:2] != b"MZ":
        raise ValueError(f"{path}: not an MZ file")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{path}: no PE signature")
    machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    wide = magic == 0x20B
    directories = optional + (112 if wide else 96)
    count = struct.unpack_from("<I", data, directories - 4)[0]

    def directory(index):
        if index >= count:
            return 0, 0
        return struct.unpack_from("<II", data, directories + 8 * index)

    table = optional + optional_size
    layout = []
    for k in range(sections):
        name, vsize, vaddr, rsize, rptr = struct.unpack_from("<8sIIII", data, table + 40 * k)
        layout.append((name.rstrip(b"\0").decode("ascii", "replace"), vaddr, max(vsize, rsize), rptr, rsize))

    def offset(rva):
        for _, vaddr, span, rptr, _ in layout:
            if vaddr <= rva < vaddr + span:
                return rva - vaddr + rptr
        raise ValueError(f"{path}: RVA {rva:#x} lies in no section")

    def cstring(rva):
        start = offset(rva)
        return data[start:data.index(b"\0", start)].decode("ascii", "replace")

    imports = []
    rva, _ = directory(1)
    if rva:
        at = offset(rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", data, at)
            if not (lookup or name or thunks):
                break
            entry = offset(lookup or thunks)
            functions = 0
            step, size = (8, "<Q") if wide else (4, "<I")
            while struct.unpack_from(size, data, entry)[0]:
                functions += 1
                entry += step
            imports.append((cstring(name).lower(), functions))
            at += 20
    rsrc_rva, rsrc_size = directory(2)
    return {
        "size": len(data),
        "rsrc": rsrc_size if rsrc_rva else 0,
        "machine": {0x14C: "i386", 0x8664: "x86-64"}.get(machine, hex(machine)),
        "imports": imports,
    }


def main():
    for path in sys.argv[1:]:
        info = read_pe(path)
        imports = ",".join(f"{dll}:{n}" for dll, n in sorted(info["imports"]))
        print(f"pe {path} size={info['size']} rsrc={info['rsrc']} machine={info['machine']} "
              f"imports={imports}")


if __name__ == "__main__":
    main()
