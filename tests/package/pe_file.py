"""Reads what the package test needs from a Windows PE file: machine, subsystem, imported DLLs
and resources (Python stdlib only)."""
import struct

MACHINE_I386 = 0x14C
MACHINE_AMD64 = 0x8664
SUBSYSTEM_GUI = 2
FILE_DLL = 0x2000
RT_BITMAP = 2
RT_STRING = 6


class PeFile:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, _, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        if self.magic not in (0x10B, 0x20B):
            raise ValueError(f"unknown optional header magic {self.magic:#x}")
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<8sIIII", data, table + 40 * i) for i in range(sections)]

    @property
    def is_pe32_plus(self):
        return self.magic == 0x20B

    def offset(self, rva):
        for _, virtual_size, address, raw_size, raw_pointer in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw_pointer + rva - address
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def text_at(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def _table(self, index, size):
        """The records of a zero-terminated table that data directory `index` points at."""
        rva, _ = self.directory(index)
        while rva:
            record = struct.unpack_from(f"<{size // 4}I", self.data, self.offset(rva))
            if not any(record):
                return
            yield record
            rva += size

    def imported_dlls(self):
        """Names of the DLLs the loader maps at start (the import table) and of those loaded on
        first use (delay-load descriptors)."""
        names = [self.text_at(record[3]) for record in self._table(1, 20)]
        return names + [n for n in self.delay_loaded_dlls() if n not in names]

    def delay_loaded_dlls(self):
        names = [self.text_at(record[1]) for record in self._table(13, 32)]
        # dlltool's delay-import libraries leave the directory entry empty: their descriptors
        # (attributes 1, then the RVAs of name, module handle, address and name tables) are
        # found by their shape.
        for _, _, _, raw_size, raw_pointer in self.sections:
            for at in range(raw_pointer, raw_pointer + raw_size - 32, 4):
                attributes, name, module, addresses, names_table = struct.unpack_from("<5I", self.data, at)
                if attributes != 1 or not (name and module and addresses and names_table):
                    continue
                try:
                    text = self.text_at(name)
                    self.offset(module), self.offset(addresses), self.offset(names_table)
                except (ValueError, UnicodeDecodeError):
                    continue
                if text.lower().endswith(".dll") and text not in names:
                    names.append(text)
        return names

    def resources(self, kind):
        """{id: bytes} of the resources of a numeric type, first language of each."""
        root, _ = self.directory(2)
        if not root:
            return {}
        base = self.offset(root)

        def entries(offset):
            named, numbered = struct.unpack_from("<HH", self.data, base + offset + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)
                yield name, target

        def leaf(target):
            while target & 0x80000000:
                target = next(entries(target & 0x7FFFFFFF))[1]
            data_rva, size = struct.unpack_from("<II", self.data, base + target)
            start = self.offset(data_rva)
            return self.data[start:start + size]

        for name, target in entries(0):
            if name == kind and target & 0x80000000:
                return {ident: leaf(sub) for ident, sub in entries(target & 0x7FFFFFFF)
                        if not ident & 0x80000000}
        return {}

    def strings(self):
        """{id: text} of the string table."""
        table = {}
        for block, data in self.resources(RT_STRING).items():
            pos = 0
            for i in range(16):
                length = struct.unpack_from("<H", data, pos)[0]
                if length:
                    table[(block - 1) * 16 + i] = data[pos + 2:pos + 2 + 2 * length].decode("utf-16-le")
                pos += 2 + 2 * length
        return table
