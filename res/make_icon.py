#!/usr/bin/env python3
"""Writes the program's icon file: a blue rounded tile with a white arrow
pointing down onto a bar (an update being laid down).

    make_icon.py OUTPUT.ico

Four images, the sizes and depths the program carries: 256x256 at 24 bits
(stored as PNG, which the shell reads for the large size), 48x48 and 32x32 at
24 bits and 16x16 at 32 bits (stored as DIBs: a bottom-up BITMAPINFOHEADER
image of twice the height, the colour rows followed by a 1-bit AND mask).
Standard library only; the output depends on nothing but this file, so two
builds give the same bytes.
"""
import struct
import sys
import zlib

# (size, bits per pixel, stored as PNG)
IMAGES = [(256, 24, True), (48, 24, False), (32, 24, False), (16, 32, False)]

TILE_TOP = (0x3A, 0x8E, 0xE6)
TILE_BOTTOM = (0x1B, 0x4F, 0xA8)
ARROW = (0xFF, 0xFF, 0xFF)
# 24-bit images have no alpha: pixels outside the tile are masked out and get
# this colour, which shows only where the AND mask is ignored.
BACKGROUND = (0xFF, 0xFF, 0xFF)
SUPERSAMPLE = 4


def inside_rounded_square(x, y, radius):
    """(x, y) in unit coordinates, the tile spanning [0.04, 0.96]."""
    lo, hi = 0.04, 0.96
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_arrow(x, y):
    """A down arrow (shaft and head) above a bar, in unit coordinates."""
    if 0.42 <= x <= 0.58 and 0.18 <= y <= 0.50:
        return True
    if 0.50 <= y <= 0.70:
        half_width = 0.24 * (0.70 - y) / 0.20
        if abs(x - 0.5) <= half_width:
            return True
    return 0.24 <= x <= 0.76 and 0.76 <= y <= 0.84


def render(size):
    """Rows top to bottom of (r, g, b, alpha 0..255), antialiased."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            tile = arrow = 0
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    y = (py + (sy + 0.5) / n) / size
                    if inside_rounded_square(x, y, 0.20):
                        tile += 1
                        if inside_arrow(x, y):
                            arrow += 1
            samples = n * n
            if tile == 0:
                row.append(BACKGROUND + (0,))
                continue
            t = py / max(size - 1, 1)
            base = tuple(round(a + (b - a) * t) for a, b in zip(TILE_TOP, TILE_BOTTOM))
            share = arrow / tile
            colour = tuple(round(b + (w - b) * share) for b, w in zip(base, ARROW))
            row.append(colour + (round(255 * tile / samples),))
        rows.append(row)
    return rows


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def encode_png_rgb(rows, size):
    """Truecolour PNG without alpha (colour type 2, 8 bits a channel)."""
    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter: none
        for r, g, b, a in row:
            if a < 128:
                r, g, b = BACKGROUND
            raw += bytes((r, g, b))
    header = struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header)
            + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + png_chunk(b"IEND", b""))


def encode_dib(rows, size, bits):
    """BITMAPINFOHEADER + colour rows + AND mask, both bottom-up."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    stride = (size * bits // 8 + 3) & ~3
    for row in reversed(rows):
        line = bytearray()
        for r, g, b, a in row:
            if bits == 32:
                line += bytes((b, g, r, a))
            elif a < 128:
                line += bytes(BACKGROUND[::-1])
            else:
                line += bytes((b, g, r))
        colour += line + bytes(stride - len(line))
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:  # set bit: transparent
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(colour) + bytes(mask)


def build_icon():
    blobs = []
    for size, bits, as_png in IMAGES:
        rows = render(size)
        blobs.append(encode_png_rgb(rows, size) if as_png else encode_dib(rows, size, bits))
    out = bytearray(struct.pack("<HHH", 0, 1, len(IMAGES)))
    offset = 6 + 16 * len(IMAGES)
    for (size, bits, _), blob in zip(IMAGES, blobs):
        dim = 0 if size == 256 else size  # 0 stands for 256 in the directory
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_icon.py OUTPUT.ico\n")
        return 2
    data = build_icon()
    with open(argv[1], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
