#!/usr/bin/python3
"""Writes a deterministic update tree for the benchmarks.

    gen_payload.py <folder> <MiB>
    gen_payload.py <folder> small

About 480 files in nested folders, like a game's data: voices, music, pictures and a movie
(random bytes: 40 % of the total, which does not compress) and scenario text, tables and
programs (generated text that deflates about 3:1). The same arguments give the same bytes.
Sizes scale with the total; the number of files does not. "small" writes instead 2,000 files
of 4 to 64 KiB (log-uniform, the same 40 % random) in 20 folders, the case where the cost per
file shows. The folder also gets the install.env the updater needs; the title picture is added
by the caller (mkupdater rct).
"""
import os
import random
import sys

INCOMPRESSIBLE = 0.40

# (folder, stem, extension, count, random content?)
LAYOUT = [
    ("data\\voice\\ch{c:02d}", "v{i:04d}", ".ogg", 160, True),
    ("data\\bgm", "bgm{i:02d}", ".ogg", 24, True),
    ("data\\image\\bg", "bg{i:03d}", ".png", 40, True),
    ("data\\image\\ev", "ev{i:03d}", ".png", 40, True),
    ("data\\movie", "opening{i}", ".mpg", 1, True),
    ("data\\scenario\\ch{c:02d}", "scene{i:03d}", ".ks", 120, False),
    ("data\\system", "table{i:02d}", ".dat", 40, False),
    ("data\\script", "macro{i:02d}", ".ks", 48, False),
    ("plugin", "plug{i:02d}", ".dll", 6, False),
]
CHAPTERS = 8

INSTALL_ENV = """// benchmark update
REG_GLOBAL KovelaBench
REG_LOCAL Bench
TITLEBAR KovelaBench
INSTTO Bench
[delfiles_afterinst]
-
[EOF]
"""


def corpus(rng, size):
    """Scenario-like text: lines of words from a Zipf-weighted vocabulary."""
    letters = "abcdefghijklmnopqrstuvwxyz"
    vocab = ["".join(rng.choice(letters) for _ in range(rng.randint(2, 9))) for _ in range(6000)]
    weights = [1.0 / (k + 1) for k in range(len(vocab))]
    words = rng.choices(vocab, weights, k=size // 5)
    out = bytearray()
    line = []
    for w in words:
        line.append(w)
        if len(line) >= rng.randint(6, 14):
            out += ("@" + line[0] + " " + " ".join(line[1:]) + "\r\n").encode()
            line = []
        if len(out) >= size:
            break
    return bytes(out[:size])


def plan(total, rng):
    """[(relative name, size, random?)], the random sizes summing to 40 % of total."""
    entries = []
    for folder, stem, ext, count, noise in LAYOUT:
        for i in range(count):
            c = i % CHAPTERS
            entries.append([folder.format(c=c) + "\\" + stem.format(i=i) + ext, noise])
    budget = {True: int(total * INCOMPRESSIBLE), False: total - int(total * INCOMPRESSIBLE)}
    for kind in (True, False):
        group = [e for e in entries if e[1] is kind]
        # Log-uniform weights: many small files, a few large; the movie counts for a tenth.
        w = [(40.0 if e[0].endswith(".mpg") else 1.0) * 2 ** rng.uniform(0, 9) for e in group]
        s = sum(w)
        sizes = [int(budget[kind] * x / s) for x in w]
        sizes[-1] += budget[kind] - sum(sizes)
        for e, n in zip(group, sizes):
            e.append(n)
    return [(name, size, noise) for name, noise, size in entries]


def small_files(rng):
    """2,000 files of 4 to 64 KiB, two in five random."""
    return [(f"data\\small{i % 20:02d}\\f{i:04d}" + (".ogg" if i % 5 < 2 else ".ks"),
             int(4096 * 2 ** rng.uniform(0, 4)), i % 5 < 2) for i in range(2000)]


def main():
    folder, what = sys.argv[1], sys.argv[2]
    rng = random.Random(64 * 1000 + (0 if what == "small" else int(what)))
    entries = small_files(rng) if what == "small" else plan(int(what) << 20, rng)
    text = corpus(random.Random(7), 8 << 20)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "install.env"), "wb") as f:
        f.write(INSTALL_ENV.encode("ascii"))
    with open(os.path.join(folder, "readme.txt"), "wb") as f:
        f.write(b"benchmark update\r\n")
    for name, size, noise in entries:
        path = os.path.join(folder, *name.split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            if noise:
                f.write(rng.randbytes(size))
                continue
            left = size
            while left:
                at = rng.randrange(len(text))
                n = min(left, len(text) - at)
                f.write(text[at:at + n])
                left -= n
    # Fixed times, so that packing the same tree twice gives the same bytes.
    for root, dirs, files in os.walk(folder):
        for n in files:
            os.utime(os.path.join(root, n), (1700000000, 1700000000))


if __name__ == "__main__":
    main()
