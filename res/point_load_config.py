#!/usr/bin/env python3
"""Points a PE32+ image's load configuration directory at its `_load_config_used` structure,
which the GNU linker leaves unreferenced. Usage: point_load_config.py IMAGE NM"""
import struct
import subprocess
import sys

LOAD_CONFIG = 10  # index of the data directory


def symbol_address(image, nm, name):
    for line in subprocess.run([nm, image], check=True, capture_output=True,
                               text=True).stdout.splitlines():
        fields = line.split()
        if len(fields) == 3 and fields[2] == name:
            return int(fields[0], 16)
    sys.exit(f"{image}: no symbol {name}")


def main():
    image, nm = sys.argv[1:3]
    data = bytearray(open(image, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    if data[pe:pe + 4] != b"PE\0\0" or struct.unpack_from("<H", data, optional)[0] != 0x20B:
        sys.exit(f"{image}: not a PE32+ image")
    image_base = struct.unpack_from("<Q", data, optional + 24)[0]
    rva = symbol_address(image, nm, "_load_config_used") - image_base
    # The structure's first field is its size, as the directory entry must say.
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    table = optional + struct.unpack_from("<H", data, pe + 20)[0]
    for i in range(sections):
        vsize, vaddr, _rsize, raddr = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        if vaddr <= rva < vaddr + vsize:
            size = struct.unpack_from("<I", data, raddr + rva - vaddr)[0]
            break
    else:
        sys.exit(f"{image}: _load_config_used lies in no section")
    struct.pack_into("<II", data, optional + 112 + 8 * LOAD_CONFIG, rva, size)
    open(image, "wb").write(data)


main()
