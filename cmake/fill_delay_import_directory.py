#!/usr/bin/env python3
"""Points the PE header's delay-import directory at the delay-load descriptors.

Usage: fill_delay_import_directory.py <exe> <link map>

GNU ld leaves the directory empty, so tools that list a binary's dependencies
miss the delay-loaded libraries. The link map says where the linker placed the
descriptors dlltool made (sections ".text$2") and the empty one that ends the
table (".text$2z", cmake/delayload/descriptor_table_end.c). The script checks
that they follow one another and that the last is all zeros, then writes the
directory's address and size and the header checksum, and no other byte.
Running it again on its own output changes nothing.
"""
import re
import struct
import sys

DESCRIPTOR = 32
SECTION = re.compile(r"^ (\.text\$2z?)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s")


def fail(message):
    sys.exit(f"fill_delay_import_directory: {message}")


def placed_descriptors(map_path):
    """Returns [(section, address, size)] of the descriptor sections, in address order."""
    with open(map_path) as link_map:
        found = [(m[1], int(m[2], 16), int(m[3], 16)) for m in map(SECTION.match, link_map) if m]
    return sorted((entry for entry in found if entry[2]), key=lambda entry: entry[1])


def checksum(data, field):
    """The PE header checksum: the file's 16-bit words summed with end-around
    carry, its own field taken as zero, plus the file's length."""
    words = data[:field] + b"\0\0\0\0" + data[field + 4:] + b"\0" * (len(data) % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", words):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def main():
    exe, map_path = sys.argv[1:3]
    data = bytearray(open(exe, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    image_base = struct.unpack_from("<Q", data, optional + 24)[0]
    table = optional + optional_size
    layout = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(sections)]

    def offset(rva):
        for vsize, va, raw_size, raw in layout:
            if va <= rva < va + min(vsize, raw_size):
                return rva - va + raw
        fail(f"rva {rva:#x} is not in the file")

    placed = placed_descriptors(map_path)
    if not placed or placed[-1][0] != ".text$2z" or [s for s, _, _ in placed].count(".text$2z") != 1:
        fail("the link map shows no descriptor table ending in .text$2z")
    start = placed[0][1] - image_base
    for index, (_, address, size) in enumerate(placed):
        if address - image_base != start + index * DESCRIPTOR or size != DESCRIPTOR:
            fail("the delay-load descriptors do not follow one another")
    end = offset(start + (len(placed) - 1) * DESCRIPTOR)
    if any(data[end:end + DESCRIPTOR]):
        fail("the descriptor table does not end with an empty descriptor")
    for index in range(len(placed) - 1):
        attributes, name = struct.unpack_from("<II", data, offset(start + index * DESCRIPTOR))
        if attributes != 1 or not name:
            fail("a delay-load descriptor is not of the form dlltool makes")

    directory = optional + 112 + 8 * 13
    current = struct.unpack_from("<II", data, directory)
    wanted = (start, len(placed) * DESCRIPTOR)
    if current not in ((0, 0), wanted):
        fail(f"the delay-import directory already holds {current}")
    struct.pack_into("<II", data, directory, *wanted)
    field = optional + 64
    struct.pack_into("<I", data, field, checksum(bytes(data), field))
    with open(exe, "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main()
