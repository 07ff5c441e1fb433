"""The report: the table of times, the goals measured against their limits (the table of
limits is GOALS at the top of run.py), and bench/RESULTS.md."""
from common import *  # noqa: F401,F403
from measure import progress_blocks


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


def report(limits, build, nat, w, base):
    rows, goals = [], []

    def col(tag, key):
        return [r[key] / 1000 for r in w.get(tag, []) if key in r]

    def goal(label, a, b, key, fmt="{:.2f}"):
        """A ratio of best times against its limit in the table (key); beside it the median of
        the ratios round by round (the runs of one round ran side by side)."""
        sense, limit = limits[key]
        upper = sense == "<="
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
    goal(f"build {MAIN} MiB: payload (output less stub) / 7z -mx=9 zip", [sz["updater"] - sz["stub"]], [sz["zip"]],
         "build size, payload / 7z zip", fmt="{:.4f}")
    goal(f"build {MAIN} MiB: deflate data alone, mkupdater / 7z -mx=9", [sz["ours"]], [sz["7z"]],
         "build size, deflate data / 7z", fmt="{:.4f}")
    goal(f"build {MAIN} MiB: time, mkupdater / one zlib -9 pass", t["build"], t["zlib"], "build time / one zlib -9 pass")

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
            key = "Wine small files" if what == "small" else "Wine 64 MiB" if what == MAIN else "Wine larger"
            goal(f"Wine {label} ({drive}): updater / probe", u, p, key + " / probe")
            if base and what in (MAIN, 1024):
                goal(f"Wine {label} ({drive}): updater / baseline", u, col(f"base-{what}-{drive}", "extract_ms"),
                     "Wine / baseline")
    launch = col("launch", "wall_ms")
    rows.append(("Wine", "process start to exit, empty program", fmt_s(launch)))
    for drive in DRIVES:
        n = [x - best(launch) for x in col(f"nsis-{MAIN}-{drive}", "wall_ms")]
        rows.append((f"Wine {MAIN} MiB, {drive}", "NSIS /S, start to exit less the empty program's", fmt_s(n)))
        goal(f"Wine {MAIN} MiB ({drive}): NSIS / updater", n, col(f"upd-{MAIN}-{drive}", "extract_ms"),
             "Wine NSIS / updater")

    # Start-up and memory
    s = {what: col(f"startup-{what}", "menu_ms") for what in (START, BIG)}
    rows += [(f"Wine {what} MiB", "start to menu", fmt_s(s[what])) for what in (START, BIG)]
    goal(f"start-up to menu, {BIG} MiB / {START} MiB", s[BIG], s[START], "start-up, largest / smallest")
    peak = {what: max([r["peak_ws_kib"] for r in w.get(f"upd-{what}-tmpfs", [])] or [float("nan")])
            for what in (MAIN, BIG)}
    rows.append(("Wine", "updater peak working set (VmHWM)", f"{peak[MAIN]:.0f} KiB at {MAIN} MiB, "
                                                             f"{peak[BIG]:.0f} KiB at {BIG} MiB"))
    goal(f"peak working set, {BIG} MiB / {MAIN} MiB", [peak[BIG]], [peak[MAIN]], "peak working set, largest / 64 MiB")
    if base:
        for what in (START, BIG):
            goal(f"start-up to menu at {what} MiB, updater / baseline", s[what], col(f"startup-{what}-base", "menu_ms"),
                 "start-up / baseline")
        bpeak = max([r["peak_ws_kib"] for r in w.get(f"base-{BIG}-tmpfs", [])] or [float("nan")])
        rows.append(("Wine", "baseline peak working set", f"{bpeak:.0f} KiB at {BIG} MiB"))
        goal(f"peak working set at {BIG} MiB, updater / baseline", [peak[BIG]], [bpeak], "peak working set / baseline")
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
