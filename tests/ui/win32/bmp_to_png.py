#!/usr/bin/env python3
"""Writes a BMP file of 32 bits per pixel (as win32_dpi_tests saves a window) as PNG.
Usage: bmp_to_png.py IN.bmp OUT.png"""
import struct
import sys
import zlib


def main():
    data = open(sys.argv[1], "rb").read()
    offset = struct.unpack("<I", data[10:14])[0]
    width, height, _planes, bits = struct.unpack("<iiHH", data[18:30])
    if bits != 32:
        sys.exit(f"{sys.argv[1]}: {bits} bits per pixel, not 32")
    top_down = height < 0
    height = abs(height)
    stride = width * 4
    rows = bytearray()
    for row in range(height):
        source = row if top_down else height - 1 - row
        line = data[offset + source * stride:offset + (source + 1) * stride]
        rows.append(0)  # no filter
        for i in range(0, len(line), 4):
            rows += bytes((line[i + 2], line[i + 1], line[i]))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + \
            struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + \
        chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) + \
        chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b"")
    open(sys.argv[2], "wb").write(png)


main()
