#!/usr/bin/env python3
"""Usage: pe.py FILE...

The project's one reader of Windows executables (PE32 and PE32+), straight from their headers: the tests
of the release build (tests/pe/) and the benchmarks import it. As a program it prints one line a FILE,
its size, the size of its resources, its machine, its imports, each DLL with the number of functions
taken from it, the size of its Authenticode signature (0: unsigned) and its SHA-256 Authenticode digest:
  pe FILE size=BYTES rsrc=BYTES machine=i386|x86-64 imports=kernel32.dll:N,user32.dll:N,... signature=BYTES
     authenticode=HEX
"""
import hashlib
import struct
import sys

MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
DIRECTORY_IMPORT, DIRECTORY_RESOURCE, DIRECTORY_SECURITY, DIRECTORY_BASERELOC = 1, 2, 4, 5


class PeImage:
    """The headers of one image, and its import and resource tables on request."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("not an MZ executable")
        (pe,) = struct.unpack_from("<I", data, 0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections_count, _, self.symbol_table, self.symbols, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.checksum_offset = optional + 64
        (self.magic,) = struct.unpack_from("<H", data, optional)
        self.wide = self.magic == 0x20B
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, optional + 68)
        (self.image_base,) = struct.unpack_from("<Q" if self.wide else "<I", data, optional + (24 if self.wide else 28))
        directories = optional + (112 if self.wide else 96)
        self.directories_offset = directories
        (count,) = struct.unpack_from("<I", data, directories - 4)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * index) for index in range(count)]
        self.sections = []  # (name, RVA, size in memory or in the file, whichever is larger, file offset)
        self.file_sections = []  # (name, RVA, bytes in the file)
        for index in range(sections_count):
            name, virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from(
                "<8sIIII", data, optional + optional_size + index * 40)
            name = name.rstrip(b"\0").decode("ascii", "replace")
            self.sections.append((name, virtual_address, max(virtual_size, raw_size), raw_pointer))
            self.file_sections.append((name, virtual_address, raw_size))
        # The headers take the file up to the first section's bytes.
        self.headers_size = min((pointer for (_, _, _, pointer), (_, _, raw) in zip(self.sections, self.file_sections)
                                 if raw), default=len(data))

    @property
    def machine_name(self):
        return MACHINES.get(self.machine, hex(self.machine))

    def directory(self, index):
        """(RVA, size) of a data directory; (0, 0) for one the image does not have."""
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def signature(self):
        """(file offset, size) of the Authenticode certificate table; (0, 0) when the file is unsigned. This
        one directory holds a file offset, not an RVA: the table is not loaded."""
        return self.directory(DIRECTORY_SECURITY)

    def authenticode_digest(self):
        """The SHA-256 Authenticode digest, which a signature carries: the whole file but the checksum, the
        certificate table's directory entry and the table, which signing changes. An unsigned build and
        the same build signed have the same digest. (Signing tools first pad a file whose length is not a
        multiple of 8; a file alignment of 512, as here, never needs it.)"""
        table, size = self.signature()
        end = table if size else len(self.data)
        entry = self.directories_offset + 8 * DIRECTORY_SECURITY
        digest = hashlib.sha256()
        digest.update(self.data[:self.checksum_offset])
        digest.update(self.data[self.checksum_offset + 4:entry])
        digest.update(self.data[entry + 8:end])
        return digest.hexdigest()

    def offset(self, rva):
        for _, virtual_address, size, raw_pointer in self.sections:
            if virtual_address <= rva < virtual_address + size:
                return raw_pointer + rva - virtual_address
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def imports(self):
        """[(dll name in lower case, number of functions imported from it)], in the table's order."""
        rva, _ = self.directory(DIRECTORY_IMPORT)
        result = []
        if not rva:
            return result
        at = self.offset(rva)
        step, thunk = (8, "<Q") if self.wide else (4, "<I")
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if not (lookup or name or thunks):
                return result
            entry = self.offset(lookup or thunks)
            functions = 0
            while struct.unpack_from(thunk, self.data, entry)[0]:
                functions += 1
                entry += step
            start = self.offset(name)
            dll = self.data[start:self.data.index(b"\0", start)].decode("ascii", "replace")
            result.append((dll.lower(), functions))
            at += 20

    def relocations(self):
        """The RVA of every base relocation: blocks of a page RVA and a size, then 16-bit entries with the
        type in their top 4 bits; type 0 only pads a block to 4 bytes."""
        rva, size = self.directory(DIRECTORY_BASERELOC)
        result = []
        if not rva:
            return result
        at = self.offset(rva)
        end = at + size
        while at < end:
            page, block = struct.unpack_from("<II", self.data, at)
            if block < 8:
                break
            for k in range(8, block, 2):
                (entry,) = struct.unpack_from("<H", self.data, at + k)
                if entry >> 12:
                    result.append(page + (entry & 0xFFF))
            at += block
        return result

    def resources(self):
        """Every resource as {type, name, language, data}, read from the .rsrc tree; a name is an integer
        ID or a string."""
        rsrc_rva, rsrc_size = self.directory(DIRECTORY_RESOURCE)
        if rsrc_rva == 0 or rsrc_size == 0:
            raise ValueError("no resource directory")
        data = self.data
        root = self.offset(rsrc_rva)

        def entries(directory):
            named, ids = struct.unpack_from("<HH", data, root + directory + 12)
            for index in range(named + ids):
                name, target = struct.unpack_from("<II", data, root + directory + 16 + index * 8)
                if name & 0x80000000:
                    (length,) = struct.unpack_from("<H", data, root + (name & 0x7FFFFFFF))
                    start = root + (name & 0x7FFFFFFF) + 2
                    name = data[start:start + 2 * length].decode("utf-16-le")
                yield name, target

        result = []
        for rtype, names in entries(0):
            for name, languages in entries(names & 0x7FFFFFFF):
                for language, leaf in entries(languages & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from("<II", data, root + leaf)
                    start = self.offset(data_rva)
                    result.append({"type": rtype, "name": name, "language": language,
                                   "data": data[start:start + size]})
        return result


def read(path):
    with open(path, "rb") as file:
        return PeImage(file.read())


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    for path in sys.argv[1:]:
        image = read(path)
        rsrc_rva, rsrc_size = image.directory(DIRECTORY_RESOURCE)
        imports = ",".join(f"{dll}:{n}" for dll, n in sorted(image.imports()))
        print(f"pe {path} size={len(image.data)} rsrc={rsrc_size if rsrc_rva else 0} "
              f"machine={image.machine_name} imports={imports} signature={image.signature()[1]} "
              f"authenticode={image.authenticode_digest()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
