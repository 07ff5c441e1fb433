#!/usr/bin/env python3
"""mkupdater's feedback as a terminal shows it: a progress bar on standard error when that is a
terminal (and only then), a one-line summary of the build, and silence with --quiet.

usage: terminal.py <mkupdater>     exit 0 when every case holds
"""
import os, pty, re, struct, subprocess, sys, tempfile

tool = sys.argv[1]
work = tempfile.mkdtemp()


def updater_stub(version):
    """1024 bytes that mkupdater takes for updater.exe: PE headers and a resource section with
    the marker (RCDATA KOVELA_STUB, "kovela-updater <version>"), as tests/unit's UpdaterStub."""
    b = bytearray(1024)
    put = lambda at, fmt, *v: struct.pack_into("<" + fmt, b, at, *v)
    b[0:2] = b"MZ"
    put(0x3C, "I", 0x40)
    b[0x40:0x44] = b"PE\0\0"
    put(0x44, "HH", 0x14C, 1)                          # i386, one section
    put(0x54, "HHH", 96 + 128, 0x0102, 0x10B)          # optional header size, flags, PE32
    put(0x58 + 60, "I", 512)                           # size of the headers
    put(0x58 + 92, "I", 16)                            # data directories
    put(0x58 + 96 + 16, "II", 0x1000, 512)             # resources
    b[0x138:0x13D] = b".rsrc"
    put(0x138 + 8, "IIII", 512, 0x1000, 512, 512)      # virtual size, address, raw size, offset
    r, text, name = 512, b"kovela-updater " + version.encode(), "KOVELA_STUB"
    put(r + 0x0E, "HII", 1, 10, 0x80000018)            # type RCDATA
    put(r + 0x18 + 0x0C, "HHII", 1, 0, 0x80000060, 0x80000030)  # the name
    put(r + 0x30 + 0x0E, "HII", 1, 0x411, 0x48)        # the language
    put(r + 0x48, "II", 0x1080, len(text))
    put(r + 0x60, "H", len(name))
    b[r + 0x62:r + 0x62 + 2 * len(name)] = name.encode("utf-16-le")
    b[r + 0x80:r + 0x80 + len(text)] = text
    return bytes(b)


version = open(os.path.join(os.path.dirname(__file__), "..", "..", "VERSION")).read().split()[0]
stub = os.path.join(work, "stub.exe")
with open(stub, "wb") as f:
    f.write(updater_stub(version))
folder, exe = os.path.join(work, "in"), os.path.join(work, "u.exe")
subprocess.run([tool, "init", folder], check=True, stdout=subprocess.DEVNULL)
with open(os.path.join(folder, "big.dat"), "wb") as f:
    f.write(os.urandom(24 << 20))


def run(args, terminal):
    """Exit code, standard output and standard error of the tool, stderr on a terminal or a pipe."""
    if not terminal:
        p = subprocess.run([tool] + args, capture_output=True)
        return p.returncode, p.stdout.decode(), p.stderr.decode()
    master, slave = pty.openpty()
    p = subprocess.Popen([tool] + args, stdout=subprocess.PIPE, stderr=slave)
    os.close(slave)
    err = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        err += chunk
    out = p.stdout.read().decode()
    return p.wait(), out, err.decode()


build = ["build", "--stub", stub, "--out", exe, folder]
bar = re.compile(r"packing \[[#.]{16}\] +\d+%  .+/.+  .+/s  .+ left")
summary = re.compile(r"u\.exe: 3 files, 24\.0 MiB in, 24\.0 MiB out \(100\.\d%\), \d+\.\d s\n$")
cases = [  # name, arguments, stderr on a terminal, stdout pattern or "" for none, bar expected
    ("build on a terminal", build, True, summary, True),
    ("build into a pipe", build, False, summary, False),
    ("quiet build", build[:1] + ["--quiet"] + build[1:], True, None, False),
    ("verify on a terminal", ["verify", exe], True, re.compile(r"u\.exe: ok\n$"), True),
    ("quiet extract", ["extract", "-q", exe, os.path.join(work, "out")], True, None, False),
]
failed = 0
for name, args, terminal, out_pattern, want_bar in cases:
    code, out, err = run(args, terminal)
    problems = []
    if code != 0:
        problems.append(f"exit code {code}")
    if out_pattern is None and out:
        problems.append(f"printed {out!r}")
    if out_pattern is not None and not out_pattern.search(out):
        problems.append(f"summary {out!r}")
    shown = bool(re.search(r"(packing|checking|extracting) \[", err))
    if shown != want_bar or (want_bar and name.startswith("build") and not bar.search(err)):
        problems.append(f"bar {'missing' if want_bar else 'shown'}: {err[-200:]!r}")
    if want_bar and not err.endswith("\r"):
        problems.append("the bar's line is not cleared at the end")
    print(("FAIL " if problems else "ok   ") + name + (": " + "; ".join(problems) if problems else ""))
    failed += bool(problems)
print(f"{len(cases) - failed} passed, {failed} failed")
sys.exit(1 if failed else 0)
