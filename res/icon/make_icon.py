#!/usr/bin/env python3
"""Draws the updater's application icon and writes it as updater.ico (or to the path given
as the first argument), using nothing but the standard library.

The picture: an open cardboard box with a green arrow pointing down into it, "a delivery
arriving in the game's folder". Two images, 32 x 32 and 16 x 16, each with the 16 colours
of the standard VGA palette (4 bits per pixel) and a transparency mask.

The shapes are described once in a 32-unit square and sampled at each pixel centre, so that
both sizes come from the same drawing; a pixel of a shape whose neighbour lies outside that
shape becomes the shape's outline colour.
"""
import os
import struct
import sys

# The 16 colours every display could show, in the order Windows uses for 4-bit images.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, GRAY, LIME, YELLOW, WHITE, SILVER = 0, 1, 2, 3, 8, 10, 11, 15, 7
TRANSPARENT = None


def in_box_front(x, y):
    return 3.5 <= x <= 28.5 and 16.5 <= y <= 30


def in_box_opening(x, y):
    # The open top seen slightly from above: a band narrower than the front.
    return 5.5 <= x <= 26.5 and 12.5 <= y <= 16.5


def in_left_flap(x, y):
    # Flap folded outwards to the left: a parallelogram leaning away from the box.
    if not 9.5 <= y <= 16.5:
        return False
    t = (16.5 - y) / 7.0
    return 3.5 - 3.0 * t <= x <= 10.5 - 6.0 * t


def in_right_flap(x, y):
    return in_left_flap(32 - x, y)


def in_label(x, y):
    return 7 <= x <= 15 and 21 <= y <= 26


def in_arrow(x, y):
    shaft = 12.5 <= x <= 19.5 and 1 <= y <= 13
    head = 9 <= y <= 21 and abs(x - 16) <= (21 - y) * 0.85
    return shaft or head


# Back to front: (test, fill, outline). The arrow goes last so that it reaches into the box.
LAYERS = [
    (in_left_flap, YELLOW, BLACK),
    (in_right_flap, YELLOW, BLACK),
    (in_box_opening, MAROON, BLACK),
    (in_box_front, OLIVE, BLACK),
    (in_label, WHITE, GRAY),
    (in_arrow, LIME, GREEN),
]


def draw(size):
    """Rows of palette indices (None = transparent), top row first."""
    unit = 32.0 / size

    def inside(test, px, py):
        if not (0 <= px < size and 0 <= py < size):
            return False
        return test((px + 0.5) * unit, (py + 0.5) * unit)

    rows = [[TRANSPARENT] * size for _ in range(size)]
    for test, fill, outline in LAYERS:
        for py in range(size):
            for px in range(size):
                if not inside(test, px, py):
                    continue
                edge = any(not inside(test, px + dx, py + dy)
                           for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
                rows[py][px] = outline if edge else fill
    # A lighter tape line across the front, below the opening.
    for py in range(size):
        for px in range(size):
            y = (py + 0.5) * unit
            x = (px + 0.5) * unit
            if rows[py][px] == OLIVE and 18.5 <= y <= 19.5 + unit * 0.5 and not in_arrow(x, y):
                rows[py][px] = YELLOW
    return rows


def dib(rows):
    """BITMAPINFOHEADER, palette, 4-bit colour rows and the 1-bit mask, bottom row first."""
    size = len(rows)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, c in enumerate(row):
            if c is TRANSPARENT:
                bits[x // 8] |= 0x80 >> (x % 8)
                c = 0
            line[x // 2] |= c << 4 if x % 2 == 0 else c
        xor += line
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def ico(images):
    """An .ico file with one directory entry per (size, dib) pair."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset + len(body))
        body += data
    return out + body


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "updater.ico")
    images = [(size, dib(draw(size))) for size in (32, 16)]
    with open(path, "wb") as f:
        f.write(ico(images))


if __name__ == "__main__":
    main()
