#!/usr/bin/env python3
"""Draws the copy animation of the progress window and writes it as an RLE8 AVI.

17 frames of 260 x 40 pixels, 10 frames a second: a sheet of paper flies in an arc from
a yellow folder at the left edge into a yellow folder at the right edge. The background
is magenta; the animation control takes the top-left pixel of the first frame as its
transparent colour, so that pixel must stay background in every frame.

usage: avigen.py OUTPUT.avi
"""

import math
import struct
import sys

WIDTH, HEIGHT, FRAMES, FPS = 260, 40, 17, 10

# The 16 standard Windows colours, in their usual palette order (R, G, B).
PALETTE = (
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
)
BLACK, OLIVE, SILVER, GRAY, YELLOW, MAGENTA, WHITE = 0, 3, 7, 8, 11, 13, 15

FOLDER_W, FOLDER_H = 40, 27
FOLDER_TOP = HEIGHT - 1 - FOLDER_H  # both folders stand on the bottom row
LEFT_FOLDER_X, RIGHT_FOLDER_X = 1, WIDTH - 1 - FOLDER_W
PAPER_W, PAPER_H = 13, 16


class Canvas:
    def __init__(self):
        self.px = [[MAGENTA] * WIDTH for _ in range(HEIGHT)]

    def fill(self, x0, y0, x1, y1, colour):
        """Fills the rectangle with corners (x0, y0) and (x1, y1), both inclusive."""
        for y in range(max(y0, 0), min(y1, HEIGHT - 1) + 1):
            for x in range(max(x0, 0), min(x1, WIDTH - 1) + 1):
                self.px[y][x] = colour

    def box(self, x0, y0, x1, y1, fill, edge=BLACK):
        self.fill(x0, y0, x1, y1, edge)
        self.fill(x0 + 1, y0 + 1, x1 - 1, y1 - 1, fill)


def folder_back(c, x):
    top = FOLDER_TOP
    c.box(x + 2, top, x + 15, top + 4, YELLOW)  # tab
    c.box(x, top + 3, x + FOLDER_W - 1, top + FOLDER_H, YELLOW)


def folder_front(c, x):
    # The open front flap: the paper goes behind it on its way in or out.
    top = FOLDER_TOP + 10
    c.box(x, top, x + FOLDER_W - 1, FOLDER_TOP + FOLDER_H, YELLOW)
    c.fill(x + 1, top + 1, x + FOLDER_W - 2, top + 1, OLIVE)


def paper(c, cx, cy):
    x0, y0 = cx - PAPER_W // 2, cy - PAPER_H // 2
    c.box(x0, y0, x0 + PAPER_W - 1, y0 + PAPER_H - 1, WHITE, GRAY)
    c.fill(x0 + PAPER_W - 4, y0 + 1, x0 + PAPER_W - 2, y0 + 3, SILVER)  # turned corner
    for line in range(4):
        y = y0 + 4 + 3 * line
        c.fill(x0 + 2, y, x0 + PAPER_W - (4 if line == 3 else 3), y, BLACK)


def paper_centre(frame):
    """Centre of the sheet: from the left folder's mouth up over the middle and down into
    the right folder's mouth."""
    t = frame / (FRAMES - 1)
    start = LEFT_FOLDER_X + FOLDER_W // 2
    end = RIGHT_FOLDER_X + FOLDER_W // 2
    cx = round(start + (end - start) * t)
    cy = round(FOLDER_TOP + 8 - 10 * math.sin(math.pi * t))
    return cx, cy


def draw_frame(frame):
    c = Canvas()
    for x in (LEFT_FOLDER_X, RIGHT_FOLDER_X):
        folder_back(c, x)
    paper(c, *paper_centre(frame))
    for x in (LEFT_FOLDER_X, RIGHT_FOLDER_X):
        folder_front(c, x)
    assert c.px[0][0] == MAGENTA
    return c.px


# ---- RLE8 --------------------------------------------------------------------------------
# Encoded mode: (count, index). Escapes: (0, 0) end of line, (0, 1) end of bitmap, (0, n)
# for n >= 3: n literal indices padded to a 16-bit boundary.

def run_length(row, i):
    n = 1
    while i + n < len(row) and n < 255 and row[i + n] == row[i]:
        n += 1
    return n


def encode_row(row):
    out = bytearray()
    i = 0
    while i < len(row):
        n = run_length(row, i)
        if n >= 3:
            out += bytes((n, row[i]))
            i += n
            continue
        # Gather literals up to the next run worth encoding.
        j = i
        while j < len(row) and j - i < 255 and run_length(row, j) < 3:
            j += 1
        lit = row[i:j]
        if len(lit) < 3:  # too short for absolute mode: one or two single runs
            for v in lit:
                out += bytes((1, v))
        else:
            out += bytes((0, len(lit))) + bytes(lit)
            if len(lit) % 2:
                out.append(0)
        i = j
    return out


def encode_rle8(pixels):
    """Bottom-up rows, an end of line after each but the last, which ends the bitmap."""
    out = bytearray()
    rows = list(reversed(pixels))
    for n, row in enumerate(rows):
        out += encode_row(row)
        out += b"\x00\x01" if n == len(rows) - 1 else b"\x00\x00"
    return bytes(out)


# ---- AVI ---------------------------------------------------------------------------------

def chunk(fourcc, data):
    pad = b"\x00" if len(data) % 2 else b""
    return fourcc + struct.pack("<I", len(data)) + data + pad


def riff_list(kind, fourcc, body):
    return kind + struct.pack("<I", len(body) + 4) + fourcc + body


def build_avi(frames):
    biggest = max(len(f) for f in frames)
    biggest += biggest % 2
    avih = struct.pack("<14I", 1000000 // FPS, biggest * FPS, 0,
                       0x10,  # AVIF_HASINDEX
                       len(frames), 0, 1, biggest, WIDTH, HEIGHT, 0, 0, 0, 0)
    strh = (b"vids" + b"RLE " +
            struct.pack("<IHHIIIIIIiI", 0, 0, 0, 0, 1, FPS, 0, len(frames), biggest, -1, 0) +
            struct.pack("<4h", 0, 0, WIDTH, HEIGHT))
    strf = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8,
                       1,  # BI_RLE8
                       biggest, 0, 0, len(PALETTE), 0)
    strf += b"".join(struct.pack("<4B", b, g, r, 0) for r, g, b in PALETTE)
    hdrl = riff_list(b"LIST", b"hdrl",
                     chunk(b"avih", avih) +
                     riff_list(b"LIST", b"strl", chunk(b"strh", strh) + chunk(b"strf", strf)))

    movi_body = bytearray()
    index = bytearray()
    for f in frames:
        offset = 4 + len(movi_body)  # from the 'movi' tag
        movi_body += chunk(b"00dc", f)
        index += b"00dc" + struct.pack("<III", 0x10, offset, len(f))  # AVIIF_KEYFRAME
    movi = riff_list(b"LIST", b"movi", bytes(movi_body))
    return riff_list(b"RIFF", b"AVI ", hdrl + movi + chunk(b"idx1", bytes(index)))


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    frames = [encode_rle8(draw_frame(n)) for n in range(FRAMES)]
    data = build_avi(frames)
    with open(argv[1], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
