#!/usr/bin/env python3
"""Draws the example title picture (256 x 256): a dusk sky with a striped sun, two ranges
of mountains, a lake with the sun's reflection, pines on the banks and a thin frame.

Only flat colours and hard edges, so that the run-coded title format compresses it well.
Writes title.png next to this script (or to the path given as the first argument) using
nothing but the standard library.
"""
import math
import os
import struct
import sys
import zlib

W = H = 256
HORIZON = 168


def lerp(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def gradient(stops, t):
    """Colour at t in [0, 1] along (position, colour) stops."""
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            return lerp(c0, c1, (t - p0) / (p1 - p0) if p1 > p0 else 0)
    return stops[-1][1]


def band(t, steps):
    """Quantises t to a number of flat bands."""
    return min(steps - 1, int(t * steps)) / (steps - 1)


SKY = [(0.0, (18, 14, 52)), (0.45, (72, 32, 96)), (0.75, (190, 70, 90)), (1.0, (250, 160, 90))]
SUN = [(0.0, (255, 236, 140)), (0.6, (255, 150, 70)), (1.0, (235, 70, 110))]
WATER = [(0.0, (40, 30, 80)), (1.0, (12, 10, 36))]
FAR_RANGE = (92, 48, 110)
NEAR_RANGE = (48, 26, 70)
SNOW = (236, 200, 220)
PINE = (14, 12, 30)
FRAME = (230, 180, 90)


def ridge(x, peaks, base):
    """Height of a range of straight-sided peaks (centre, height, half width) at x."""
    top = base
    for cx, h, hw in peaks:
        d = abs(x - cx)
        if d < hw:
            top = min(top, base - h * (1 - d / hw))
    return top


FAR_PEAKS = [(20, 50, 50), (70, 78, 60), (140, 40, 45), (196, 70, 55), (250, 45, 40)]
NEAR_PEAKS = [(0, 40, 40), (46, 28, 36), (104, 44, 42), (170, 24, 30), (226, 50, 46)]


def draw():
    img = [[(0, 0, 0)] * W for _ in range(H)]

    # Sky in flat bands, darkest at the top.
    for y in range(HORIZON):
        c = gradient(SKY, band(y / (HORIZON - 1), 24))
        for x in range(W):
            img[y][x] = c

    # A few stars in the upper sky: fixed pseudo-random positions, some with a cross.
    seed = 12345
    for i in range(40):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        x = 8 + seed % (W - 16)
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        y = 8 + seed % 70
        img[y][x] = (255, 250, 220) if i % 3 else (200, 200, 255)
        if i % 7 == 0:
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                img[y + dy][x + dx] = (150, 140, 200)

    # The sun: a disc in horizontal colour bands, cut by widening gaps in its lower half.
    cx, cy, r = 128, 122, 46
    for y in range(cy - r, HORIZON):
        t = (y - (cy - r)) / (2 * r)
        if y > cy - 16:
            phase = (y - (cy - 16)) % 8
            if phase < 1 + (y - (cy - 16)) // 10:
                continue
        c = gradient(SUN, band(t, 10))
        half = math.sqrt(max(0, r * r - (y - cy) ** 2))
        for x in range(int(cx - half), int(cx + half) + 1):
            img[y][x] = c

    # Far range with snowy tops, then the near range in front.
    for x in range(W):
        top = int(ridge(x, FAR_PEAKS, HORIZON))
        for y in range(top, HORIZON):
            img[y][x] = SNOW if y < HORIZON - 62 else FAR_RANGE
    for x in range(W):
        top = int(ridge(x, NEAR_PEAKS, HORIZON))
        for y in range(top, HORIZON):
            img[y][x] = NEAR_RANGE

    # Lake: banded water and the sun's reflection as shrinking strokes.
    for y in range(HORIZON, H):
        c = gradient(WATER, band((y - HORIZON) / (H - HORIZON - 1), 8))
        for x in range(W):
            img[y][x] = c
    for i, y in enumerate(range(HORIZON + 3, H - 20, 5)):
        half = max(4, 40 - i * 3)
        c = gradient(SUN, min(1.0, 0.3 + i * 0.06))
        for x in range(cx - half, cx + half + 1):
            img[y][x] = c
            img[y + 1][x] = c

    # Pines on both banks: stacked triangles on a trunk.
    def pine(px, base, size):
        for tier in range(3):
            top = base - size - tier * size // 2
            for y in range(top, base - tier * size // 2):
                half = (y - top) * 0.45
                for x in range(int(px - half), int(px + half) + 1):
                    if 0 <= x < W:
                        img[y][x] = PINE
        for y in range(base, base + size // 3):
            for x in range(px - 1, px + 2):
                img[y][x] = PINE

    for px, size in ((14, 26), (34, 20), (52, 14), (206, 16), (226, 24), (246, 30)):
        pine(px, H - 22 - size // 4, size)
    for y in range(H - 22, H):
        for x in range(W):
            if x < 70 or x > 190:
                img[y][x] = PINE

    # Frame: a thin gold line with small diamonds in the corners.
    for i in range(W):
        for d in (3, W - 4):
            img[d][i] = FRAME
            img[i][d] = FRAME
    for ccx, ccy in ((3, 3), (W - 4, 3), (3, H - 4), (W - 4, H - 4)):
        for dy in range(-4, 5):
            for dx in range(-4, 5):
                if abs(dx) + abs(dy) <= 4 and 0 <= ccx + dx < W and 0 <= ccy + dy < H:
                    img[ccy + dy][ccx + dx] = FRAME
    return img


def write_png(path, img):
    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in img)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "title.png")
    write_png(out, draw())
