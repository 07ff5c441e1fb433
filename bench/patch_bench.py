#!/usr/bin/env python3
"""Patch updates against their anchors: mkupdater build --base on two releases of a KOVELA-like
archive (bench/gen_archive.py), against the changed entries deflated alone and against
xdelta3 -9; build time and mkupdater's peak memory, and how that grows with the archive. Then,
under Wine, the real updater applying the patch to release A installed before, against an
update that carries the whole file (built with --no-patches), and its peak working set by the
archive's size. Best of ROUNDS alternating runs (PATCH_ROUNDS, default 3). The goals are in
the table at the top of bench/run.py. Writes bench/PATCH.md.

usage: patch_bench.py   (after make native; the stub is the updater.exe of the Windows build
                         below; the Wine part needs wine_bench.exe and updater.exe of build/win32, or of
                         build/win64 where this machine runs no 32-bit code; BENCH_WIN32 names
                         another build folder; PATCH_WINE=0 skips it)
"""
import os
import shutil
import subprocess
import sys
import zlib

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
if "BENCH_WIN32" not in os.environ:  # the Windows build this machine can run
    bits = subprocess.run([os.path.join(root, "scripts", "win-bits.sh")], capture_output=True, text=True).stdout
    os.environ["BENCH_WIN32"] = os.path.join(root, "build", "win64" if bits.strip() == "64" else "win32")
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run import GOALS  # noqa: E402
import wine  # noqa: E402

tool = os.path.join(root, "build", "native", "mkupdater")
work = os.path.join(root, "build", "bench", "patch")
rounds = int(os.environ.get("PATCH_ROUNDS", "3"))
wine_sizes = [16, 64, 256]  # MiB of the archive the updater patches under Wine
WINE_ENV = """// patch benchmark
REG_GLOBAL KovelaBench
REG_LOCAL Bench
TITLEBAR KovelaBench
INSTTO Bench
[EOF]
"""
variants = [  # name, MiB, seed, changed, inserted, dropped
    ("110 MiB, 12 changed, 6 inserted, 4 dropped", 110, 1, 12, 6, 4),
    ("110 MiB, 40 changed, 20 inserted, 10 dropped", 110, 2, 40, 20, 10),
    ("32 MiB, 4 changed, 2 inserted, 2 dropped", 32, 3, 4, 2, 2),
]
growth = [32, 110, 330]


NOTES = """How to read it: "build" is the whole `mkupdater build --base` (both files hashed,
the base indexed, the new file scanned, the other records packed); xdelta3 -9 makes only the
delta. The changed entries deflated alone are each new or changed entry of B compressed with
zlib -9 on its own; a patch can be smaller, since an entry changed in part keeps what it shares
with A. Memory: the index holds 8 bytes per anchor of the base (one in 64 bytes, so an eighth of
the base's size, and at most 128 MiB (160 MiB reserved), which a base of 1 GiB reaches and which holds from there
up to the 2 GiB limit); both files are read through 4 MiB windows; the patch being made is held
until it is written (a patch above 256 MiB is given up for the whole file). So a 2 GiB archive
builds in about 128 + 8 MiB plus its patch."""

WINE_NOTES = """Under Wine: "update" is the posted click on the confirmation's "はい" to the finish dialog
(bench/win32/wine_bench.cpp), so it holds the whole staged update: the installed archive read
and checked, the new one written beside it and checked, the swap. The install folder holds
release A (a fresh copy before every run) on a tmpfs drive; the whole-file update is the same
release built with `--no-patches`. Peak working set: PeakWorkingSetSize when the finish dialog
shows (under Wine the process's VmHWM).

Where the patch's time goes: it hashes the installed file whole before it writes anything (so a
file of another release changes nothing) and the result whole after (so a damaged patch never
lands): SHA-256 over twice the file's size, through the system's CryptoAPI, which under Wine
is Wine's own (roughly 250 MB/s on this machine). An updater built with those hash calls taken
out (once, 2026-12-07, best of 3 under a load of 3 to 4.6) applied the patches in 0.21 / 0.44 /
0.68 s against 0.16 / 0.38 / 1.00 s for the whole files at 16 / 64 / 256 MiB: copying out of
the installed file costs about what inflating the whole file does; the checks are the rest."""


