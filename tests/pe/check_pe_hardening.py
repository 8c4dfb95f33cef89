#!/usr/bin/env python3
"""Checks the exploit-mitigation flags of Windows executables from their PE headers.

    check_pe_hardening.py EXE...                     every check must pass
    check_pe_hardening.py --expect CODE,... EXE      exactly these problems must be found
                                                     (how the test shows that each check bites)

Problem codes: DYNAMIC_BASE, HIGH_ENTROPY_VA, NX_COMPAT (DllCharacteristics 0x40, 0x20, 0x100),
RELOCS_STRIPPED (COFF flag 0x1), NO_RELOC (no non-empty .reloc section or base-relocation
directory), WX (a section both writable and executable), NO_WIN10_MANIFEST (no application
manifest naming Windows 10 and 11 as supported: GetVersionExA would then report Windows 8),
NOT_PE (not a PE32+ image).
"""
import struct
import sys

DYNAMIC_BASE = 0x0040
HIGH_ENTROPY_VA = 0x0020
NX_COMPAT = 0x0100
RELOCS_STRIPPED = 0x0001
MEM_EXECUTE = 0x20000000
MEM_WRITE = 0x80000000
PE32_PLUS = 0x20B
BASE_RELOC_DIRECTORY = 5
RESOURCE_DIRECTORY = 2
RT_MANIFEST = 24
WINDOWS_10_ID = b"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"


def manifest_of(data, rva_to_offset, resource_rva):
    """The bytes of the first RT_MANIFEST resource, or None."""
    base = rva_to_offset(resource_rva)
    if base is None:
        return None

    def first_entry(directory, wanted_id=None):
        named, ids = struct.unpack_from("<HH", data, directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
            if wanted_id is None or (not name & 0x80000000 and name == wanted_id):
                return target
        return None

    target = first_entry(base, RT_MANIFEST)
    for _level in range(2):  # name, then language
        if target is None or not target & 0x80000000:
            return None
        target = first_entry(base + (target & 0x7FFFFFFF))
    if target is None or target & 0x80000000:
        return None
    data_rva, size = struct.unpack_from("<II", data, base + target)
    at = rva_to_offset(data_rva)
    return None if at is None else data[at:at + size]


def problems_of(path):
    """Returns (problems, details): problem codes and a line per problem saying what was seen."""
    with open(path, "rb") as f:
        data = f.read()
    found = []

    def problem(code, text):
        found.append((code, text))

    if len(data) < 0x40 or data[:2] != b"MZ":
        problem("NOT_PE", "no MZ header")
        return found
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        problem("NOT_PE", "no PE signature at 0x%X" % pe)
        return found
    coff = pe + 4
    _machine, sections, _, _, _, optional_size, characteristics = struct.unpack_from(
        "<HHIIIHH", data, coff)
    optional = coff + 20
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic != PE32_PLUS:
        problem("NOT_PE", "optional header magic 0x%X, not PE32+ (0x20B)" % magic)
        return found
    dll = struct.unpack_from("<H", data, optional + 70)[0]
    for flag, code in ((DYNAMIC_BASE, "DYNAMIC_BASE"), (HIGH_ENTROPY_VA, "HIGH_ENTROPY_VA"),
                       (NX_COMPAT, "NX_COMPAT")):
        if not dll & flag:
            problem(code, "DllCharacteristics 0x%04X lacks %s (0x%X)" % (dll, code, flag))
    if characteristics & RELOCS_STRIPPED:
        problem("RELOCS_STRIPPED",
                "COFF characteristics 0x%04X say the relocations are stripped" % characteristics)

    directories = struct.unpack_from("<I", data, optional + 108)[0]
    reloc_rva = reloc_size = 0
    if directories > BASE_RELOC_DIRECTORY:
        reloc_rva, reloc_size = struct.unpack_from("<II", data, optional + 112 + 8 * 5)

    resource_rva = 0
    if directories > RESOURCE_DIRECTORY:
        resource_rva = struct.unpack_from("<I", data, optional + 112 + 8 * RESOURCE_DIRECTORY)[0]

    reloc_section = None
    section_spans = []
    table = optional + optional_size
    for i in range(sections):
        at = table + 40 * i
        name = data[at:at + 8].rstrip(b"\0").decode("latin-1")
        virtual_size, virtual_address, raw_size, raw_at = struct.unpack_from("<IIII", data, at + 8)
        flags = struct.unpack_from("<I", data, at + 36)[0]
        if flags & MEM_WRITE and flags & MEM_EXECUTE:
            problem("WX", "section %s is writable and executable (0x%08X)" % (name, flags))
        if name == ".reloc":
            reloc_section = (virtual_address, virtual_size, raw_at, raw_size)
        section_spans.append((virtual_address, max(virtual_size, raw_size), raw_at))

    def rva_to_offset(rva):
        for va, span, raw_at in section_spans:
            if va <= rva < va + span:
                return raw_at + (rva - va)
        return None

    manifest = manifest_of(data, rva_to_offset, resource_rva) if resource_rva else None
    if manifest is None or WINDOWS_10_ID not in manifest:
        problem("NO_WIN10_MANIFEST", "no application manifest" if manifest is None else
                "the manifest does not name Windows 10 and 11 (%s)" % WINDOWS_10_ID.decode())

    # The relocation table must hold at least one block with entries, or the loader cannot
    # move the image whatever DYNAMIC_BASE says.
    blocks = 0
    if reloc_section and reloc_size >= 8:
        va, vsize, raw_at, raw_size = reloc_section
        if va <= reloc_rva < va + max(vsize, raw_size):
            at = raw_at + (reloc_rva - va)
            end = at + min(reloc_size, raw_size)
            while at + 8 <= end:
                _page, block_size = struct.unpack_from("<II", data, at)
                if block_size < 8:
                    break
                if block_size > 8:
                    blocks += 1
                at += block_size
    if blocks == 0:
        problem("NO_RELOC", "no .reloc section with relocation blocks (directory RVA 0x%X, "
                "size %d)" % (reloc_rva, reloc_size))
    return found


def main(argv):
    expect = None
    if len(argv) > 1 and argv[1] == "--expect":
        expect = set(argv[2].split(","))
        argv = argv[2:]
    paths = argv[1:]
    if not paths:
        print(__doc__)
        return 2
    status = 0
    for path in paths:
        found = problems_of(path)
        codes = {code for code, _ in found}
        for code, text in found:
            print("%s: %s: %s" % (path, code, text))
        if expect is None:
            if found:
                status = 1
            else:
                print("%s: DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT, relocations kept, "
                      "no writable+executable section, Windows 10 manifest" % path)
        elif codes != expect:
            print("%s: expected exactly %s, found %s" % (
                path, ",".join(sorted(expect)), ",".join(sorted(codes)) or "nothing"))
            status = 1
        else:
            print("%s: every expected problem found" % path)
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv))
