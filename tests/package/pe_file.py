"""Reads what the package test needs from a Windows PE file: machine, subsystem, imported DLLs,
delay-import stubs and resources (Python stdlib only)."""
import struct

MACHINE_I386 = 0x14C
MACHINE_AMD64 = 0x8664
SUBSYSTEM_GUI = 2
FILE_DLL = 0x2000
RT_BITMAP = 2
RT_STRING = 6
RT_MANIFEST = 24


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
        self.image_base = (struct.unpack_from("<I", data, optional + 28)[0] if self.magic == 0x10B
                           else struct.unpack_from("<Q", data, optional + 24)[0])
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

    def imported_functions(self):
        """{DLL name: [function names]} of the import table; ordinals as "#n"."""
        width = 8 if self.is_pe32_plus else 4
        kind = "<Q" if self.is_pe32_plus else "<I"
        ordinal = 1 << (width * 8 - 1)
        functions = {}
        for record in self._table(1, 20):
            names, at = [], record[0] or record[4]
            while True:
                entry = struct.unpack_from(kind, self.data, self.offset(at))[0]
                if not entry:
                    break
                names.append(f"#{entry & 0xFFFF}" if entry & ordinal else self.text_at((entry & 0x7FFFFFFF) + 2))
                at += width
            functions[self.text_at(record[3])] = names
        return functions

    def delay_loaded_dlls(self):
        return [name for name, _, _ in self.delay_descriptors()]

    def delay_descriptors(self):
        """(DLL name, address table RVA, name table RVA) of each delay-load descriptor."""
        found = [(self.text_at(r[1]), r[3], r[4]) for r in self._table(13, 32)]
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
                if text.lower().endswith(".dll") and text not in [f[0] for f in found]:
                    found.append((text, addresses, names_table))
        return found

    def section_of(self, rva):
        for name, virtual_size, address, raw_size, _ in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return name.rstrip(b"\0").decode("ascii")
        return None

    def delay_slots(self, dll):
        """(slot RVA, RVA of the code the slot holds before the first call) for each function
        imported from `dll` by delay-load: one slot per entry of the name table."""
        width = 8 if self.is_pe32_plus else 4
        kind = "<Q" if self.is_pe32_plus else "<I"
        for name, addresses, names_table in self.delay_descriptors():
            if name.lower() != dll.lower():
                continue
            index = 0
            while struct.unpack_from(kind, self.data, self.offset(names_table + index * width))[0]:
                slot = addresses + index * width
                value = struct.unpack_from(kind, self.data, self.offset(slot))[0]
                yield slot, (value - self.image_base if value else None)
                index += 1

    def stub_loads_slot(self, code, slot):
        """Whether the code at RVA `code` starts by taking the address of `slot`, as a loader
        stub does before it calls the delay-load helper."""
        at = self.offset(code)
        if self.is_pe32_plus:  # lea rax, [rip + displacement]
            return (self.data[at:at + 3] == b"\x48\x8d\x05"
                    and code + 7 + struct.unpack_from("<i", self.data, at + 3)[0] == slot)
        return (self.data[at] == 0xB8  # mov eax, address
                and struct.unpack_from("<I", self.data, at + 1)[0] == self.image_base + slot)

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
