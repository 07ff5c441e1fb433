"""The Wine session: the bench drives, the plan of runs round by round and the one session that
runs them on a private display (driven by bench/win32/wine_bench.cpp)."""
from common import *  # noqa: F401,F403

RUN_PY = os.path.join(ROOT, "bench", "run.py")


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
    wine_bench command line, ("rm", unix path) or ("cp", unix tree, unix copy). Returns ({tag: [{key: value}]}, [load])."""
    env = dict(os.environ, WINEPREFIX=PREFIX)
    lines = []
    for tag, args in plan:
        if args[0] == "rm":
            lines.append(f"rm -rf '{args[1]}'")
            continue
        if args[0] == "cp":  # a fresh copy of a tree, its times kept
            lines.append(f"rm -rf '{args[2]}' && cp -a '{args[1]}' '{args[2]}'")
            continue
        if args[0] == "gate":
            lines.append(f"'{sys.executable}' '{RUN_PY}' --gate")
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
