#!/usr/bin/env python3
"""Checks that pintool.exe's load configuration has Windows look for the libraries it imports in
System32 only (DependentLoadFlags LOAD_LIBRARY_SEARCH_SYSTEM32), so that no copy of CRYPT32.dll
beside the program is loaded in its stead. Usage: check_windows_load_config.py EXE"""
import struct
import sys

LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
DEPENDENT_LOAD_FLAGS = 0x4E  # offset in IMAGE_LOAD_CONFIG_DIRECTORY64


def main():
    data = open(sys.argv[1], "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    rva, size = struct.unpack_from("<II", data, optional + 112 + 8 * 10)
    if rva == 0:
        sys.exit("FAIL: no load configuration directory")
    table = optional + struct.unpack_from("<H", data, pe + 20)[0]
    for i in range(struct.unpack_from("<H", data, pe + 6)[0]):
        vsize, vaddr, _rsize, raddr = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        if vaddr <= rva < vaddr + vsize:
            offset = raddr + rva - vaddr
            break
    else:
        sys.exit("FAIL: the load configuration lies in no section")
    declared = struct.unpack_from("<I", data, offset)[0]
    flags = struct.unpack_from("<H", data, offset + DEPENDENT_LOAD_FLAGS)[0]
    if declared != size or size <= DEPENDENT_LOAD_FLAGS:
        sys.exit(f"FAIL: load configuration of {size} bytes, its own field says {declared}")
    if flags != LOAD_LIBRARY_SEARCH_SYSTEM32:
        sys.exit(f"FAIL: DependentLoadFlags {flags:#x}, not System32 only")
    print(f"load configuration: {size} bytes, DependentLoadFlags {flags:#x}")


main()
