#!/usr/bin/env python3
"""Cuts a window out of the screen Xvfb keeps in a file (-fbdir; XWD, 24 or 32 bits per
pixel) and writes it as PNG. Usage: xwd_to_png.py SCREEN.xwd X Y WIDTH HEIGHT OUT.png"""
import struct
import sys
import zlib


def read_screen(path):
    data = open(path, "rb").read()
    fields = struct.unpack(">25I", data[:100])
    header_size, _version, _format, _depth, width, height = fields[:6]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    colours = fields[19]
    if bits_per_pixel != 32:
        sys.exit(f"{path}: {bits_per_pixel} bits per pixel, not 32")
    pixels = header_size + colours * 12
    return data, pixels, width, height, bytes_per_line, byte_order


def main():
    source, x, y, w, h, out = sys.argv[1], *map(int, sys.argv[2:6]), sys.argv[6]
    data, start, width, height, stride, byte_order = read_screen(source)
    x, y = max(0, x), max(0, y)
    w, h = min(w, width - x), min(h, height - y)
    rows = bytearray()
    for row in range(y, y + h):
        rows.append(0)  # no filter
        line = data[start + row * stride + x * 4:start + row * stride + (x + w) * 4]
        for i in range(0, len(line), 4):
            b, g, r = (line[i], line[i + 1], line[i + 2]) if byte_order == 0 else \
                      (line[i + 3], line[i + 2], line[i + 1])
            rows += bytes((r, g, b))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + \
            struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) + \
        chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b"")
    open(out, "wb").write(png)


main()
