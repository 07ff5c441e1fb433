#!/usr/bin/env python3
"""Fails when an #include points up the layers, or when portable code includes <windows.h>.

The layers, lowest first (README, "How the code is organised"):
  platform  <  base  <  payload, config, image  <  update  <  shell
A file may include its own folder and any lower layer, never a sibling of its own layer or
anything above it. mkupdater (tools/mkupdater) stands beside shell: it may include any layer
but shell. Only files named *_win32.cpp (and the platform's Win32 side) include <windows.h>.
"""
import pathlib
import re
import sys

RANK = {"platform": 0, "base": 1, "payload": 2, "config": 2, "image": 2, "update": 3, "shell": 4}
ROOT = pathlib.Path(__file__).resolve().parent.parent
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def check(path, layer, rank):
    problems = []
    for n, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        m = INCLUDE.match(line)
        if not m:
            continue
        kind, target = m.groups()
        where = f"{path.relative_to(ROOT)}:{n}"
        if kind == "<":
            if target.lower() in ("windows.h", "commctrl.h", "shlobj.h") and not path.stem.endswith("_win32") \
                    and not path.name.endswith("_win32.h"):
                problems.append(f"{where}: portable code includes <{target}>")
            continue
        folder = target.split("/")[0] if "/" in target else None
        if folder is None or folder not in RANK:
            continue  # a header of the same folder, or one of the tool's own
        if folder == layer:
            continue
        if RANK[folder] >= rank:
            problems.append(f"{where}: {layer}/ includes {target}, which is not below it")
    return problems


def main():
    problems = []
    for layer, rank in RANK.items():
        for path in sorted((ROOT / "src" / layer).glob("*.[ch]*")):
            problems += check(path, layer, rank)
    for path in sorted((ROOT / "tools" / "mkupdater").glob("*.[ch]*")):
        problems += check(path, "mkupdater", RANK["shell"])
    for p in problems:
        print(p)
    unknown = [d.name for d in (ROOT / "src").iterdir() if d.is_dir() and d.name not in RANK]
    for d in unknown:
        print(f"src/{d}: a folder without a layer; add it to scripts/check-layers.py and the README")
    return 1 if problems or unknown else 0


if __name__ == "__main__":
    sys.exit(main())
