#!/usr/bin/env python3
"""Draws the program's icon (a green key on a black tile, the window's own colours) and writes
res/ostrel.ico. Plain standard library and integer-exact drawing, so the file is the same bytes on
every machine; run it again only to change the design."""
import struct
import sys

GREEN = (0, 255, 0)
TILE = (16, 16, 16)
# The sizes Windows asks for: caption and taskbar (16, 32) and Explorer's tiles view (48).
SIZES = (16, 32, 48)
# Every frame is a 16-colour bitmap: Windows XP reads no PNG frames, and a key drawn in shades of
# one green needs no more colours. Black, for what lies outside the rounded tile (and is masked
# off), then 15 steps from the tile's grey to the key's green, for the key's soft edges.
STEPS = 15
PALETTE = [(0, 0, 0)] + [
    tuple((TILE[c] * (STEPS - 1 - i) + GREEN[c] * i + (STEPS - 1) // 2) // (STEPS - 1)
          for c in range(3))
    for i in range(STEPS)]
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
    """Each pixel as a palette index, or None where the tile does not cover it (transparent)."""
    rows = []
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
            # Covered at least half: the tile, shaded by how much of it the key covers.
            row.append(1 + (key * (STEPS - 1) * 2 + tile) // (2 * tile)
                       if 2 * tile >= SUPER * SUPER else None)
        rows.append(row)
    return rows


def bmp_image(size):
    pixels = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, len(PALETTE), 0)
    palette = b''.join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    stride = ((size * 4 + 31) // 32) * 4
    body = bytearray()
    for row in reversed(pixels):  # bottom-up
        line = bytearray(stride)
        for x, index in enumerate(row):
            line[x // 2] |= (index or 0) << (4 if x % 2 == 0 else 0)
        body += line
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, index in enumerate(row):
            if index is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + palette + bytes(body) + bytes(mask)


def main(path):
    images = [bmp_image(s) for s in SIZES]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack('<BBBBHHII', size % 256, size % 256, len(PALETTE), 0, 1, 4, len(data),
                           offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'res/ostrel.ico')
