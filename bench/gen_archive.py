#!/usr/bin/env python3
"""Two releases of a KOVELA-like game archive, for the patch benchmark.

An archive: a header, an index (per entry: name, offset, size) and the entries one after
another. Entries are scenes (script text, compressible), images and voices (noise: they are
compressed already). Release B changes some entries in place, inserts some in the middle (every
later offset shifts, and the index changes throughout) and drops some.

usage: gen_archive.py <out folder> <MiB> <seed> [changed inserted dropped]
writes <out>/A/data/update.arc, <out>/B/data/update.arc and <out>/changed/ (the entries of B
that A does not have, one file each: what a perfect patch would carry)
"""
import os
import random
import struct
import sys


def scene(r, n):
    words = [b"chara", b"voice", b"wait", b"bg", b"text", b"se", b"@jump", b"select"]
    out = bytearray()
    while len(out) < n:
        out += b"%s %d " % (r.choice(words), r.randrange(10000))
        if r.random() < 0.1:
            out += b"\r\n"
    return bytes(out[:n])


def entry(r, i):
    kind = r.random()
    if kind < 0.3:
        return b"scene%05d.ks" % i, scene(r, r.randrange(4_000, 120_000))
    if kind < 0.8:
        return b"image%05d.png" % i, r.randbytes(r.randrange(30_000, 900_000))
    return b"voice%05d.ogg" % i, r.randbytes(r.randrange(20_000, 400_000))


def archive(entries):
    index, offset = bytearray(), 0
    head = 16 + len(entries) * 40
    for name, data in entries:
        index += name.ljust(32, b"\0") + struct.pack("<II", head + offset, len(data))
        offset += len(data)
    return b"KVLARC01" + struct.pack("<II", len(entries), 0) + bytes(index) + b"".join(d for _, d in entries)


def main():
    out, mib, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    changed, inserted, dropped = (int(x) for x in (sys.argv[4:7] if len(sys.argv) > 6 else (12, 6, 4)))
    r = random.Random(seed)
    a, total = [], 0
    while total < mib << 20:
        a.append(entry(r, len(a)))
        total += len(a[-1][1])
    b = list(a)
    fresh = []
    for i in r.sample(range(len(b)), changed):
        name, data = b[i]
        new = entry(r, i)[1] if r.random() < 0.5 else data[: len(data) // 2] + r.randbytes(len(data) // 3)
        b[i] = (name, new)
        fresh.append(b[i])
    for k in range(inserted):
        e = entry(r, 90000 + k)
        b.insert(r.randrange(len(b) // 4, 3 * len(b) // 4), e)
        fresh.append(e)
    for i in sorted(r.sample(range(len(b)), dropped), reverse=True):
        if b[i] not in fresh:
            del b[i]
    for release, entries in (("A", a), ("B", b)):
        os.makedirs(os.path.join(out, release, "data"), exist_ok=True)
        with open(os.path.join(out, release, "data", "update.arc"), "wb") as f:
            f.write(archive(entries))
    os.makedirs(os.path.join(out, "changed"), exist_ok=True)
    for n, (name, data) in enumerate(fresh):
        with open(os.path.join(out, "changed", "%02d-%s" % (n, name.decode())), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