def timed(cmd):
    """Seconds and peak resident KiB of one run."""
    r = subprocess.run(["/usr/bin/time", "-f", "%e %M"] + cmd, capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), r.stderr))
    secs, kib = r.stderr.strip().splitlines()[-1].split()
    return float(secs), int(kib)


def release(folder):
    for n in ("install.env", "readme.txt"):
        shutil.copy(os.path.join(root, "examples", "update", n), folder)
    subprocess.run([tool, "rct", "encode", os.path.join(root, "examples", "title", "title.png"),
                    os.path.join(folder, "insttscr.rct")], check=True, capture_output=True)


def stub():
    exe = os.path.join(wine.WIN32, "updater.exe")
    if not os.path.exists(exe):
        sys.exit("patch_bench: %s is missing; build it first" % exe)
    return exe


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
                       os.path.join(folder, "A"), os.path.join(folder, "B")])
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


def wine_release(folder, source):
    """A release for the Wine runs: the generated archive (linked) with the bench's install.env."""
    os.makedirs(os.path.join(folder, "data"), exist_ok=True)
    with open(os.path.join(folder, "install.env"), "w") as f:
        f.write(WINE_ENV)
    shutil.copy2(os.path.join(source, "insttscr.rct"), folder)
    arc = os.path.join(folder, "data", "update.arc")
    if not os.path.exists(arc):
        os.link(os.path.join(source, "data", "update.arc"), arc)


def wine_updaters(mib):
    """Release A's folder and B's archive, and the patch and whole-file updaters from A to B."""
    folder = generate("w%d" % mib, mib, 20 + mib)
    for r in "AB":
        wine_release(os.path.join(folder, "wine", r), os.path.join(folder, r))
    a, b = (os.path.join(folder, "wine", r) for r in "AB")
    exes = {}
    for kind, extra in (("patch", []), ("whole", ["--no-patches"])):
        exes[kind] = os.path.join(folder, "wine-%s.exe" % kind)
        subprocess.run([tool, "build", "--quiet", "--stub", os.path.join(wine.WIN32, "updater.exe"), "--out",
                        exes[kind], "--base", a] + extra + [b], check=True, capture_output=True)
    return a, os.path.join(b, "data", "update.arc"), exes


def wine_apply():
    """{(kind, MiB): [{extract_ms, peak_ws_kib}]} of patch and whole-file updates under Wine, and
    the load averages seen."""
    for f in ("updater.exe", "wine_bench.exe"):
        if not os.path.exists(os.path.join(wine.WIN32, f)):
            sys.exit("patch_bench: %s is missing; build it first" % os.path.join(wine.WIN32, f))
    made = {mib: wine_updaters(mib) for mib in wine_sizes}
    subprocess.run([os.path.join(root, "scripts", "wine-prefix.sh"), wine.PREFIX], check=True,
                   env=dict(os.environ, WINEPREFIX=wine.PREFIX))
    target, _ = wine.mount_tmpfs()
    try:
        for drive in wine.DRIVES:  # T: the install folders, C: the temp folder
            os.makedirs(wine.unix_of(drive), exist_ok=True)
        first = made[wine_sizes[0]][2]["patch"]
        plan = [("warm-up", ["startup", wine.winpath(first), "C:\\bench\\temp", "1"])]
        for r in range(rounds):
            step = []
            for mib, (a, _, exes) in made.items():
                for kind, exe in exes.items():
                    dest = "%s-%d" % (kind, mib)
                    step.append([("seed", ["cp", a, wine.unix_of("tmpfs", dest)]),
                                 (dest, ["updater", wine.winpath(exe), "T:\\bench\\" + dest, "C:\\bench\\temp",
                                         "1", "kept"])])
            for one in (step if r % 2 == 0 else reversed(step)):
                plan += one
        results, loads = wine.wine_session(plan)
        for mib, (_, b, exes) in made.items():
            for kind in exes:
                got = wine.unix_of("tmpfs", "%s-%d" % (kind, mib), "data", "update.arc")
                if not wine.filecmp.cmp(got, b, shallow=False):
                    sys.exit("patch_bench: the %s update of %d MiB under Wine did not give release B" % (kind, mib))
    finally:
        for drive in wine.DRIVES:
            shutil.rmtree(wine.unix_of(drive), ignore_errors=True)
        wine.unmount_tmpfs(target)
    return {(k, mib): results["%s-%d" % (k, mib)] for mib in wine_sizes for k in ("patch", "whole")}, loads


