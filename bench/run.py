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
import datetime
import filecmp
import hashlib
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
QUICK = os.environ.get("BENCH_QUICK", "") not in ("", "0")
NATIVE = os.path.abspath(os.environ.get("BENCH_NATIVE", os.path.join(ROOT, "build/native")))
WIN32 = os.path.abspath(os.environ.get("BENCH_WIN32", os.path.join(ROOT, "build/win32")))
WORK = os.path.abspath(os.environ.get("BENCH_WORK", os.path.join(ROOT, "build/bench")))
PREFIX = os.path.abspath(os.environ.get("WINEPREFIX", os.path.join(WORK, "prefix")))
BASELINE = os.environ.get("BENCH_BASELINE", "")

SIZES = [64, 256] if QUICK else [64, 256, 1024]   # MiB, plus the small-files tree
MAIN, BIG, START = 64, SIZES[-1], 16
ROUNDS = int(os.environ.get("BENCH_ROUNDS", "2" if QUICK else "5"))
BIG_ROUNDS = min(ROUNDS, 3)                       # the 1 GiB runs take most of the time
BUILD_ROUNDS = 1 if QUICK else 3
GATE_S = float(os.environ.get("BENCH_GATE_S", "120"))
CPU = os.environ.get("BENCH_CPU", str(os.cpu_count() - 1))
DRIVES = {"tmpfs": "T", "ext4": "C"}
TMPFS = os.path.join(WORK, "tmpfs")


def log(msg):
    print(msg, flush=True)


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def out(cmd):
    try:
        return subprocess.run(cmd, capture_output=True, text=True, errors="replace").stdout.strip()
    except OSError:
        return "?"


def loadavg():
    return float(open("/proc/loadavg").read().split()[0])


def cpu_busy(seconds=2.0):
    """The share of all CPU time that was busy over that many seconds: the rest of the
    machine's work, when called while this bench is idle."""
    def snap():
        v = [int(x) for x in open("/proc/stat").readline().split()[1:9]]
        return sum(v), v[3] + v[4]
    t0, i0 = snap()
    time.sleep(seconds)
    t1, i1 = snap()
    return 1 - (i1 - i0) / max(1, t1 - t0)


def gate():
    """Waits, up to GATE_S seconds, until the rest of the machine leaves 70 % of the CPUs idle;
    prints what it found."""
    t0 = time.time()
    while True:
        busy = cpu_busy()
        if busy <= 0.3 or time.time() - t0 >= GATE_S:
            break
    print(f"@@gate busy={busy * 100:.0f} waited={time.time() - t0:.0f}", flush=True)


# ---- Inputs ----------------------------------------------------------------------------------

def tree(what):
    """The generated update folder (what: MiB or "small"), made again when the generator changed."""
    path = os.path.join(WORK, f"tree-{what}")
    gen = os.path.join(ROOT, "bench/gen_payload.py")
    stamp = hashlib.sha1(open(gen, "rb").read() + str(what).encode()).hexdigest()
    mark = path + ".stamp"
    if not (os.path.exists(mark) and open(mark).read() == stamp):
        log(f"--- generating the {what} tree")
        shutil.rmtree(path, ignore_errors=True)
        run([sys.executable, gen, path, str(what)])
        run([f"{NATIVE}/mkupdater", "rct", "encode", f"{ROOT}/examples/title/title.png",
             f"{path}/insttscr.rct"], stdout=subprocess.DEVNULL)
        open(mark, "w").write(stamp)
    return path, mark


def stale(target, *sources):
    return not os.path.exists(target) or any(os.path.getmtime(s) > os.path.getmtime(target) for s in sources)


def pack(what, stub, exe, force=False):
    """mkupdater build of the tree with that stub, unless done already with the same stub, tool
    and tree; (seconds, peak RSS KiB) when it ran."""
    src, mark = tree(what)
    tool = f"{NATIVE}/mkupdater"
    stamp = hashlib.sha1(b"".join(open(f, "rb").read() for f in (stub, tool, mark))).hexdigest()
    if force or not os.path.exists(exe) or not os.path.exists(exe + ".stamp") or open(exe + ".stamp").read() != stamp:
        log(f"--- packing {os.path.basename(exe)}")
        figures = timed([tool, "build", "--stub", stub, "--out", exe, src])
        open(exe + ".stamp", "w").write(stamp)
        return figures
    return None


