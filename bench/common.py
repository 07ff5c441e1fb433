"""What every part of the benchmarks shares: where things are, how many rounds, the figures'
statistics and the process helpers. Settings come from the environment (see run.py)."""
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
