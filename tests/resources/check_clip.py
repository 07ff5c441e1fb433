#!/usr/bin/env python3
"""Takes the copy animation AVI_FILECOPY (type "AVI") out of a built updater.exe and checks
it with an outside decoder (ffprobe and ffmpeg) and against its own headers:

  - one video stream and nothing else: msrle (BI_RLE8, 8 bits) with the 16 standard Windows
    colours, 17 frames of 260 x 40 at 10 frames a second;
  - every frame run-length coded for real (smaller than the raw frame, ends its bitmap);
  - what the frames show: a magenta background (the top-left pixel too, which the control
    makes transparent), a yellow folder at each edge and nothing yellow in between, and a
    white sheet that travels from the left folder to the right one in an arc.

usage: check_clip.py updater.exe        exit 0 when everything matches, 1 otherwise
"""
import json
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from resources import Resources

CLIP_TYPE, CLIP_NAME = "AVI", "AVI_FILECOPY"
WIDTH, HEIGHT, FRAMES = 260, 40, 17
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
MAGENTA, YELLOW, WHITE = (0xFF, 0x00, 0xFF), (0xFF, 0xFF, 0x00), (0xFF, 0xFF, 0xFF)
EDGE = 45  # the folders stand within this many columns of either edge


def walk(data, start, end, found):
    """Collects the bodies of the chunks in data[start:end] by fourcc, through RIFF and LIST."""
    pos = start
    while pos + 8 <= end:
        fourcc, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        if fourcc in (b"RIFF", b"LIST"):
            walk(data, pos + 12, pos + 8 + size, found)
        else:
            found.setdefault(fourcc, []).append(data[pos + 8:pos + 8 + size])
        pos += 8 + size + (size & 1)


def main(argv):
    failures = []

    def expect(what, actual, wanted):
        if actual != wanted:
            failures.append(f"{what}: found {actual!r}, expected {wanted!r}")

    clip = Resources(argv[1]).data(CLIP_TYPE, CLIP_NAME)
    if clip is None:
        print(f"{CLIP_NAME}: no such resource of type {CLIP_TYPE}")
        return 1
    expect("RIFF form", (clip[:4], clip[8:12]), (b"RIFF", b"AVI "))

    # Our own reading of the headers: the coding and the palette.
    chunks = {}
    walk(clip, 12, len(clip), chunks)
    strf = chunks.get(b"strf", [b""])[0]
    if len(strf) >= 40 + 16 * 4:
        (_, w, h, _, bits, compression, _, _, _, used, _) = struct.unpack_from("<IiiHHIIiiII", strf)
        expect("strf size and depth", (w, h, bits), (WIDTH, HEIGHT, 8))
        expect("strf compression", compression, 1)  # BI_RLE8
        expect("strf colours used", used, 16)
        colours = [(strf[40 + 4 * i + 2], strf[40 + 4 * i + 1], strf[40 + 4 * i]) for i in range(16)]
        expect("palette", colours, PALETTE)
    else:
        failures.append("strf: missing or too short for a 16-colour palette")
    frames = chunks.get(b"00dc", [])
    expect("coded frames", len(frames), FRAMES)
    for n, f in enumerate(frames):
        if len(f) >= WIDTH * HEIGHT or not f.endswith(b"\x00\x01"):
            failures.append(f"frame {n}: {len(f)} bytes, not a finished run-length coded bitmap")

    with tempfile.NamedTemporaryFile(suffix=".avi") as f:
        f.write(clip)
        f.flush()
        path = f.name
        streams = json.loads(subprocess.run(
            ["ffprobe", "-v", "error", "-count_frames", "-show_streams", "-of", "json", path],
            check=True, capture_output=True).stdout)["streams"]
        expect("streams", [s["codec_type"] for s in streams], ["video"])
        v = streams[0]
        expect("codec", v["codec_name"], "msrle")
        expect("size", (v["width"], v["height"]), (WIDTH, HEIGHT))
        expect("frames decoded", int(v["nb_read_frames"]), FRAMES)
        expect("frame rate", v["r_frame_rate"], "10/1")
        raw = subprocess.run(
            ["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
            check=True, capture_output=True).stdout
    expect("decoded bytes", len(raw), FRAMES * WIDTH * HEIGHT * 3)
    if len(raw) != FRAMES * WIDTH * HEIGHT * 3:
        raw = b""

    centres = []
    for n in range(len(raw) // (WIDTH * HEIGHT * 3)):
        base = n * WIDTH * HEIGHT * 3

        def pixel(x, y):
            o = base + (y * WIDTH + x) * 3
            return tuple(raw[o:o + 3])

        pixels = [(x, y, pixel(x, y)) for y in range(HEIGHT) for x in range(WIDTH)]
        expect(f"frame {n} top-left pixel", pixel(0, 0), MAGENTA)
        magenta = sum(1 for _, _, c in pixels if c == MAGENTA)
        if magenta < WIDTH * HEIGHT * 6 // 10:
            failures.append(f"frame {n}: only {magenta} magenta pixels")
        yellow_x = [x for x, _, c in pixels if c == YELLOW]
        left = sum(1 for x in yellow_x if x < EDGE)
        right = sum(1 for x in yellow_x if x >= WIDTH - EDGE)
        if left < 300 or right < 300 or left + right != len(yellow_x):
            failures.append(f"frame {n}: yellow left {left}, right {right}, "
                            f"elsewhere {len(yellow_x) - left - right}")
        white = [(x, y) for x, y, c in pixels if c == WHITE]
        if len(white) < 20:
            failures.append(f"frame {n}: no sheet ({len(white)} white pixels)")
            continue
        centres.append((sum(x for x, _ in white) / len(white), sum(y for _, y in white) / len(white)))

    if len(centres) == FRAMES:
        xs = [x for x, _ in centres]
        ys = [y for _, y in centres]
        if any(b <= a for a, b in zip(xs, xs[1:])):
            failures.append(f"the sheet does not move steadily right: {xs}")
        if not (xs[0] < EDGE and xs[-1] >= WIDTH - EDGE):
            failures.append(f"the sheet goes from x {xs[0]:.0f} to {xs[-1]:.0f}, not folder to folder")
        middle = ys[FRAMES // 2]
        if not (middle + 5 < ys[0] and middle + 5 < ys[-1]):
            failures.append(f"the sheet does not rise in an arc: heights {ys}")

    for f in failures:
        print(f)
    print(f"{CLIP_NAME}: {'FAILED' if failures else 'ok'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
