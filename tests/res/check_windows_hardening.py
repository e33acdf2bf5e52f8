#!/usr/bin/env python3
"""Checks that pintool.exe asks Windows for address space layout randomisation with 64-bit
addresses and for pages of data that run no code: DYNAMIC_BASE, HIGH_ENTROPY_VA and NX_COMPAT
in its DllCharacteristics. Usage: check_windows_hardening.py EXE"""
import struct
import sys

DLL_CHARACTERISTICS = 70  # offset in the optional header, the same in PE32 and PE32+
REQUIRED = {
    "HIGH_ENTROPY_VA": 0x20,
    "DYNAMIC_BASE": 0x40,
    "NX_COMPAT": 0x100,
}


def main():
    data = open(sys.argv[1], "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"FAIL: {sys.argv[1]} is no PE file")
    flags = struct.unpack_from("<H", data, pe + 24 + DLL_CHARACTERISTICS)[0]
    missing = [name for name, bit in REQUIRED.items() if not flags & bit]
    if missing:
        sys.exit(f"FAIL: DllCharacteristics {flags:#x} without {', '.join(missing)}")
    print(f"DllCharacteristics {flags:#x}: {', '.join(REQUIRED)}")


main()
