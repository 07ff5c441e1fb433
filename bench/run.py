#!/usr/bin/python3
"""The benchmarks (`make bench`): figures, never a test; nothing here fails on a slow machine.

Generates update trees (bench/gen_payload.py), packs them, then measures with a warm page cache:
  build    mkupdater build of a 64 MiB tree (time, size, peak RSS) against one zlib -9 pass over
           the same files and 7z a -tzip -mx=9; the peak RSS of packing the largest tree
  native   mkupdater extract  vs  zlib_probe (plain inflate-to-file, 128 KiB blocks)  vs  7z x
  Wine     the updater driven like a user, "はい" to the finish dialog,  vs  the Windows
           zlib_probe, both timed by bench/win32/wine_bench.cpp with one clock; 64 MiB, 256 MiB,
           1 GiB and a tree of 2,000 small files, each into a tmpfs drive (T:) and into the
           prefix's ext4 drive (C:); an NSIS installer at 64 MiB; start-up to the menu and peak
           working set at 16 MiB and at the largest size
Runs alternate round by round (the order reversed every other round), so that a change in the
machine's load hits every contender alike; best of n, medians beside, spread and load stated.
The Wine session runs pinned to one CPU: in this virtual machine an idle vCPU halts, and waking
it for each wineserver round trip made request-bound runs up to 2.4 times slower, depending on
what else happened to keep the CPUs busy.
Prints the table and the goals and writes bench/RESULTS.md (not in quick mode).

Environment:
  BENCH_QUICK=1        no 1 GiB payload, fewer rounds; bench/RESULTS.md is left alone
  BENCH_BASELINE=path  another updater.exe (or a build folder holding one) timed in the same
                       rounds against the current one, for a before/after comparison
  BENCH_ROUNDS=n       rounds of the Wine runs (default 5, quick 2)
  BENCH_GATE_S=s       before each round, wait up to s seconds (default 120) for the rest of the
                       machine to leave 70 % of the CPUs idle (0: do not wait)
  BENCH_CPU=n          the one CPU the Wine session runs on (default the last; "all": no pinning)
  BENCH_NATIVE, BENCH_WIN32   build folders (default build/native, build/win32)
  BENCH_WORK           generated data (default build/bench); WINEPREFIX (default <work>/prefix)
The tmpfs drive needs root (mount -t tmpfs); otherwise a folder in /dev/shm stands in for it,
and the report says so.
"""
import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from common import *  # noqa: E402,F401,F403
from measure import *  # noqa: E402,F401,F403
from report import machine, report, write_results  # noqa: E402
from wine import *  # noqa: E402,F401,F403

# The goals, each the ratio of the updater's best figure to another's against its limit:
# ("<=", x) an upper limit, (">=", x) a lower one. The report measures every one of them but
# the patch goals, which bench/patch_bench.py measures.
GOALS = {
    "build size, payload / 7z zip": ("<=", 1.0),
    "build size, deflate data / 7z": ("<=", 1.0),
    "build time / one zlib -9 pass": ("<=", 0.5),
    "Wine small files / probe": ("<=", 1.6),
    "Wine 64 MiB / probe": ("<=", 1.5),
    "Wine larger / probe": ("<=", 1.3),
    "Wine / baseline": ("<=", 1.05),
    "Wine NSIS / updater": (">=", 1.2),
    "start-up, largest / smallest": ("<=", 1.10),
    "start-up / baseline": ("<=", 1.10),
    "peak working set, largest / 64 MiB": ("<=", 1.05),
    "peak working set / baseline": ("<=", 1.05),
    # Patch updates, measured by bench/patch_bench.py (bench/PATCH.md).
    "patch payload / changed entries deflated alone": ("<=", 1.15),
    "patch payload / xdelta3 -9": ("<=", 1.0),
    "patch build time / xdelta3 -9": ("<=", 2.0),
    "Wine patch update / whole-file update": ("<=", 1.0),
    "Wine patch update peak working set, largest / smallest": ("<=", 1.05),
}


