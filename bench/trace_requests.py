#!/usr/bin/python3
"""Counts the wineserver requests that the updater's thread makes in a Full pass.

    python3 bench/trace_requests.py [updater stub]    (default: build/win32/updater.exe)

Packs the 32 MiB benchmark tree with the stub, runs it once under Wine like a user (the bench
driver, into C:\\bench\\trace) with a wineserver started in debug mode (`wineserver -d1`, which
writes one line per request and one per reply), and reads the trace:
  - the updater's thread is the one that creates the progress bars; counted are its requests
    from the progress dialog's creation to the finish dialog's;
  - each file record starts at its first open (create_file with FILE_OVERWRITE_IF under the
    install folder), each folder record at its create_file with FILE_CREATE; the file records
    run to the next record, the last to the progress window's destruction;
  - per block and per file: a least-squares fit over the file records (all but the last) of
    requests = per file + per block x blocks, blocks being the file's progress updates (one per
    128 KiB of output, the last part counted), in all and for each request name.
Prints the report and writes it to bench/TRACE.md. Environment as for bench/run.py
(BENCH_WORK, BENCH_NATIVE, BENCH_WIN32, WINEPREFIX).
"""
import collections
import datetime
import hashlib
import os
import re
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run as bench  # noqa: E402

MIB = 32
INSTALL = "C:\\bench\\trace"
LINE = re.compile(r"^([0-9a-f]{4}): (\w+)\((.*)$")


def trace(exe, log):
    """Runs the updater once under a wineserver in debug mode; the trace goes to log."""
    env = dict(os.environ, WINEPREFIX=bench.PREFIX)
    bench.run([f"{bench.ROOT}/scripts/wine-prefix.sh", bench.PREFIX], env=env)
    os.makedirs(os.path.join(bench.PREFIX, "drive_c", "bench"), exist_ok=True)
    script = (f"wineserver -k 2>/dev/null; wineserver -f -d1 -p 30 2>'{log}' & sleep 1; "
              f"wine '{bench.WIN32}/wine_bench.exe' updater '{bench.winpath(exe)}' '{INSTALL}' "
              f"'C:\\bench\\temp' 1")
    bench.run([f"{bench.ROOT}/scripts/on-display.sh", os.path.join(bench.WORK, "shots"), "bash", "-c", script],
              env=env)


def requests(log):
    """[(thread, name, arguments)] of the requests, replies left out; {thread: process}."""
    reqs, process = [], {}
    for line in open(log, errors="replace"):
        m = LINE.match(line)
        if not m:
            continue
        tid, name, rest = m.groups()
        if rest.startswith(") = "):
            if name == "init_first_thread":
                p = re.search(r"pid=([0-9a-f]+), tid=([0-9a-f]+)", rest)
                process[p.group(2)] = p.group(1)
            elif name == "new_thread":
                process[re.search(r"tid=([0-9a-f]+)", rest).group(1)] = process.get(tid)
            continue
        reqs.append((tid, name, rest))
    return reqs, process


def fit(points):
    """Least squares y = a + b x over [(x, y)]: (a, b)."""
    n = len(points)
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    sxx = sum((x - mx) ** 2 for x, _ in points)
    b = sum((x - mx) * (y - my) for x, y in points) / sxx if sxx else 0.0
    return my - b * mx, b


def payload_name(rel, sizes):
    """The payload file that an opened name stands for: itself, or the one whose name it holds
    (a file written under a temporary name beside its destination, or inside a new folder
    staged under such a name), the longest such."""
    rel = re.sub(r"\.kovela-new(?=\\|$)", "", rel)
    if rel in sizes:
        return rel
    folder, _, base = rel.rpartition("\\")
    hits = [n for n in sizes if n.rpartition("\\")[0] == folder and n.rpartition("\\")[2] in base]
    return max(hits, key=len) if hits else None