def updater(what, baseline=False):
    exe = os.path.join(WORK, f"update-{what}{'-base' if baseline else ''}.exe")
    pack(what, baseline_stub() if baseline else f"{WIN32}/updater.exe", exe)
    return exe


def baseline_stub():
    path = os.path.abspath(BASELINE)
    return os.path.join(path, "updater.exe") if os.path.isdir(path) else path


def zip_of(what):
    src, mark = tree(what)
    z = os.path.join(WORK, f"files-{what}.zip")
    if stale(z, mark):
        if os.path.exists(z):
            os.remove(z)
        run(["7z", "a", "-tzip", "-mm=Deflate", "-mx=9", z, "."], cwd=src, stdout=subprocess.DEVNULL)
    return z


def nsis_of(what):
    """An NSIS 3 installer of the same files: zlib, not solid (each file a stream of its own,
    as in the updater), CRC check left on as NSIS has it by default."""
    src, mark = tree(what)
    exe = os.path.join(WORK, f"nsis-{what}.exe")
    if stale(exe, mark):
        log(f"--- building the {what} MiB NSIS installer (makensis, zlib)")
        nsi = os.path.join(WORK, f"nsis-{what}.nsi")
        with open(nsi, "w") as f:
            f.write(f'Unicode true\nName "KovelaBench"\nOutFile "{exe}"\nSetCompressor zlib\n'
                    f'InstallDir "C:\\bench\\nsis"\nRequestExecutionLevel user\n'
                    f'Section\n  SetOutPath "$INSTDIR"\n  File /r "{src}/*"\nSectionEnd\n')
        run(["makensis", "-V1", nsi])
    return exe


