#!/usr/bin/env python3
"""Draws the application icon, a golden key, and writes it as pintool.ico (icon group 128:
32x32 and 16x16 at 4 and at 8 bits per pixel) and as PNG files for the desktop's icon theme.
Run from anywhere; the files land beside this script."""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

GOLD = (232, 176, 0)
DARK = (128, 88, 0)
HOLE = None  # transparent


def shape(u, v):
    """What lies at (u, v) in the unit square: None (nothing), 'edge' or 'body'."""
    # The key lies diagonally, bow at the top left.
    angle = math.radians(-40)
    cu, cv = u - 0.5, v - 0.5
    x = 0.5 + cu * math.cos(angle) - cv * math.sin(angle)
    y = 0.5 + cu * math.sin(angle) + cv * math.cos(angle)
    edge = 0.045
    # Bow: a ring.
    d = math.hypot(x - 0.26, y - 0.5)
    if 0.085 <= d <= 0.23:
        return 'edge' if d < 0.085 + edge or d > 0.23 - edge else 'body'
    # Shaft and bit.
    parts = [(0.45, 0.95, 0.44, 0.56), (0.72, 0.79, 0.56, 0.72), (0.84, 0.95, 0.56, 0.68)]
    for x0, x1, y0, y1 in parts:
        if x0 <= x <= x1 and y0 <= y <= y1:
            inside = min(x - x0, x1 - x, y - y0, y1 - y)
            near_ring = x < 0.47
            return 'edge' if inside < edge and not near_ring else 'body'
    return None


def render(size, samples=4):
    """RGBA pixels, top row first, anti-aliased by supersampling."""
    pixels = []
    for row in range(size):
        line = []
        for col in range(size):
            r = g = b = a = 0
            for sy in range(samples):
                for sx in range(samples):
                    u = (col + (sx + 0.5) / samples) / size
                    v = (row + (sy + 0.5) / samples) / size
                    kind = shape(u, v)
                    if kind is not None:
                        color = DARK if kind == 'edge' else GOLD
                        r, g, b, a = r + color[0], g + color[1], b + color[2], a + 1
            n = samples * samples
            if a == 0:
                line.append((0, 0, 0, 0))
            else:
                line.append((r // a, g // a, b // a, 255 * a // n))
        pixels.append(line)
    return pixels


VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
       (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette256():
    colors = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    colors += [GOLD, DARK]
    colors += [(i * 255 // 37, i * 255 // 37, i * 255 // 37) for i in range(38)]
    return colors[:256]


def nearest(color, palette):
    return min(range(len(palette)),
               key=lambda i: sum((color[k] - palette[i][k]) ** 2 for k in range(3)))


def ico_image(pixels, palette, bits):
    size = len(pixels)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0,
                         len(palette), 0)
    table = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in palette)
    xor_rows, and_rows = [], []
    for line in reversed(pixels):  # bottom-up
        indices = [nearest(p[:3], palette) if p[3] >= 128 else 0 for p in line]
        if bits == 4:
            row = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, size, 2))
        else:
            row = bytes(indices)
        xor_rows.append(row + b'\0' * (-len(row) % 4))
        mask = 0
        mask_bytes = bytearray()
        for i, p in enumerate(line):
            mask = (mask << 1) | (1 if p[3] < 128 else 0)
            if i % 8 == 7:
                mask_bytes.append(mask)
                mask = 0
        and_rows.append(bytes(mask_bytes) + b'\0' * (-len(mask_bytes) % 4))
    return header + table + b''.join(xor_rows) + b''.join(and_rows)


def write_ico(path):
    images = []
    for bits, palette in ((4, VGA), (8, palette256())):
        for size in (32, 16):
            images.append((size, bits, len(palette), ico_image(render(size), palette, bits)))
    offset = 6 + 16 * len(images)
    directory = struct.pack('<HHH', 0, 1, len(images))
    data = b''
    for size, bits, colors, image in images:
        directory += struct.pack('<BBBBHHII', size, size, colors if colors < 256 else 0, 0, 1,
                                 bits, len(image), offset + len(data))
        data += image
    with open(path, 'wb') as out:
        out.write(directory + data)


def write_png(path, size):
    pixels = render(size)
    raw = b''.join(b'\0' + b''.join(bytes(p) for p in line) for line in pixels)

    def chunk(kind, body):
        return (struct.pack('>I', len(body)) + kind + body +
                struct.pack('>I', zlib.crc32(kind + body) & 0xFFFFFFFF))

    png = (b'\x89PNG\r\n\x1a\n' +
           chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)) +
           chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))
    with open(path, 'wb') as out:
        out.write(png)


if __name__ == '__main__':
    write_ico(os.path.join(HERE, 'pintool.ico'))
    for size in (16, 32, 128):
        write_png(os.path.join(HERE, 'icons', f'pintool-{size}.png'), size)