def analyse(reqs, process, sizes):
    first_bar = next(i for i, (_, n, a) in enumerate(reqs) if n == "create_window" and "MSCTLS_PROGRESS32" in a)
    ui = reqs[first_bar][0]
    mine = [(i, n, a) for i, (t, n, a) in enumerate(reqs) if t == ui]
    dialogs = [i for i, n, a in mine if n == "create_window" and "atom=8002" in a]
    start = max(i for i in dialogs if i < first_bar)
    end = min(i for i in dialogs if i > first_bar)
    span = [(i, n, a) for i, n, a in mine if start <= i < end]
    others = sum(1 for i, (t, _, _) in enumerate(reqs)
                 if start <= i < end and t != ui and process.get(t) == process.get(ui))

    prefix = "\\??\\" + INSTALL + "\\"
    records, seen = [], set()          # [(index, payload name or None for a folder)]
    for i, n, a in span:
        if n != "create_file":
            continue
        m = re.search(r'name=L"((?:[^"\\]|\\.)*)"', a)
        name = m.group(1).replace("\\\\", "\\") if m else ""
        if not name.startswith(prefix):
            continue
        rel = name[len(prefix):]
        if "create=2," in a and "options=00000021" in a:
            records.append((i, None))
        elif "create=5," in a:
            entry = payload_name(rel, sizes)
            if entry and entry not in seen:
                seen.add(entry)
                records.append((i, entry))
    if not records:
        raise SystemExit(f"trace: no record opened under {INSTALL} was recognised")
    closing = min(i for i, n, _ in span if n == "destroy_window" and i > records[-1][0])
    bounds = [r[0] for r in records] + [closing]
    per_record = []                    # (blocks or None, Counter of names)
    for (i, rel), j in zip(records, bounds[1:]):
        c = collections.Counter(n for k, n, _ in span if i <= k < j)
        per_record.append((None if rel is None else -(-sizes[rel] // 131072), c))
    parts = {"opening": sum(1 for i, _, _ in span if i < bounds[0]),
             "records": sum(1 for i, _, _ in span if bounds[0] <= i < bounds[-2]),
             "last": sum(1 for i, _, _ in span if bounds[-2] <= i < closing),
             "closing": sum(1 for i, _, _ in span if i >= closing)}
    return span, others, per_record, parts


def report(stub, span, others, per_record, parts):
    files = [(b, c) for b, c in per_record if b is not None]
    folders = len(per_record) - len(files)
    blocks = sum(b for b, _ in files)
    fitted = [(b, c) for b, c in per_record[:-1] if b is not None]  # the last runs on to the close
    a, b = fit([(bl, sum(c.values())) for bl, c in fitted])
    total = collections.Counter(n for _, n, _ in span)
    lines = [
        "# wineserver requests of the updater's thread in a Full pass",
        "",
        f"Written by bench/trace_requests.py on {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC.",
        f"Stub: {stub} ({os.path.getsize(stub)} bytes, sha1 {hashlib.sha1(open(stub, 'rb').read()).hexdigest()[:12]}); "
        f"the worktree's last change to src/: "
        f"{bench.out(['git', '-C', bench.ROOT, 'log', '-1', '--format=%h %s', '--', 'src'])[:70]}.",
        f"Payload: the {MIB} MiB tree of bench/gen_payload.py, {len(files)} files, {folders} folders, {blocks} "
        f"progress updates (128 KiB blocks, the last part of each file counted).",
        "",
        "| part of the pass | requests |",
        "|---|---|",
        f"| opening: progress dialog created to the first record | {parts['opening']} |",
        f"| the records but the last | {parts['records']} |",
        f"| the last record and what follows it up to the progress window's destruction | {parts['last']} |",
        f"| closing: to the finish dialog's creation | {parts['closing']} |",
        f"| **all, the updater's thread** | **{len(span)}** |",
        f"| other threads of the updater (animation) | {others} |",
        "",
        f"Fit over the first {len(fitted)} file records, requests = per file + per block x blocks: "
        f"**{b:.2f} per block, {a:.2f} per file**. All in, the records make "
        f"{(parts['records'] + parts['last']) / blocks:.2f} requests per block "
        f"({(parts['records'] + parts['last']) / len(files):.1f} per file).",
        "",
        "Mean requests of a file record by its number of blocks: " + "; ".join(
            f"{k}: {sum(sum(c.values()) for b, c in fitted if b == k) / n:.1f} ({n} files)"
            for k, n in sorted(collections.Counter(b for b, _ in fitted).items())[:5]) + ".",
        "",
        "A bar repaints only when its position changes: the file bar once per full 128 KiB block, the",
        "overall bar once per 128 KiB of payload read. A file's last, partial block moves neither, so",
        "redraw_window and get_update_region follow the blocks rather than the updates, and their",
        "per-file figures come out below zero.",
        "",
        "| request | count | per block | per file |",
        "|---|---|---|---|",
    ]
    for name, count in total.most_common():
        if count < 10:
            break
        ai, bi = fit([(bl, c[name]) for bl, c in fitted])
        lines.append(f"| {name} | {count} | {bi:.2f} | {ai:.2f} |")
    rest = sum(c for c in total.values() if c < 10)
    lines.append(f"| (others, fewer than 10 each) | {rest} | | |")
    return "\n".join(lines) + "\n"


def main():
    stub = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else f"{bench.WIN32}/updater.exe"
    os.makedirs(bench.WORK, exist_ok=True)
    src, _ = bench.tree(MIB)
    exe = os.path.join(bench.WORK, f"trace-{MIB}.exe")
    bench.pack(MIB, stub, exe)
    log = os.path.join(bench.WORK, "trace.log")
    trace(exe, log)
    sizes = {os.path.relpath(os.path.join(r, n), src).replace("/", "\\"): os.path.getsize(os.path.join(r, n))
             for r, _, fs in os.walk(src) for n in fs}
    text = report(stub, *analyse(*requests(log), sizes))
    print(text)
    open(os.path.join(bench.ROOT, "bench/TRACE.md"), "w").write(text)
    subprocess.run(["rm", "-rf", os.path.join(bench.PREFIX, "drive_c", "bench", "trace")])


if __name__ == "__main__":
    main()
