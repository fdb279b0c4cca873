#!/usr/bin/env python3
"""Draws the program's icon (a green key on a black tile, the window's own colours) and writes
res/ostrel.ico. Plain standard library and integer-exact drawing, so the file is the same bytes on
every machine; run it again only to change the design."""
import struct
import sys
import zlib

GREEN = (0, 255, 0)
TILE = (16, 16, 16)
# The sizes Windows asks for: caption and taskbar (16, 32) and Explorer's icon view (48).
SIZES = (16, 32, 48)
# Images this size and larger are stored as PNG (Windows Vista and later read PNG icon images):
# a fraction of the uncompressed bitmap. The smallest stays a bitmap, which every reader takes.
PNG_FROM = 32
SUPER = 4  # samples per pixel edge


def inside_tile(x, y):
    r = 0.18  # rounded corners
    cx = min(max(x, r), 1 - r)
    cy = min(max(y, r), 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def inside_key(x, y):
    # bow: a ring on the left
    dx, dy = x - 0.32, y - 0.5
    d2 = dx * dx + dy * dy
    if 0.09 ** 2 <= d2 <= 0.21 ** 2:
        return True
    # shaft to the right
    if 0.5 <= x <= 0.88 and 0.45 <= y <= 0.56:
        return True
    # two teeth below the shaft
    if 0.72 <= x <= 0.79 and 0.56 <= y <= 0.70:
        return True
    if 0.82 <= x <= 0.88 and 0.56 <= y <= 0.66:
        return True
    return False


def render(size):
    rows = []
    n = SUPER * SUPER
    for py in range(size):
        row = []
        for px in range(size):
            tile = key = 0
            for sy in range(SUPER):
                for sx in range(SUPER):
                    x = (px + (sx + 0.5) / SUPER) / size
                    y = (py + (sy + 0.5) / SUPER) / size
                    if inside_tile(x, y):
                        tile += 1
                        if inside_key(x, y):
                            key += 1
            alpha = round(255 * tile / n)
            if tile:
                t = key / tile
                colour = tuple(round(TILE[i] * (1 - t) + GREEN[i] * t) for i in range(3))
            else:
                colour = (0, 0, 0)
            row.append(colour + (alpha,))
        rows.append(row)
    return rows


def bmp_image(size):
    pixels = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    body = bytearray()
    for row in reversed(pixels):  # bottom-up
        for r, g, b, a in row:
            body += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(body) + bytes(mask)


def png_chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack(
        '>I', zlib.crc32(kind + data) & 0xFFFFFFFF)


def png_image(size):
    raw = bytearray()
    for row in render(size):  # top-down, each row after filter byte 0 (none)
        raw.append(0)
        for pixel in row:
            raw += bytes(pixel)
    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA, not interlaced
    return (b'\x89PNG\r\n\x1a\n' + png_chunk(b'IHDR', header) +
            png_chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + png_chunk(b'IEND', b''))


def main(path):
    images = [png_image(s) if s >= PNG_FROM else bmp_image(s) for s in SIZES]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'res/ostrel.ico')
