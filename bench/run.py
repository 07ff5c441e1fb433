#!/usr/bin/python3
"""The extraction benchmarks (`make bench`): figures, never a test; nothing here fails on a slow
machine.

Generates update trees (bench/gen_payload.py), packs them, then measures with a warm page cache
(dropping it needs root games):
  native   mkupdater extract  vs  zlib_probe (plain inflate-to-file, 128 KiB blocks, the same
           streams)  vs  7z x of a zip of the same files
  Wine     the updater driven like a user, "はい" to the finish dialog  vs  the Windows
           zlib_probe  vs  an NSIS 3 installer (SetCompressor zlib, /S)
  Wine     start-up time to the menu and peak working set, at 16 MiB and at 1 GiB
prints a table of times and ratios against the goals and writes bench/RESULTS.md.

Environment: BENCH_QUICK=1 (no 1 GiB run, fewer rounds), BENCH_NATIVE / BENCH_WIN32 (build
folders, default build/native and build/win32), BENCH_WORK (generated data, default
build/bench), WINEPREFIX (default <work>/prefix).
"""
import datetime
import filecmp
import hashlib
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

MAIN = 64                                  # MiB: every comparison
BIG = 256 if QUICK else 1024               # MiB: scaling of time, memory, start-up
SMALL = 16
ROUNDS = dict(native=3, wine=2, nsis=1, startup=3, big=1) if QUICK else \
    dict(native=9, wine=5, nsis=5, startup=9, big=2)
THEME_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\ThemeManager"


def log(msg):
    print(msg, flush=True)


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def out(cmd):
    try:
        return subprocess.run(cmd, capture_output=True, text=True, errors="replace").stdout.strip()
    except OSError:
        return "?"


# ---- Inputs ----------------------------------------------------------------------------------

def tree(mib):
    """The generated update folder of that size, made again when the generator changed."""
    path = os.path.join(WORK, f"tree-{mib}")
    gen = os.path.join(ROOT, "bench/gen_payload.py")
    stamp = hashlib.sha1(open(gen, "rb").read() + str(mib).encode()).hexdigest()
    mark = os.path.join(WORK, f"tree-{mib}.stamp")
    if not (os.path.exists(mark) and open(mark).read() == stamp):
        log(f"--- generating the {mib} MiB tree")
        shutil.rmtree(path, ignore_errors=True)
        run([sys.executable, gen, path, str(mib)])
        run([f"{NATIVE}/mkupdater", "rct", "encode", f"{ROOT}/examples/title/title.png",
             f"{path}/insttscr.rct"], stdout=subprocess.DEVNULL)
        open(mark, "w").write(stamp)
    return path, mark


def stale(target, *sources):
    return not os.path.exists(target) or any(os.path.getmtime(s) > os.path.getmtime(target) for s in sources)


def updater(mib):
    src, mark = tree(mib)
    exe = os.path.join(WORK, f"update-{mib}.exe")
    stub = f"{WIN32}/updater.exe"
    if stale(exe, mark, stub, f"{NATIVE}/mkupdater"):
        log(f"--- packing the {mib} MiB updater (mkupdater build, level 9)")
        run([f"{NATIVE}/mkupdater", "build", "--stub", stub, "--out", exe, src], stdout=subprocess.DEVNULL)
    return exe


def zip_of(mib):
    src, mark = tree(mib)
    z = os.path.join(WORK, f"files-{mib}.zip")
    if stale(z, mark):
        log(f"--- zipping the {mib} MiB tree (7z, deflate)")
        if os.path.exists(z):
            os.remove(z)
        run(["7z", "a", "-tzip", "-mm=Deflate", "-mx=9", z, "."], cwd=src, stdout=subprocess.DEVNULL)
    return z


def nsis_of(mib):
    """An NSIS 3 installer of the same files: zlib, not solid (each file a stream of its own,
    as in the updater), CRC check left on as NSIS has it by default."""
    src, mark = tree(mib)
    exe = os.path.join(WORK, f"nsis-{mib}.exe")
    if stale(exe, mark):
        log(f"--- building the {mib} MiB NSIS installer (makensis, zlib)")
        nsi = os.path.join(WORK, f"nsis-{mib}.nsi")
        with open(nsi, "w") as f:
            f.write(f'''Unicode true
Name "KovelaBench"
OutFile "{exe}"
SetCompressor zlib
InstallDir "C:\\bench\\nsis"
RequestExecutionLevel user
Section
  SetOutPath "$INSTDIR"
  File /r "{src}/*"
SectionEnd
''')
        run(["makensis", "-V1", nsi])
    return exe