def main():
    os.makedirs(WORK, exist_ok=True)
    for tool, package in (("7z", "p7zip-full"), ("makensis", "nsis"), ("/usr/bin/time", "time")):
        if not shutil.which(tool):
            raise SystemExit(f"bench: {tool} is missing (Debian package {package})")
    for f in (f"{NATIVE}/mkupdater", f"{NATIVE}/zlib_probe", f"{WIN32}/updater.exe", f"{WIN32}/zlib_probe.exe",
              f"{WIN32}/wine_bench.exe") + ((baseline_stub(),) if BASELINE else ()):
        if not os.path.exists(f):
            raise SystemExit(f"bench: {f} is missing; build it first")
    started = datetime.datetime.now(datetime.timezone.utc)
    info = machine()
    load0 = loadavg()

    build = build_figures()
    whats = [START] + SIZES + ["small"]
    exes = {w: updater(w) for w in whats}
    base = {w: updater(w, baseline=True) for w in whats} if BASELINE else None
    nsis = nsis_of(MAIN)

    nat = {MAIN: native(MAIN, 3 if QUICK else 9, True), BIG: native(BIG, 2 if QUICK else 3, False)}

    log(f"--- Wine: {ROUNDS} rounds (1 GiB: {BIG_ROUNDS}) of updater{', baseline' if base else ''}, "
        f"probe, NSIS, start-up; tmpfs and ext4")
    run([f"{ROOT}/scripts/wine-prefix.sh", PREFIX], env=dict(os.environ, WINEPREFIX=PREFIX))
    for d in ("C", "T"):
        shutil.rmtree(os.path.join(PREFIX, "dosdevices", d.lower() + ":", "bench"), ignore_errors=True)
    target, tmpfs_how = mount_tmpfs()
    try:
        for drive in DRIVES:
            os.makedirs(unix_of(drive), exist_ok=True)
        w, loads = wine_session(wine_plan(exes, base, nsis, f"{WIN32}/zlib_probe.exe"))
        json.dump(w, open(os.path.join(WORK, "wine-runs.json"), "w"), indent=1)
        for drive in DRIVES:
            for name in [f"upd-{MAIN}", f"probe-{MAIN}", "nsis"] + ([f"base-{MAIN}"] if base else []):
                if not same_tree(tree(MAIN)[0], unix_of(drive, name), contents=True):
                    raise SystemExit(f"bench: {name} under Wine did not extract the {MAIN} MiB tree on {drive}")
            shutil.rmtree(unix_of(drive), ignore_errors=True)
    finally:
        unmount_tmpfs(target)
    load1 = loadavg()

    rows, goals = report(GOALS, build, nat, w, base)
    noise = [("load (1 min average)", f"{load0:.2f} at the start, {min(loads):.2f} to {max(loads):.2f} during "
                                      f"the Wine runs, {load1:.2f} at the end"),
             ("others' CPU use before each round", f"{min(g['busy'] for g in w['gate']):.0f} to "
              f"{max(g['busy'] for g in w['gate']):.0f} % of both cores; waited {sum(g['waited'] for g in w['gate']):.0f} s "
              f"in all for a quiet machine (limit {GATE_S:.0f} s a round)"),
             ("drive T: (tmpfs)", tmpfs_how),
             ("Wine session", "all of it (Xvfb, wineserver, driver, updater, probe, NSIS) on CPU " + CPU if CPU != "all"
              else "not pinned (BENCH_CPU=all)"),
             ("spread", "(slowest - fastest) / median of each contender's runs, beside its time")]
    width = max(len(r[0]) + len(r[1]) for r in rows) + 3
    log("\nTimes (best of n runs, warm page cache; ratios are of the best times):")
    for a, b, c in rows:
        log(f"  {(a + ': ' + b).ljust(width)} {c}")
    log("\nGoals:")
    for a, b, c, d, e in goals:
        log(f"  {a.ljust(58)} {b:>9} {('(paired median ' + c + ')') if c else '':>22}  goal {d:<12} {e}")
    for k, v in noise:
        log(f"  {k}: {v}")
    if QUICK:
        log("\n(BENCH_QUICK: fewer rounds and no 1 GiB; bench/RESULTS.md is left alone)")
        return
    write_results(started, info + noise, rows, goals)
    log(f"\nwritten: {os.path.relpath(os.path.join(ROOT, 'bench/RESULTS.md'), os.getcwd())}")


if __name__ == "__main__":
    gate() if sys.argv[1:] == ["--gate"] else main()
