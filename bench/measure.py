"""Measuring: the generated trees and the updaters packed from them, the build and native
figures, and the gate that waits for a quiet machine before each round."""
from common import *  # noqa: F401,F403


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
