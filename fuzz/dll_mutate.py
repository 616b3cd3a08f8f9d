#!/usr/bin/env python3
"""Writes damaged copies of a PE32 DLL for the loader's mutation fuzz.

    dll_mutate.py DLL OUT_DIR COUNT SEED

Each mutant is OUT_DIR/NNN.auf; OUT_DIR/mutations.txt has one line per
mutant saying what was changed. The same DLL, count and seed give the same
mutants. Most mutations aim at what the loader reads (headers, the section
table, the export, import, relocation and TLS structures and the names
they point to, the DLL's constructor lists and its uninitialised data);
the rest change bytes anywhere or cut the file short.
"""

import random
import struct
import sys
from pathlib import Path

PAGE = 4096


class Image:
    """The fields of a PE32 file that the mutations aim at, as file offsets."""

    def __init__(self, data):
        self.data = data
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        file_header = self.pe + 4
        (_, self.section_count, _, _, _, optional_size, _) = struct.unpack_from("<HHIIIHH", data, file_header)
        self.optional = file_header + 20
        self.image_size = self.u32(self.optional + 56)
        self.directories = self.optional + 96
        self.section_table = self.optional + optional_size
        self.sections = []
        for i in range(self.section_count):
            at = self.section_table + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("latin-1")
            vsize, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append(dict(name=name, header=at, vsize=vsize, rva=rva, raw_size=raw_size,
                                      raw_offset=raw_offset))

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def offset_of(self, rva):
        """The file offset holding `rva`, or None where the file has no byte for it."""
        for s in self.sections:
            if s["rva"] <= rva < s["rva"] + s["raw_size"]:
                return s["raw_offset"] + rva - s["rva"]
        return None

    def directory(self, index):
        return self.u32(self.directories + 8 * index), self.u32(self.directories + 8 * index + 4)

    def string_at(self, rva):
        """(offset, length) of the C string at `rva`."""
        at = self.offset_of(rva)
        if at is None:
            return None
        end = self.data.index(b"\0", at)
        return at, end - at

    def targets(self):
        """Named groups of (kind, offset, size) places to change."""
        groups = {}

        def add(group, kind, offset, size=4):
            if offset is not None and 0 <= offset and offset + size <= len(self.data):
                groups.setdefault(group, []).append((kind, offset, size))

        header_fields = [(self.pe + 4, 2), (self.pe + 6, 2), (self.pe + 20, 2), (self.pe + 22, 2)]
        header_fields += [(self.optional + o, 4) for o in (16, 28, 32, 56, 60, 92)]
        for offset, size in header_fields:
            add("headers", "word", offset, size)
        for i in range(16):
            add("directories", "word", self.directories + 8 * i)
            add("directories", "word", self.directories + 8 * i + 4)
        for s in self.sections:
            for field in (8, 12, 16, 20, 36):
                add("sections", "word", s["header"] + field)
            if s["name"] == ".bss":
                add("bss", "shrink", s["header"] + 8)
            if s["name"] == ".CRT" and s["raw_size"]:
                for at in range(s["raw_offset"], s["raw_offset"] + s["vsize"], 4):
                    add("constructors", "word", at)

        export_rva, export_size = self.directory(0)
        export = self.offset_of(export_rva) if export_size else None
        if export is not None:
            for field in (12, 16, 20, 24, 28, 32, 36):
                add("exports", "word", export + field)
            name_count, functions, names, ordinals = (self.u32(export + 24), self.u32(export + 28),
                                                       self.u32(export + 32), self.u32(export + 36))
            for i in range(self.u32(export + 20)):
                add("exports", "word", self.offset_of(functions + 4 * i))
            for i in range(name_count):
                add("exports", "word", self.offset_of(names + 4 * i))
                add("exports", "half", self.offset_of(ordinals + 2 * i), 2)
                name = self.string_at(self.u32(self.offset_of(names + 4 * i)))
                if name:
                    add("names", "string", *name)
            module = self.string_at(self.u32(export + 12))
            if module:
                add("names", "string", *module)

        import_rva, import_size = self.directory(1)
        descriptor = self.offset_of(import_rva) if import_size else None
        while descriptor is not None and self.u32(descriptor + 12):
            for field in (0, 12, 16):
                add("imports", "word", descriptor + field)
            dll = self.string_at(self.u32(descriptor + 12))
            if dll:
                add("names", "string", *dll)
            thunks = self.offset_of(self.u32(descriptor) or self.u32(descriptor + 16))
            while thunks is not None and self.u32(thunks):
                add("imports", "word", thunks)
                name = self.string_at(self.u32(thunks) + 2)
                if name:
                    add("names", "string", *name)
                thunks += 4
            descriptor += 20

        tls_rva, tls_size = self.directory(9)
        tls = self.offset_of(tls_rva) if tls_size else None
        if tls is not None:
            for field in (0, 4, 8, 12, 16):
                add("tls", "word", tls + field)
            base = self.u32(self.optional + 28)
            callback = self.offset_of(self.u32(tls + 12) - base) if self.u32(tls + 12) else None
            while callback is not None and self.u32(callback):
                add("tls", "word", callback)
                callback += 4

        relocation_rva, relocation_size = self.directory(5)
        relocations = self.offset_of(relocation_rva) if relocation_size else None
        if relocations is not None:
            at, end = relocations, relocations + relocation_size
            while at + 8 <= end and self.u32(at + 4) >= 8:
                add("relocations", "word", at)
                add("relocations", "word", at + 4)
                at += self.u32(at + 4)
        return groups