def goal(key, ratio):
    sense, limit = GOALS[key]
    ok = ratio <= limit if sense == "<=" else ratio >= limit
    return "%.2f (goal %s %.2f: %s)" % (ratio, sense, limit, "met" if ok else
                                         "MISSED by %.0f %%" % (abs(ratio / limit - 1) * 100))


def wine_table(runs, loads):
    best = lambda k, mib, key: min(r[key] for r in runs[(k, mib)])  # noqa: E731
    out = ["", "Applying under Wine: the patch update against the whole-file update (best of %d alternating "
           "runs; load average during them %.2f to %.2f):" % (rounds, min(loads), max(loads)), "",
           "| archive | update, patch | update, whole file | ratio | peak working set, patch | peak working set, "
           "whole file |", "|---|---|---|---|---|---|"]
    for mib in wine_sizes:
        p, w = best("patch", mib, "extract_ms"), best("whole", mib, "extract_ms")
        out.append("| %d MiB | %.2f s | %.2f s | %s | %.1f MiB | %.1f MiB |" % (
            mib, p / 1000, w / 1000, goal("Wine patch update / whole-file update", p / w),
            best("patch", mib, "peak_ws_kib") / 1024, best("whole", mib, "peak_ws_kib") / 1024))
    lo, hi = (best("patch", m, "peak_ws_kib") for m in (wine_sizes[0], wine_sizes[-1]))
    out += ["", "Peak working set of the patch update, %d MiB / %d MiB: %s" % (
        wine_sizes[-1], wine_sizes[0], goal("Wine patch update peak working set, largest / smallest", hi / lo)),
        "", WINE_NOTES]
    return out


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
           "| archive | size of B | record | patch payload | changed entries deflated alone | ratio (goal %s) "
           "| xdelta3 -9 | ratio (goal %s) | build | xdelta3 -9 time | ratio (goal %s) | peak memory |" % tuple(
               "%s %.2f" % GOALS[k] for k in ("patch payload / changed entries deflated alone",
                                             "patch payload / xdelta3 -9", "patch build time / xdelta3 -9")),
           "|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for name, size, kind, packed, alone, xsize, bt, xt, kib in rows:
        out.append("| %s | %.1f MB | %s | %.2f MB | %.2f MB | %.2f | %.2f MB | %.2f | %.2f s | %.2f s | %.2f | %d MiB |" % (
            name, size / 1e6, "patch" if kind == "p" else "whole", packed / 1e6, alone / 1e6, packed / alone,
            xsize / 1e6, packed / xsize, bt, xt, bt / xt, kib // 1024))
    out += ["", "Peak memory of `mkupdater build --base` by archive size (12 changed, 6 inserted, "
            "4 dropped):", "", "| archive | build | peak memory |", "|---|---|---|"]
    for mib, secs, kib in mem:
        out.append("| %d MiB | %.2f s | %d MiB |" % (mib, secs, kib // 1024))
    out += ["", NOTES]
    if os.environ.get("PATCH_WINE", "1") != "0":
        out += wine_table(*wine_apply())
    with open(os.path.join(root, "bench", "PATCH.md"), "w") as f:
        f.write("\n".join(out) + "\n")
    print("\n".join(out))


if __name__ == "__main__":
    main()