def progress_blocks(what):
    """(files, progress updates): one update per 128 KiB of each file, the last part counted."""
    sizes = [os.path.getsize(os.path.join(r, n)) for r, _, fs in os.walk(tree(what)[0]) for n in fs]
    return len(sizes), sum(-(-s // 131072) for s in sizes)


# ---- Processes -------------------------------------------------------------------------------

def timed(cmd, cwd=None):
    """Wall seconds and peak RSS (KiB) of one process. The RSS comes from GNU time: a child
    forked from this Python process would count Python's own pages in its peak."""
    rss_file = os.path.join(WORK, "rss.txt")
    t0 = time.perf_counter()
    p = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", rss_file] + cmd, cwd=cwd, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)
    t = time.perf_counter() - t0
    if p.returncode != 0:
        raise SystemExit(f"bench: {cmd[0]} failed: {p.stderr.decode(errors='replace')}")
    return t, int(open(rss_file).read().split()[-1])


def same_tree(a, b, contents):
    """True when b holds the files of a (sizes, and bytes when contents)."""
    for root, _, files in os.walk(a):
        for n in files:
            x = os.path.join(root, n)
            y = os.path.join(b, os.path.relpath(x, a))
            if not os.path.isfile(y) or os.path.getsize(x) != os.path.getsize(y):
                return False
            if contents and not filecmp.cmp(x, y, shallow=False):
                return False
    return True


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    os.sync()


# ---- Build -----------------------------------------------------------------------------------

def zlib_pass(src):
    """One zlib -9 pass over the files, one stream each, on one core: seconds, bytes."""
    t0, size = time.perf_counter(), 0
    for root, _, files in os.walk(src):
        for n in sorted(files):
            with open(os.path.join(root, n), "rb") as f:
                size += len(zlib.compress(f.read(), 9))
    return time.perf_counter() - t0, size


def deflate_bytes_updater(exe):
    """The deflate data of an updater's files: packed sizes less the zlib wrapper (6 bytes)."""
    rows = [l.split("\t") for l in out([f"{NATIVE}/mkupdater", "list", exe]).splitlines()]
    return sum(int(r[2]) - 6 for r in rows if r[0] == "f")


def deflate_bytes_zip(z):
    return sum(int(m) for m in re.findall(r"^Packed Size = (\d+)", out(["7z", "l", "-slt", z]), re.M))


def build_figures():
    src, _ = tree(MAIN)
    stub = f"{WIN32}/updater.exe"
    exe = os.path.join(WORK, f"update-{MAIN}.exe")
    z = os.path.join(WORK, f"files-{MAIN}.zip")
    t = {"build": [], "zlib": [], "7z": []}
    rss = 0
    log(f"--- build, {MAIN} MiB: {BUILD_ROUNDS} rounds of mkupdater build and one zlib -9 pass; 7z a -mx=9 once")
    gate()
    for r in range(BUILD_ROUNDS):
        s, m = pack(MAIN, stub, exe, force=True)
        t["build"].append(s)
        rss = max(rss, m)
        s, zsize = zlib_pass(src)
        t["zlib"].append(s)
        if r == 0:
            if os.path.exists(z):
                os.remove(z)
            t["7z"].append(timed(["7z", "a", "-tzip", "-mm=Deflate", "-mx=9", z, "."], cwd=src)[0])
    sizes = {"updater": os.path.getsize(exe), "stub": os.path.getsize(stub), "zip": os.path.getsize(z),
             "zlib": zsize, "ours": deflate_bytes_updater(exe), "7z": deflate_bytes_zip(z)}
    log(f"--- packing the {BIG} MiB updater (timed once for its peak RSS)")
    big = pack(BIG, stub, os.path.join(WORK, f"update-{BIG}.exe"), force=True)
    return t, rss, sizes, big


# ---- Native ----------------------------------------------------------------------------------

def native(what, rounds, with_7z):
    exe = updater(what)
    src, _ = tree(what)
    outdir = os.path.join(WORK, "out-native")
    tools = {"mkupdater": lambda d: [f"{NATIVE}/mkupdater", "extract", exe, d],
             "probe": lambda d: [f"{NATIVE}/zlib_probe", exe, d]}
    if with_7z:
        z = zip_of(what)
        tools["7z"] = lambda d: ["7z", "x", "-y", f"-o{d}", z]
    times = {k: [] for k in tools}
    rss = {k: 0 for k in tools}
    log(f"--- native, {what} MiB: {rounds} rounds of {', '.join(tools)}")
    gate()
    for r in range(rounds):
        for name, cmd in tools.items():
            d = os.path.join(outdir, name)
            fresh(d)
            t, m = timed(cmd(d))
            times[name].append(t)
            rss[name] = max(rss[name], m)
            if r == 0 and not same_tree(src, d, contents=what <= MAIN):
                raise SystemExit(f"bench: {name} did not extract the {what} MiB tree")
    shutil.rmtree(outdir, ignore_errors=True)
    return times, rss


# ---- Wine ------------------------------------------------------------------------------------

def winpath(p):
    return "Z:" + os.path.realpath(p).replace("/", "\\")


def mount_tmpfs():
    """Mounts a tmpfs for drive T: (root), else takes a folder in /dev/shm; says which."""
    os.makedirs(TMPFS, exist_ok=True)
    if subprocess.run(["mountpoint", "-q", TMPFS]).returncode == 0 or \
            subprocess.run(["mount", "-t", "tmpfs", "-o", "size=3g", "tmpfs", TMPFS],
                           stderr=subprocess.DEVNULL).returncode == 0:
        target, how = TMPFS, f"a tmpfs mounted at {os.path.relpath(TMPFS, ROOT)} for the run"
    else:
        target = f"/dev/shm/kovela-bench-{os.getpid()}"
        os.makedirs(target, exist_ok=True)
        how = "not root: a folder in /dev/shm (a tmpfs) instead of a mount of its own"
    link = os.path.join(PREFIX, "dosdevices", "t:")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(target, link)
    return target, how


def unmount_tmpfs(target):
    link = os.path.join(PREFIX, "dosdevices", "t:")
    if os.path.lexists(link):
        os.remove(link)
    if target == TMPFS:
        subprocess.run(["umount", TMPFS])
    else:
        shutil.rmtree(target, ignore_errors=True)


def unix_of(drive, *parts):
    """The Linux path of a folder on one of the bench drives."""
    return os.path.join(PREFIX, "dosdevices", DRIVES[drive].lower() + ":", "bench", *parts)


def wine_session(plan):
    """Runs the plan in one Wine session on a private display. plan: [(tag, args)], args a
    wine_bench command line or ("rm", unix path). Returns ({tag: [{key: value}]}, [load])."""
    env = dict(os.environ, WINEPREFIX=PREFIX)
    lines = []
    for tag, args in plan:
        if args[0] == "rm":
            lines.append(f"rm -rf '{args[1]}'")
            continue
        if args[0] == "gate":
            lines.append(f"'{sys.executable}' '{os.path.abspath(__file__)}' --gate")
            continue
        quoted = " ".join("'" + a + "'" for a in args)
        lines.append(f"echo \"@@load $(cut -d' ' -f1 /proc/loadavg)\"; echo '@@ {tag}'; "
                     f"wine '{WIN32}/wine_bench.exe' {quoted} || {{ echo '@@ failed'; exit 1; }}")
    pin = [] if CPU == "all" else ["taskset", "-c", CPU]
    p = subprocess.run(pin + [f"{ROOT}/scripts/on-display.sh", os.path.join(WORK, "shots"), "bash", "-c",
                              "\n".join(lines)], env=env, capture_output=True, text=True, errors="replace")
    results, loads, tag = {"gate": []}, [], None
    for line in p.stdout.splitlines():
        line = line.strip()
        if line.startswith("@@gate "):
            results["gate"].append({k: float(v) for k, v in re.findall(r"(\w+)=([-\d.]+)", line)})
        elif line.startswith("@@load "):
            loads.append(float(line.split()[1]))
        elif line == "@@ failed":
            raise SystemExit(f"bench: wine_bench failed in {tag}:\n{p.stderr[-2000:]}")
        elif line.startswith("@@ "):
            tag = line[3:]
            results.setdefault(tag, [])
        elif tag and "=" in line:
            results[tag].append({k: float(v) for k, v in re.findall(r"(\w+)=([-\d.]+)", line)} | {"seq": len(loads)})
    return results, loads


def wine_plan(exes, base, nsis, probe):
    """Round by round, one run of each contender, the order reversed every other round; first
    one start of the updater that is not counted, so that no round pays for a cold Wine."""
    plan = [("warm-up", ["startup", winpath(exes[START]), "C:\\bench\\temp", "1"])]
    for r in range(ROUNDS):
        step = []
        for what in (START, BIG):
            step.append([(f"startup-{what}", ["startup", winpath(exes[what]), "C:\\bench\\temp", "1"])])
            if base:
                step.append([(f"startup-{what}-base", ["startup", winpath(base[what]), "C:\\bench\\temp", "1"])])
        for what in SIZES + ["small"]:
            if what == 1024 and r >= BIG_ROUNDS:
                continue
            for drive, letter in DRIVES.items():
                runs = [("upd", exes), ("base", base)] if base else [("upd", exes)]
                for who, table in runs:
                    dest = f"{who}-{what}"
                    step.append([(f"{who}-{what}-{drive}",
                                  ["updater", winpath(table[what]), f"{letter}:\\bench\\{dest}", "C:\\bench\\temp", "1"])]
                                + ([("rm", ["rm", unix_of(drive, dest)])] if what != MAIN else []))
                step.append([(f"probe-{what}-{drive}", ["probe", winpath(probe), winpath(exes[what]),
                                                          f"{letter}:\\bench\\probe-{what}", "1"])]
                            + ([("rm", ["rm", unix_of(drive, f"probe-{what}")])] if what != MAIN else []))
        for drive, letter in DRIVES.items():
            step.append([(f"nsis-{MAIN}-{drive}", ["nsis", winpath(nsis), f"{letter}:\\bench\\nsis", "1"])])
        step.append([("launch", ["launch", "1"])])
        plan.append(("gate", ["gate"]))
        for s in (step if r % 2 == 0 else reversed(step)):
            plan += s
    return plan


# ---- Report ----------------------------------------------------------------------------------

def med(xs):
    return statistics.median(xs) if xs else float("nan")


def best(xs):
    return min(xs) if xs else float("nan")


def spread(xs):
    return (max(xs) - min(xs)) / med(xs) * 100 if len(xs) > 1 else 0.0


def fmt_s(xs):
    if not xs:
        return "-"
    return f"{best(xs):.3f} s (median {med(xs):.3f}, spread {spread(xs):.0f} %, n={len(xs)})"


def machine():
    cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
    mem = int(re.search(r"MemTotal:\s+(\d+)", open("/proc/meminfo").read()).group(1)) // 1024
    return [
        ("CPU", f"{cpu}, {os.cpu_count()} cores"),
        ("RAM", f"{mem / 1024:.1f} GiB"),
        ("OS", f"Debian {open('/etc/debian_version').read().strip()}, Linux {platform.release()}"),
        ("Wine", out(["wine", "--version"])),
        ("zlib", f"{zlib.ZLIB_RUNTIME_VERSION} (native), "
                 f"{out(['dpkg-query', '-W', '-f=${Version}', 'libz-mingw-w64-dev'])} (MinGW)"),
        ("7-Zip", next((l for l in out(["7z"]).splitlines() if l.strip()), "?")),
        ("NSIS", out(["makensis", "-VERSION"])),
        ("code", "last change to src/, res/, tools/: "
                 + out(["git", "-C", ROOT, "log", "-1", "--format=%h %s", "--", "src", "res", "tools"])[:80]),
    ]


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

    rows, goals = report(build, nat, w, base)
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


def report(build, nat, w, base):
    rows, goals = [], []

    def col(tag, key):
        return [r[key] / 1000 for r in w.get(tag, []) if key in r]

    def goal(label, a, b, limit, upper=True, fmt="{:.2f}"):
        """A ratio of best times against an upper or lower limit; beside it the median of the
        ratios round by round (the runs of one round ran side by side)."""
        r = best(a) / best(b)
        m = med([x / y for x, y in zip(a, b)]) if len(a) == len(b) else med(a) / med(b)
        ok = r <= limit if upper else r >= limit
        miss = abs(r / limit - 1) * 100
        verdict = "met" if ok else f"MISSED by {miss:.2f} %" if miss < 1 else f"MISSED by {miss:.0f} %"
        goals.append((label, fmt.format(r), fmt.format(m), ("<= " if upper else ">= ") + fmt.format(limit), verdict))

    # Build
    t, rss, sz, big = build
    rows += [(f"build {MAIN} MiB", "mkupdater build (default level)", fmt_s(t["build"])),
             (f"build {MAIN} MiB", "one zlib -9 pass (1 core)", fmt_s(t["zlib"])),
             (f"build {MAIN} MiB", "7z a -tzip -mx=9", fmt_s(t["7z"])),
             (f"build {MAIN} MiB", "mkupdater output / payload / deflate data",
              f"{sz['updater']} / {sz['updater'] - sz['stub']} / {sz['ours']} bytes"),
             (f"build {MAIN} MiB", "7z zip / deflate data", f"{sz['zip']} / {sz['7z']} bytes"),
             (f"build {MAIN} MiB", "zlib -9 streams, all files", f"{sz['zlib']} bytes"),
             ("build", "mkupdater build peak RSS",
              f"{rss} KiB at {MAIN} MiB, {big[1]} KiB at {BIG} MiB ({big[0]:.1f} s)")]
    goal(f"build {MAIN} MiB: payload (output less stub) / 7z -mx=9 zip", [sz["updater"] - sz["stub"]], [sz["zip"]], 1.0,
         fmt="{:.4f}")
    goal(f"build {MAIN} MiB: deflate data alone, mkupdater / 7z -mx=9", [sz["ours"]], [sz["7z"]], 1.0, fmt="{:.4f}")
    goal(f"build {MAIN} MiB: time, mkupdater / one zlib -9 pass", t["build"], t["zlib"], 0.5)

    # Native
    for what, (tn, rn) in nat.items():
        for k in tn:
            rows.append((f"native {what} MiB", {"mkupdater": "mkupdater extract", "probe": "zlib_probe",
                                                "7z": "7z x (zip, deflate)"}[k], fmt_s(tn[k])))
        rows.append((f"native {what} MiB", "mkupdater extract peak RSS", f"{rn['mkupdater']} KiB"))

    # Wine: updater against the probe, tmpfs and ext4
    for what in SIZES + ["small"]:
        label = "small files" if what == "small" else f"{what} MiB"
        files, updates = progress_blocks(what)
        rows.append((f"Wine {label}", "payload", f"{files} files, {updates} progress updates"))
        for drive in DRIVES:
            u, p = col(f"upd-{what}-{drive}", "extract_ms"), col(f"probe-{what}-{drive}", "go_ms")
            rows += [(f"Wine {label}, {drive}", "updater, はい to finish dialog", fmt_s(u)),
                     (f"Wine {label}, {drive}", "zlib_probe, go to result", fmt_s(p))]
            if base:
                rows.append((f"Wine {label}, {drive}", "baseline updater", fmt_s(col(f"base-{what}-{drive}", "extract_ms"))))
            limit = 1.6 if what == "small" else 1.5 if what == MAIN else 1.3
            goal(f"Wine {label} ({drive}): updater / probe", u, p, limit)
            if base and what in (MAIN, 1024):
                goal(f"Wine {label} ({drive}): updater / baseline", u, col(f"base-{what}-{drive}", "extract_ms"), 1.05)
    launch = col("launch", "wall_ms")
    rows.append(("Wine", "process start to exit, empty program", fmt_s(launch)))
    for drive in DRIVES:
        n = [x - best(launch) for x in col(f"nsis-{MAIN}-{drive}", "wall_ms")]
        rows.append((f"Wine {MAIN} MiB, {drive}", "NSIS /S, start to exit less the empty program's", fmt_s(n)))
        goal(f"Wine {MAIN} MiB ({drive}): NSIS / updater", n, col(f"upd-{MAIN}-{drive}", "extract_ms"), 1.2, upper=False)

    # Start-up and memory
    s = {what: col(f"startup-{what}", "menu_ms") for what in (START, BIG)}
    rows += [(f"Wine {what} MiB", "start to menu", fmt_s(s[what])) for what in (START, BIG)]
    goal(f"start-up to menu, {BIG} MiB / {START} MiB", s[BIG], s[START], 1.10)
    peak = {what: max([r["peak_ws_kib"] for r in w.get(f"upd-{what}-tmpfs", [])] or [float("nan")])
            for what in (MAIN, BIG)}
    rows.append(("Wine", "updater peak working set (VmHWM)", f"{peak[MAIN]:.0f} KiB at {MAIN} MiB, "
                                                             f"{peak[BIG]:.0f} KiB at {BIG} MiB"))
    goal(f"peak working set, {BIG} MiB / {MAIN} MiB", [peak[BIG]], [peak[MAIN]], 1.05)
    if base:
        for what in (START, BIG):
            goal(f"start-up to menu at {what} MiB, updater / baseline", s[what], col(f"startup-{what}-base", "menu_ms"), 1.10)
        bpeak = max([r["peak_ws_kib"] for r in w.get(f"base-{BIG}-tmpfs", [])] or [float("nan")])
        rows.append(("Wine", "baseline peak working set", f"{bpeak:.0f} KiB at {BIG} MiB"))
        goal(f"peak working set at {BIG} MiB, updater / baseline", [peak[BIG]], [bpeak], 1.05)
    return rows, goals


def write_results(started, info, rows, goals):
    path = os.path.join(ROOT, "bench/RESULTS.md")
    notes = ""
    if os.path.exists(path):
        text = open(path).read()
        m = text.find("\n## Notes")
        notes = text[m:] if m >= 0 else ""
    with open(path, "w") as f:
        f.write("# Benchmark results\n\n")
        f.write(f"Written by bench/run.py (`make bench`) on {started:%Y-%m-%d %H:%M} UTC.\n\n")
        f.write("| machine and run | |\n|---|---|\n")
        for k, v in info:
            f.write(f"| {k} | {v} |\n")
        f.write("\n## Times\n\nBest of n runs (median and spread beside), warm page cache, each run into a fresh "
                "folder;\nthe contenders alternate round by round. Ratios are of the best times.\n\n")
        f.write("| payload | what | time |\n|---|---|---|\n")
        for a, b, c in rows:
            f.write(f"| {a} | {b} | {c} |\n")
        f.write("\n## Goals\n\nRatios of the best times; beside them the median of the ratios taken round by round.\n\n"
                "| measure | best | paired median | goal | |\n|---|---|---|---|---|\n")
        for a, b, c, d, e in goals:
            f.write(f"| {a} | {b} | {c} | {d} | {e} |\n")
        f.write(notes if notes else "\n## Notes\n\n(none yet)\n")


if __name__ == "__main__":
    gate() if sys.argv[1:] == ["--gate"] else main()
