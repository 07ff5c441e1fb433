#!/usr/bin/env python3
"""Reads the dialog templates, the application icon and the manifest back from a built
updater.exe and compares them with their tables; checks that res/resource.h, which the
templates, the dialog code and the Windows tests take their names from, defines the ids below.

usage: check_dialogs.py updater.exe        exit 0 when everything matches, 1 otherwise
"""
import ast
import pathlib
import re
import struct
import sys
import types
import xml.etree.ElementTree as ET

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from resources import RT_DIALOG, RT_GROUP_ICON, RT_MANIFEST, Resources, dialog, icon_group

# What res/resource.h must define: the one place here that gives an id its value. The
# templates below name their ids, so a changed header value fails both here and there.
IDS = {
    "IDD_MENU": "MAINDIALOG", **{f"IDC_MENU_SLOT{n}": 1000 + n for n in range(9)},
    "IDD_PROGRESS": "COPYINGDELUX", "IDC_PROGRESS_FILE_BAR": 1010, "IDC_PROGRESS_PATH": 1012,
    "IDC_PROGRESS_TOTAL_BAR": 1019, "IDC_PROGRESS_ANIMATION": 1020, "IDR_PROGRESS_CLIP": "AVI_FILECOPY",
    "IDD_SETUP": "SETUP", "IDC_SETUP_FOLDER": 1000, "IDC_SETUP_BROWSE": 1021,
    "IDD_FINISH": "ENDINSTALL", "IDD_FINISH_SHORT": "ENDINSTALL_SHORT", "IDC_FINISH_README": 1007,
}
ID = types.SimpleNamespace(**IDS)
HEADER = pathlib.Path(__file__).resolve().parents[2] / "res" / "resource.h"
IDOK, IDCANCEL = 1, 2

FONT = (9, "ＭＳ Ｐゴシック")
PUSH = 0x50010000        # child, visible, tab stop, push button
DEFPUSH = 0x50010001     # the same, default
LTEXT = 0x50020000       # child, visible, group, left-aligned text
PROGRESS = 0x50800001    # child, visible, border, smooth
PATH_TEXT = 0x50020201   # child, visible, group, centred vertically and horizontally
ANIMATION = 0x50000003   # child, visible, centred, transparent
SETUP_HINT = "[参照]ボタンで、既存のフォルダを参照できます\n[次へ]ボタンでインストールを開始します"
FINISHED = "インストールを終了しました。"

# Every template is a plain DIALOG without extended style, menu or class, in FONT; controls
# are (id, class, text, (x, y, width, height), style) in template (= tab) order, none with an
# extended style.
DIALOGS = {
    ID.IDD_MENU: {
        # popup, caption, system menu, set-foreground, modal frame, font
        "style": 0x80C802C0, "size": (234, 179), "caption": "ＫＯＶＥＬＡ アプリケーション スタートアップ",
        "controls": [
            (ID.IDC_MENU_SLOT7, "BUTTON", "Button8", (155, 55, 75, 14), PUSH),
            (ID.IDC_MENU_SLOT6, "BUTTON", "Button7", (155, 70, 75, 14), PUSH),
            (ID.IDC_MENU_SLOT5, "BUTTON", "Button6", (155, 85, 75, 14), PUSH),
            (ID.IDC_MENU_SLOT4, "BUTTON", "Button5", (155, 100, 75, 14), PUSH),
            (ID.IDC_MENU_SLOT3, "BUTTON", "Button4", (155, 115, 75, 14), PUSH),
            (ID.IDC_MENU_SLOT2, "BUTTON", "Button3", (155, 130, 75, 14), PUSH),
            (ID.IDC_MENU_SLOT1, "BUTTON", "Button2", (155, 145, 75, 14), PUSH),
            (ID.IDC_MENU_SLOT0, "BUTTON", "Button1", (155, 160, 75, 14), PUSH),
            (ID.IDC_MENU_SLOT8, "BUTTON", "Button9", (177, 7, 50, 14), PUSH),
        ],
    },
    ID.IDD_PROGRESS: {
        # popup, visible, caption, set-foreground, modal frame, font; no system menu
        "style": 0x90C002C0, "at": (0, 0), "size": (194, 109), "caption": "ファイルのコピー中...",
        "languages": [0x0411],  # Japanese
        "controls": [
            (ID.IDC_PROGRESS_FILE_BAR, "MSCTLS_PROGRESS32", "", (5, 50, 185, 10), PROGRESS),
            (ID.IDC_PROGRESS_PATH, "STATIC", "コピー中ファイル名", (5, 75, 185, 10), PATH_TEXT),
            (IDCANCEL, "BUTTON", "ｷｬﾝｾﾙ", (140, 90, 50, 14), PUSH),
            (ID.IDC_PROGRESS_TOTAL_BAR, "MSCTLS_PROGRESS32", "", (5, 60, 185, 10), PROGRESS),
            (ID.IDC_PROGRESS_ANIMATION, "SYSANIMATE32", "", (5, 5, 180, 40), ANIMATION),
        ],
    },
    ID.IDD_SETUP: {
        # popup, visible, caption, system menu, modal frame, font
        "style": 0x90C800C0, "size": (203, 95), "caption": "アップデート先のフォルダの指定",
        "controls": [
            (IDOK, "BUTTON", "次へ", (115, 75, 40, 14), PUSH),
            (IDCANCEL, "BUTTON", "ｷｬﾝｾﾙ", (160, 75, 40, 14), PUSH),
            (ID.IDC_SETUP_FOLDER, "EDIT", "", (10, 26, 130, 12), 0x50810080),  # border, tab stop, auto-scroll
            (ID.IDC_SETUP_BROWSE, "BUTTON", "参照(&B)", (145, 25, 50, 14), PUSH),
            (-1, "BUTTON", "", (5, 15, 195, 30), 0x50000007),  # group box
            (-1, "STATIC", SETUP_HINT, (5, 50, 191, 20), LTEXT),
            (-1, "STATIC", "アップデート先フォルダを指定してください", (10, 5, 190, 8), LTEXT),
        ],
    },
    ID.IDD_FINISH: {
        # popup, caption, system menu, modal frame, font
        "style": 0x80C800C0, "size": (178, 71), "caption": "インストール終了",
        "controls": [
            (IDOK, "BUTTON", "OK", (121, 50, 50, 14), DEFPUSH),
            (-1, "STATIC", FINISHED + "\n以下のメニューを選択してＯＫを押して下さい。", (6, 5, 165, 20), LTEXT),
            (ID.IDC_FINISH_README, "BUTTON", "readme", (5, 35, 160, 10), 0x50010003),  # automatic check box
        ],
    },
    ID.IDD_FINISH_SHORT: {
        "style": 0x80C800C0, "size": (175, 55), "caption": "インストール終了",
        "controls": [
            (IDOK, "BUTTON", "OK", (62, 34, 50, 14), DEFPUSH),
            (-1, "STATIC", FINISHED, (5, 5, 165, 20), LTEXT),
        ],
    },
}
ICON_GROUP, ICON_SIZES, ICON_COLOURS = 104, [32, 16], 16
MANIFEST = {"description": ["KOVELA autorun"], "levels": ["requireAdministrator"],
            "dependencies": [("Microsoft.Windows.Common-Controls", "6.0.0.0")]}