# ---- Native ----------------------------------------------------------------------------------

def timed(cmd):
    """Wall seconds and peak RSS (KiB) of one process."""
    t0 = time.perf_counter()
    p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(p.pid, 0)
    t = time.perf_counter() - t0
    p.returncode = os.waitstatus_to_exitcode(status)
    if p.returncode != 0:
        raise SystemExit(f"bench: {cmd[0]} failed: {p.stderr.read().decode(errors='replace')}")
    return t, usage.ru_maxrss


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


def native(mib, rounds, with_7z):
    exe = updater(mib)
    src, _ = tree(mib)
    outdir = os.path.join(WORK, "out-native")
    tools = {
        "mkupdater": lambda d: [f"{NATIVE}/mkupdater", "extract", exe, d],
        "probe": lambda d: [f"{NATIVE}/zlib_probe", exe, d],
    }
    if with_7z:
        z = zip_of(mib)
        tools["7z"] = lambda d: ["7z", "x", "-y", f"-o{d}", z]
    times = {k: [] for k in tools}
    rss = {k: 0 for k in tools}
    log(f"--- native, {mib} MiB: {rounds} rounds of {', '.join(tools)}")
    for r in range(rounds):
        for name, cmd in tools.items():
            d = os.path.join(outdir, name)
            fresh(d)
            t, m = timed(cmd(d))
            times[name].append(t)
            rss[name] = max(rss[name], m)
            if r == 0 and not same_tree(src, d, contents=mib <= MAIN):
                raise SystemExit(f"bench: {name} did not extract the {mib} MiB tree")
    shutil.rmtree(outdir, ignore_errors=True)
    return times, rss


# ---- Wine ------------------------------------------------------------------------------------

def winpath(p):
    return "Z:" + os.path.realpath(p).replace("/", "\\")


def wine_session(plan):
    """Runs the driver commands in one Wine session on a private display. plan: [(tag, args)];
    an args of ("theme", "0"/"1") switches Wine's visual styles. Returns {tag: [{key: value}]}."""
    env = dict(os.environ, WINEPREFIX=PREFIX)
    run([f"{ROOT}/scripts/wine-prefix.sh", PREFIX], env=env)
    os.makedirs(os.path.join(PREFIX, "drive_c/bench"), exist_ok=True)
    lines = []
    for tag, args in plan:
        if args[0] == "theme":
            lines.append(f"wine reg add '{THEME_KEY}' /v ThemeActive /d {args[1]} /f >/dev/null 2>&1")
            continue
        quoted = " ".join("'" + a + "'" for a in args)
        lines.append(f"echo '@@ {tag}'; wine '{WIN32}/wine_bench.exe' {quoted} || echo '@@ failed'")
    lines.append(f"wine reg add '{THEME_KEY}' /v ThemeActive /d 1 /f >/dev/null 2>&1")
    p = subprocess.run([f"{ROOT}/scripts/on-display.sh", os.path.join(WORK, "shots"), "bash", "-c",
                        "\n".join(lines)], env=env, capture_output=True, text=True, errors="replace")
    results, tag = {}, None
    for line in p.stdout.splitlines():
        line = line.strip()
        if line.startswith("@@ "):
            if line == "@@ failed":
                raise SystemExit(f"bench: wine_bench failed in {tag}:\n{p.stderr[-2000:]}")
            tag = line[3:]
            results.setdefault(tag, [])
            continue
        kv = dict(re.findall(r"(\w+)=([-\d.]+)", line))
        if tag and kv and not line.startswith("probe_ms"):
            results[tag].append({k: float(v) for k, v in kv.items()})
        elif tag and line.startswith("probe_ms"):
            results[tag].append({"probe_ms": float(kv["probe_ms"])})
    return results


def drive_c(*parts):
    return os.path.join(PREFIX, "drive_c", *parts)


# ---- Report ----------------------------------------------------------------------------------

def med(xs):
    return statistics.median(xs) if xs else float("nan")


def best(xs):
    return min(xs) if xs else float("nan")


def fmt_s(xs):
    return f"{best(xs):.3f} s (median {med(xs):.3f}, n={len(xs)})" if xs else "-"


def machine():
    cpu = "?"
    for line in open("/proc/cpuinfo"):
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
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
        ("load at start", open("/proc/loadavg").read().split()[0] + " (1 min average; the machine is shared)"),
    ]


