#!/usr/bin/env python3
"""Fails when an #include points up the layers, when portable code includes <windows.h>, or when
a text-bearing ANSI ("A") Windows call appears outside the seam.

The layers, lowest first (README, "How the code is organised"):
  platform  <  base  <  payload, config, image  <  update  <  shell
A file may include its own folder and any lower layer, never a sibling of its own layer or
anything above it. mkupdater (tools/mkupdater) stands beside shell: it may include any layer
but shell. Only files named *_win32.cpp (and the platform's Win32 side) include <windows.h>.

Every text is code page 932 inside; the ANSI calls would read it in the system's code page, so
texts reach Windows only through src/platform/ (the conversion and the wide calls) and the one
window-text helper, src/base/window_win32.cpp.
"""
import pathlib
import re
import sys

RANK = {"platform": 0, "base": 1, "payload": 2, "config": 2, "image": 2, "update": 3, "shell": 4}
ROOT = pathlib.Path(__file__).resolve().parent.parent
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
# Calls (and messages) that carry a text or a path, in their ANSI form.
ANSI = re.compile(r'\b(?:(?:MessageBox|SetWindowText|GetWindowText|GetWindowTextLength|SetDlgItemText|'
                  r'GetDlgItemText|DialogBoxParam|CreateDialogParam|CreateWindowEx|SHBrowseForFolder|'
                  r'SHGetPathFromIDList|CreateFile|CreateDirectory|RemoveDirectory|DeleteFile|MoveFile|'
                  r'MoveFileEx|CopyFile|FindFirstFile|FindNextFile|GetFileAttributes|GetFileAttributesEx|'
                  r'SetFileAttributes|GetDiskFreeSpace|GetDiskFreeSpaceEx|GetDriveType|RegOpenKeyEx|'
                  r'RegQueryValueEx|RegSetValueEx|RegCreateKeyEx|ShellExecute|ShellExecuteEx|GetTempPath|'
                  r'GetModuleFileName|SetCurrentDirectory|GetCurrentDirectory|GetWindowsDirectory|'
                  r'GetSystemDirectory|GetFullPathName|CreateMutex|WritePrivateProfileString|'
                  r'GetPrivateProfileString|LoadLibrary|LoadLibraryEx|SendDlgItemMessage|SendMessage|'
                  r'PostMessage|CallWindowProc|DefWindowProc|SetWindowLongPtr|SetWindowLong|PeekMessage|'
                  r'DispatchMessage|CreateProcess)A|ACM_OPENA|SHELLEXECUTEINFOA|BROWSEINFOA|WIN32_FIND_DATAA)\b')
ANSI_ALLOWED = {"src/platform", "src/base/window_win32.cpp"}


def check(path, layer, rank):
    problems = []
    rel = path.relative_to(ROOT).as_posix()
    ansi_allowed = any(rel == a or rel.startswith(a + "/") for a in ANSI_ALLOWED)
    for n, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if not ansi_allowed and ANSI.search(line.split("//")[0]):
            problems.append(f"{rel}:{n}: an ANSI call with text; use the seam or base/window_win32")
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