failures = []


def expect(what, actual, wanted):
    if actual != wanted:
        failures.append(f"{what}: found {actual!r}, expected {wanted!r}")


def check_header():
    found = {}
    text = HEADER.read_text(encoding="utf-8")
    for name, value in re.findall(r"^\s*#\s*define\s+(\w+)\s+(.*?)\s*$", text, re.M):
        try:
            found[name] = ast.literal_eval(value)
        except (ValueError, SyntaxError):
            found[name] = value
    for name in sorted(found.keys() | IDS.keys()):
        expect(f"res/resource.h {name}", found.get(name), IDS.get(name))


def check_dialog(res, name, want):
    languages = res.find(RT_DIALOG, name)
    if not languages:
        failures.append(f"{name}: missing")
        return
    if "languages" in want:
        expect(f"{name} languages", list(languages), want["languages"])
    d = dialog(next(iter(languages.values())))
    expect(f"{name} kind", "DIALOGEX" if d["extended"] else "DIALOG", "DIALOG")
    expect(f"{name} style", hex(d["style"]), hex(want["style"]))
    expect(f"{name} extended style", d["exstyle"], 0)
    expect(f"{name} size", d["rect"][2:], want["size"])
    if "at" in want:
        expect(f"{name} position", d["rect"][:2], want["at"])
    expect(f"{name} menu and class", (d["menu"], d["class"]), ("", ""))
    expect(f"{name} caption", d["caption"], want["caption"])
    expect(f"{name} font", d.get("font"), FONT)
    expect(f"{name} control count", len(d["controls"]), len(want["controls"]))
    for n, (found, wanted) in enumerate(zip(d["controls"], want["controls"])):
        expect(f"{name} control {n} (id, class, text, rect, style)", found[:4] + (hex(found[4]),),
               wanted[:4] + (hex(wanted[4]),))
        expect(f"{name} control {n} extended style", found[5], 0)


def check_icon(res):
    data = res.data(RT_GROUP_ICON, ICON_GROUP)
    if data is None:
        failures.append(f"icon group {ICON_GROUP}: missing")
        return
    kind, images = icon_group(data, res)
    expect("icon group type", kind, 1)
    expect("icon sizes", sorted((i["width"] for i in images), reverse=True), ICON_SIZES)
    for i in images:
        where = f"icon {i['width']} x {i['height']}"
        expect(f"{where} (height, colours, bits)", (i["height"], i["colours"], i["bits"]),
               (i["width"], ICON_COLOURS, 4))
        if i["image"] is None:
            failures.append(f"{where}: image missing")
            continue
        expect(f"{where} stored length", len(i["image"]), i["length"])
        expect(f"{where} image header", struct.unpack_from("<IiiHH", i["image"]),
               (40, i["width"], 2 * i["height"], 1, 4))
        if struct.unpack_from("<I", i["image"], 32)[0] not in (0, ICON_COLOURS):
            failures.append(f"{where}: palette is not {ICON_COLOURS} colours")


def check_manifest(res):
    data = res.data(RT_MANIFEST, 1)
    try:
        root = ET.fromstring(data)
    except (ET.ParseError, TypeError) as e:
        failures.append(f"manifest 1: missing or not well-formed XML ({e})")
        return
    elements = [(e.tag.rsplit("}", 1)[-1], e) for e in root.iter()]
    expect("manifest description", [e.text for t, e in elements if t == "description"], MANIFEST["description"])
    expect("manifest execution level", [e.get("level") for t, e in elements if t == "requestedExecutionLevel"],
           MANIFEST["levels"])
    expect("manifest dependencies", [(e.get("name"), e.get("version")) for t, d in elements
                                     if t == "dependentAssembly" for e in d
                                     if e.tag.endswith("assemblyIdentity")], MANIFEST["dependencies"])


def main(argv):
    check_header()
    res = Resources(argv[1])
    for name, want in DIALOGS.items():
        check_dialog(res, name, want)
    check_icon(res)
    check_manifest(res)
    for f in failures:
        print("check_dialogs:", f, file=sys.stderr)
    print("check_dialogs:", "FAILED" if failures else f"res/resource.h, {', '.join(DIALOGS)}, the icon and the manifest match")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
