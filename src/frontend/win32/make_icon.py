#!/usr/bin/env python3
"""Draws the program's icon: a white up-arrow on a rounded blue square.

Writes ost_server_update.ico (16, 32 and 48 pixels, 32-bit with alpha) next to this
script, or to the path given as the first argument. Standard library only.
"""

import os
import struct
import sys

SIZES = (16, 32, 48)
SUPERSAMPLE = 4  # samples per pixel side, for smooth edges

BLUE_TOP = (40, 120, 215)
BLUE_BOTTOM = (10, 60, 150)
WHITE = (255, 255, 255)


def inside_rounded_square(x, y):
    """Unit coordinates (0..1); a square with rounded corners and a small margin."""
    margin, radius = 0.03, 0.18
    lo, hi = margin + radius, 1.0 - margin - radius
    cx = min(max(x, lo), hi)
    cy = min(max(y, lo), hi)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_arrow(x, y):
    """An up-arrow: a triangular head over a rectangular shaft (y grows downwards)."""
    head_top, head_bottom, head_half = 0.16, 0.52, 0.32
    if head_top <= y <= head_bottom:
        half = head_half * (y - head_top) / (head_bottom - head_top)
        if abs(x - 0.5) <= half:
            return True
    shaft_half, shaft_bottom = 0.12, 0.84
    return head_bottom <= y <= shaft_bottom and abs(x - 0.5) <= shaft_half


def render(size):
    """Rows of (r, g, b, a) pixels, top row first."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            cover = arrow = 0
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    y = (py + (sy + 0.5) / n) / size
                    if inside_rounded_square(x, y):
                        cover += 1
                        if inside_arrow(x, y):
                            arrow += 1
            if cover == 0:
                row.append((0, 0, 0, 0))
                continue
            t = py / max(size - 1, 1)
            blue = tuple(round(a + (b - a) * t) for a, b in zip(BLUE_TOP, BLUE_BOTTOM))
            w = arrow / cover
            rgb = tuple(round(c * (1 - w) + 255 * w) for c in blue)
            row.append(rgb + (round(255 * cover / (n * n)),))
        rows.append(row)
    return rows


def bitmap_entry(size):
    """One icon image: BITMAPINFOHEADER, bottom-up BGRA pixels, 1-bit AND mask."""
    rows = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def icon_file():
    images = [bitmap_entry(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "ost_server_update.ico")
    with open(path, "wb") as f:
        f.write(icon_file())


if __name__ == "__main__":
    main()