# How often each group is chosen; "bytes" and "truncate" need no target.
WEIGHTS = {"headers": 8, "directories": 8, "sections": 10, "exports": 16, "names": 14, "imports": 12,
           "tls": 10, "relocations": 5, "constructors": 4, "bss": 3, "bytes": 6, "truncate": 4}


def word_value(rng, image, old):
    """A new value for a 32-bit field: near it, at the image's end, or wild."""
    choice = rng.randrange(7)
    if choice == 0:
        return 0
    if choice == 1:
        return 0xFFFFFFFF
    if choice == 2:
        return (old + rng.choice([-8, -4, -2, -1, 1, 2, 4, 8, 4096, -4096])) & 0xFFFFFFFF
    if choice == 3:
        return (image.image_size - rng.randrange(1, 64)) & 0xFFFFFFFF
    if choice == 4:
        return image.image_size + rng.randrange(0, 3 * PAGE)
    if choice == 5:
        return old ^ (1 << rng.randrange(32))
    return rng.getrandbits(32)


def mutate(rng, original, image, groups):
    data = bytearray(original)
    names = [g for g in WEIGHTS if g in groups or g in ("bytes", "truncate")]
    group = rng.choices(names, weights=[WEIGHTS[g] for g in names])[0]
    if group == "truncate":
        length = rng.randrange(64, len(data))
        return bytes(data[:length]), f"truncated to {length} bytes"
    if group == "bytes":
        changes = []
        for _ in range(rng.randrange(1, 9)):
            at = rng.randrange(len(data))
            data[at] = rng.randrange(256)
            changes.append(f"{at:#x}")
        return bytes(data), "random bytes at " + ", ".join(changes)
    kind, offset, size = rng.choice(groups[group])
    if kind == "string":
        # Replace the terminator, and the bytes after it, with letters:
        # the name runs on into whatever follows.
        run = rng.choice([1, 16, 256, 4096])
        end = min(offset + size + run, len(data))
        data[offset + size:end] = b"A" * (end - offset - size)
        return bytes(data), f"{group}: string at {offset:#x} runs on for {end - offset - size} bytes"
    if kind == "shrink":
        old = struct.unpack_from("<I", data, offset)[0]
        new = rng.randrange(0, max(old, 1))
        struct.pack_into("<I", data, offset, new)
        return bytes(data), f"{group}: virtual size {old:#x} -> {new:#x}"
    if kind == "half":
        old = struct.unpack_from("<H", data, offset)[0]
        new = rng.choice([old + 1, 0xFFFF, rng.getrandbits(16)]) & 0xFFFF
        struct.pack_into("<H", data, offset, new)
        return bytes(data), f"{group}: 16-bit field at {offset:#x} {old:#x} -> {new:#x}"
    if size == 2:
        old = struct.unpack_from("<H", data, offset)[0]
        new = word_value(rng, image, old) & 0xFFFF
        struct.pack_into("<H", data, offset, new)
        return bytes(data), f"{group}: 16-bit field at {offset:#x} {old:#x} -> {new:#x}"
    old = struct.unpack_from("<I", data, offset)[0]
    new = word_value(rng, image, old)
    struct.pack_into("<I", data, offset, new)
    return bytes(data), f"{group}: field at {offset:#x} {old:#x} -> {new:#x}"


def main():
    dll, out_dir, count, seed = Path(sys.argv[1]), Path(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    original = dll.read_bytes()
    image = Image(original)
    groups = image.targets()
    rng = random.Random(seed)
    out_dir.mkdir(parents=True, exist_ok=True)
    with open(out_dir / "mutations.txt", "w") as log:
        for number in range(count):
            data, what = mutate(rng, original, image, groups)
            (out_dir / f"{number:03d}.auf").write_bytes(data)
            log.write(f"{number:03d} {what}\n")


if __name__ == "__main__":
    main()