def main():
    os.makedirs(WORK, exist_ok=True)
    for tool in ("7z", "makensis"):
        if not shutil.which(tool):
            raise SystemExit(f"bench: {tool} is missing (scripts/install-deps.sh installs it)")
    for f in (f"{NATIVE}/mkupdater", f"{NATIVE}/zlib_probe", f"{WIN32}/updater.exe", f"{WIN32}/zlib_probe.exe",
              f"{WIN32}/wine_bench.exe"):
        if not os.path.exists(f):
            raise SystemExit(f"bench: {f} is missing; build it first")
    started = datetime.datetime.now(datetime.timezone.utc)
    info = machine()
    exes = {mib: updater(mib) for mib in (SMALL, MAIN, BIG)}
    nsis = nsis_of(MAIN)

    nat = {MAIN: native(MAIN, ROUNDS["native"], True), BIG: native(BIG, ROUNDS["big"] + 1, False)}

    log("--- Wine: updater, probe, NSIS, start-up (one session on a private display)")
    probe = f"{WIN32}/zlib_probe.exe"
    # Round by round, one run of each, so that a change in the machine's load hits every
    # contender alike. The updater also runs with Wine's visual styles off: under Wine each
    # themed progress-bar paint costs milliseconds (see the notes in RESULTS.md).
    plan = []
    for r in range(max(ROUNDS["wine"], ROUNDS["startup"])):
        if r < ROUNDS["startup"]:
            for mib in (SMALL, BIG):
                plan.append((f"startup-{mib}", ["startup", winpath(exes[mib]), "C:\\bench\\temp", "1"]))
        if r >= ROUNDS["wine"]:
            continue
        for mib in (SMALL, MAIN) + ((BIG,) if r < ROUNDS["big"] else ()):
            plan.append((f"updater-{mib}", ["updater", winpath(exes[mib]), f"C:\\bench\\upd-{mib}", "C:\\bench\\temp", "1"]))
            if mib == SMALL:
                continue
            plan.append((f"probe-{mib}", ["probe", winpath(probe), winpath(exes[mib]), f"C:\\bench\\probe-{mib}", "1"]))
            plan.append(("theme", ["theme", "0"]))
            plan.append((f"plain-{mib}", ["updater", winpath(exes[mib]), f"C:\\bench\\plain-{mib}", "C:\\bench\\temp", "1"]))
            plan.append(("theme", ["theme", "1"]))
        if r < ROUNDS["nsis"]:
            plan.append(("nsis-64", ["nsis", winpath(nsis), "C:\\bench\\nsis", "1"]))
    w = wine_session(plan)
    for name in (f"upd-{MAIN}", f"probe-{MAIN}", "nsis", f"plain-{MAIN}"):
        if not same_tree(tree(MAIN)[0], drive_c("bench", name), contents=True):
            raise SystemExit(f"bench: {name} under Wine did not extract the {MAIN} MiB tree")
    for name in os.listdir(drive_c("bench")):
        shutil.rmtree(drive_c("bench", name), ignore_errors=True)

    def col(tag, key, scale=1.0):
        return [r[key] * scale for r in w.get(tag, []) if key in r]

    rows, goals = [], []

    def ratio(label, a, b, goal, ok):
        r = best(a) / best(b)
        goals.append((label, f"{r:.2f}", goal, "met" if ok(r) else "MISSED"))

    # Native
    t, rss = nat[MAIN]
    rows += [(f"native {MAIN} MiB", "mkupdater extract", fmt_s(t["mkupdater"])),
             (f"native {MAIN} MiB", "zlib_probe", fmt_s(t["probe"])),
             (f"native {MAIN} MiB", "7z x (zip, deflate)", fmt_s(t["7z"]))]
    ratio(f"native {MAIN} MiB: mkupdater / probe", t["mkupdater"], t["probe"], "<= 1.10", lambda r: r <= 1.10)
    ratio(f"native {MAIN} MiB: mkupdater / 7z x", t["mkupdater"], t["7z"], "<= 1.00", lambda r: r <= 1.00)
    tb, rssb = nat[BIG]
    rows += [(f"native {BIG} MiB", "mkupdater extract", fmt_s(tb["mkupdater"])),
             (f"native {BIG} MiB", "zlib_probe", fmt_s(tb["probe"]))]
    ratio(f"native {BIG} MiB: mkupdater / probe", tb["mkupdater"], tb["probe"], "<= 1.10", lambda r: r <= 1.10)
    rows.append(("native", "mkupdater peak RSS", f"{rss['mkupdater']} KiB at {MAIN} MiB, {rssb['mkupdater']} KiB at {BIG} MiB"))

    # Wine
    for mib in (MAIN, BIG):
        u, p, plain = col(f"updater-{mib}", "extract_ms", 1e-3), col(f"probe-{mib}", "probe_ms", 1e-3), \
            col(f"plain-{mib}", "extract_ms", 1e-3)
        pw = col(f"probe-{mib}", "wall_ms", 1e-3)
        rows += [(f"Wine {mib} MiB", "updater, はい to finish dialog", fmt_s(u)),
                 (f"Wine {mib} MiB", "updater, visual styles off", fmt_s(plain)),
                 (f"Wine {mib} MiB", "zlib_probe (own clock)", fmt_s(p)),
                 (f"Wine {mib} MiB", "zlib_probe, process start to exit", fmt_s(pw))]
        ratio(f"Wine {mib} MiB: updater / probe", u, p, "<= 1.15", lambda r: r <= 1.15)
        ratio(f"Wine {mib} MiB: updater (styles off) / probe", plain, p, "<= 1.15 (diagnostic)", lambda r: r <= 1.15)
        if mib == MAIN:
            n = col("nsis-64", "wall_ms", 1e-3)
            rows.append((f"Wine {mib} MiB", "NSIS /S, process start to exit", fmt_s(n)))
            r_n = best(n) / best(u)
            goals.append((f"Wine {mib} MiB: NSIS / updater (speed-up)", f"{r_n:.2f}", ">= 2.5",
                          "met" if r_n >= 2.5 else "MISSED"))
            r_p = best(n) / best(plain)
            goals.append((f"Wine {mib} MiB: NSIS / updater, styles off (speed-up)", f"{r_p:.2f}", ">= 2.5 (diagnostic)",
                          "met" if r_p >= 2.5 else "MISSED"))

    # Start-up and memory
    s_small, s_big = col(f"startup-{SMALL}", "menu_ms", 1e-3), col(f"startup-{BIG}", "menu_ms", 1e-3)
    rows += [(f"Wine {SMALL} MiB", "start to menu", fmt_s(s_small)), (f"Wine {BIG} MiB", "start to menu", fmt_s(s_big))]
    growth = best(s_big) / best(s_small) - 1
    goals.append((f"start-up growth {SMALL} MiB -> {BIG} MiB", f"{growth * 100:+.1f} %", "<= +10 %",
                  "met" if growth <= 0.10 else "MISSED"))
    peak = {mib: max(col(f"updater-{mib}", "peak_ws_kib") or [float("nan")]) for mib in (SMALL, BIG)}
    rows.append(("Wine", "updater peak working set (VmHWM)",
                 f"{peak[SMALL]:.0f} KiB at {SMALL} MiB, {peak[BIG]:.0f} KiB at {BIG} MiB"))
    grow = peak[BIG] - peak[SMALL]
    goals.append((f"peak memory growth {SMALL} MiB -> {BIG} MiB", f"{grow:+.0f} KiB", "<= 2048 KiB",
                  "met" if grow <= 2048 else "MISSED"))

    # Output
    width = max(len(r[0]) + len(r[1]) for r in rows) + 3
    log("\nTimes (best of n runs, warm page cache; ratios are of the best times):")
    for a, b, c in rows:
        log(f"  {(a + ': ' + b).ljust(width)} {c}")
    log("\nGoals:")
    for a, b, c, d in goals:
        log(f"  {a.ljust(52)} {b:>10}   goal {c:<22} {d}")
    if QUICK:
        log("\n(BENCH_QUICK: fewer rounds and 256 MiB instead of 1 GiB; bench/RESULTS.md is left alone)")
        return
    write_results(started, info, rows, goals)
    log(f"\nwritten: {os.path.relpath(os.path.join(ROOT, 'bench/RESULTS.md'), os.getcwd())}")


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
        f.write("| machine | |\n|---|---|\n")
        for k, v in info:
            f.write(f"| {k} | {v} |\n")
        f.write("\n## Times\n\nBest of n runs (the median beside it), warm page cache, each run into a fresh "
                "folder; the\nruns of the contenders alternate. Ratios are of the best times.\n\n")
        f.write("| payload | what | time |\n|---|---|---|\n")
        for a, b, c in rows:
            f.write(f"| {a} | {b} | {c} |\n")
        f.write("\n## Goals\n\n| measure | value | goal | |\n|---|---|---|---|\n")
        for a, b, c, d in goals:
            f.write(f"| {a} | {b} | {c} | {d} |\n")
        f.write(notes if notes else "\n## Notes\n\n(none yet)\n")


if __name__ == "__main__":
    main()
