#!/usr/bin/env python3
"""Patch updates against their anchors: mkupdater build --base --patches on two releases of a
KOVELA-like archive (bench/gen_archive.py), against the changed entries deflated alone and
against xdelta3 -9; build time and mkupdater's peak memory, and how that grows with the archive.
Best of ROUNDS alternating runs (PATCH_ROUNDS, default 3). Writes bench/PATCH.md.

usage: patch_bench.py   (after make native; the stub is build/win32/updater.exe when built)
"""
import os
import shutil
import subprocess
import sys
import zlib

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
tool = os.path.join(root, "build", "native", "mkupdater")
work = os.path.join(root, "build", "bench", "patch")
rounds = int(os.environ.get("PATCH_ROUNDS", "3"))
variants = [  # name, MiB, seed, changed, inserted, dropped
    ("110 MiB, 12 changed, 6 inserted, 4 dropped", 110, 1, 12, 6, 4),
    ("110 MiB, 40 changed, 20 inserted, 10 dropped", 110, 2, 40, 20, 10),
    ("32 MiB, 4 changed, 2 inserted, 2 dropped", 32, 3, 4, 2, 2),
]
growth = [32, 110, 330]


NOTES = """How to read it: "build" is the whole `mkupdater build --base --patches` (both files hashed,
the base indexed, the new file scanned, the other records packed); xdelta3 -9 makes only the
delta. The changed entries deflated alone are each new or changed entry of B compressed with
zlib -9 on its own; a patch can be smaller, since an entry changed in part keeps what it shares
with A. Memory: the index holds 8 bytes per anchor of the base (one in 64 bytes, so an eighth of
the base's size, and at most 128 MiB (160 MiB reserved), which a base of 1 GiB reaches and which holds from there
up to the 2 GiB limit); both files are read through 4 MiB windows; the patch being made is held
until it is written (a patch above 256 MiB is given up for the whole file). So a 2 GiB archive
builds in about 128 + 8 MiB plus its patch. The updater's side (applying under Wine against
the whole file, its flat memory) is measured once the staging applies patches."""


def timed(cmd):
    """Seconds and peak resident KiB of one run."""
    r = subprocess.run(["/usr/bin/time", "-f", "%e %M"] + cmd, capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), r.stderr))
    secs, kib = r.stderr.strip().splitlines()[-1].split()
    return float(secs), int(kib)


def release(folder):
    shutil.copy(os.path.join(root, "examples", "update", "install.env"), folder)
    subprocess.run([tool, "rct", "encode", os.path.join(root, "examples", "title", "title.png"),
                    os.path.join(folder, "insttscr.rct")], check=True, capture_output=True)


def stub():
    exe = os.path.join(root, "build", "win32", "updater.exe")
    if os.path.exists(exe):
        return exe
    path = os.path.join(work, "stub.exe")
    with open(path, "wb") as f:
        f.write(b"MZ")
    return path


def generate(name, mib, seed, changed=12, inserted=6, dropped=4):
    out = os.path.join(work, name)
    if not os.path.exists(os.path.join(out, "changed")):
        subprocess.run([sys.executable, os.path.join(root, "bench", "gen_archive.py"), out, str(mib), str(seed),
                        str(changed), str(inserted), str(dropped)], check=True)
        release(os.path.join(out, "A"))
        release(os.path.join(out, "B"))
    return out


def build(folder):
    exe = os.path.join(folder, "u.exe")
    secs, kib = timed([tool, "build", "--quiet", "--stub", stub(), "--out", exe, "--base",
                       os.path.join(folder, "A"), "--patches", os.path.join(folder, "B")])
    listing = subprocess.run([tool, "list", exe], capture_output=True, text=True, check=True).stdout
    lines = [l.split("\t") for l in listing.splitlines() if l.startswith(("p\t", "f\t"))]
    arc = [l for l in lines if l[4].endswith("update.arc")][0]
    return secs, kib, arc[0], int(arc[2])


def xdelta(folder):
    a, b = (os.path.join(folder, r, "data", "update.arc") for r in "AB")
    out = os.path.join(folder, "x.vcdiff")
    secs, _ = timed(["xdelta3", "-9", "-f", "-e", "-s", a, b, out])
    return secs, os.path.getsize(out)


def changed_alone(folder):
    d = os.path.join(folder, "changed")
    return sum(len(zlib.compress(open(os.path.join(d, n), "rb").read(), 9)) for n in os.listdir(d))


def load():
    return open("/proc/loadavg").read().split()[0]


def main():
    os.makedirs(work, exist_ok=True)
    rows, loads = [], [load()]
    for i, (name, mib, seed, c, ins, d) in enumerate(variants):
        folder = generate("v%d" % i, mib, seed, c, ins, d)
        best_build = best_x = None
        for _ in range(rounds):
            secs, kib, kind, packed = build(folder)
            xs, xsize = xdelta(folder)
            best_build = min(best_build or (secs, kib), (secs, kib))
            best_x = min(best_x or xs, xs)
        alone = changed_alone(folder)
        size = os.path.getsize(os.path.join(folder, "B", "data", "update.arc"))
        rows.append((name, size, kind, packed, alone, xsize, best_build[0], best_x, best_build[1]))
        loads.append(load())
    mem = []
    for mib in growth:
        folder = generate("g%d" % mib, mib, 10 + mib)
        secs, kib, _, _ = build(folder)
        mem.append((mib, secs, kib))
        loads.append(load())

    out = ["# Patch updates: payload, build time and memory", "",
           "`python3 bench/patch_bench.py` (bench/gen_archive.py makes the archives: scenes, images, "
           "voices; release B changes entries in place, inserts some in the middle and drops some). "
           "Best of %d alternating runs; machine: %d cores, load average during the runs %s." %
           (rounds, os.cpu_count(), " / ".join(loads)), "",
           "| archive | size of B | record | patch payload | changed entries deflated alone | ratio (goal <= 1.15) "
           "| xdelta3 -9 | ratio (goal <= 1.0) | build | xdelta3 -9 time | ratio (goal <= 2.0) | peak memory |",
           "|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for name, size, kind, packed, alone, xsize, bt, xt, kib in rows:
        out.append("| %s | %.1f MB | %s | %.2f MB | %.2f MB | %.2f | %.2f MB | %.2f | %.2f s | %.2f s | %.2f | %d MiB |" % (
            name, size / 1e6, "patch" if kind == "p" else "whole", packed / 1e6, alone / 1e6, packed / alone,
            xsize / 1e6, packed / xsize, bt, xt, bt / xt, kib // 1024))
    out += ["", "Peak memory of `mkupdater build --base --patches` by archive size (12 changed, 6 inserted, "
            "4 dropped):", "", "| archive | build | peak memory |", "|---|---|---|"]
    for mib, secs, kib in mem:
        out.append("| %d MiB | %.2f s | %d MiB |" % (mib, secs, kib // 1024))
    out += ["", NOTES]
    with open(os.path.join(root, "bench", "PATCH.md"), "w") as f:
        f.write("\n".join(out) + "\n")
    print("\n".join(out))


if __name__ == "__main__":
    main()
