#!/usr/bin/env python3
"""Reads the copy-progress window's template COPYINGDELUX back from a built updater.exe
and compares it with its table: Japanese language, style, position, size, caption, font,
and the five controls (id, class, style, rectangle, text) in template order.

usage: check_progress.py updater.exe        exit 0 when everything matches, 1 otherwise
"""
import struct
import sys

import pefile

RT_DIALOG = 5
LANG_JAPANESE = 0x0411
TEMPLATE = "COPYINGDELUX"

# popup, visible, caption, set-foreground, modal frame, font; no system menu
DIALOG_STYLE = 0x90C002C0
DIALOG_RECT = (0, 0, 194, 109)
DIALOG_CAPTION = "ファイルのコピー中..."
DIALOG_FONT = (9, "ＭＳ Ｐゴシック")

PROGRESS = 0x50800001   # child, visible, border, smooth
PATH_TEXT = 0x50020201  # child, visible, group, centred vertically and horizontally
PUSH = 0x50010000       # child, visible, tab stop
ANIMATION = 0x50000003  # child, visible, centred, transparent
# (id, class, style, (x, y, width, height), text) in template order.
CONTROLS = [
    (1010, "MSCTLS_PROGRESS32", PROGRESS, (5, 50, 185, 10), ""),
    (1012, "STATIC", PATH_TEXT, (5, 75, 185, 10), "コピー中ファイル名"),
    (2, "BUTTON", PUSH, (140, 90, 50, 14), "ｷｬﾝｾﾙ"),
    (1019, "MSCTLS_PROGRESS32", PROGRESS, (5, 60, 185, 10), ""),
    (1020, "SYSANIMATE32", ANIMATION, (5, 5, 180, 40), ""),
]
# Predefined classes that a template may name by ordinal.
CLASS_ORDINALS = {0x80: "BUTTON", 0x81: "EDIT", 0x82: "STATIC", 0x83: "LISTBOX",
                  0x84: "SCROLLBAR", 0x85: "COMBOBOX"}


class Reader:
    """Little-endian reader over a resource's bytes."""

    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def sz_or_ord(self):
        """A UTF-16 string, or an ordinal (0xFFFF + id) returned as an int."""
        if self.take("H") == 0xFFFF:
            return self.take("H")
        self.pos -= 2
        end = self.pos
        while struct.unpack_from("<H", self.data, end)[0] != 0:
            end += 2
        text = self.data[self.pos:end].decode("utf-16-le")
        self.pos = end + 2
        return text

    def align(self):
        self.pos = (self.pos + 3) & ~3


def parse_dialog(data):
    """A DLGTEMPLATE (the form windres makes of a DIALOG statement)."""
    r = Reader(data)
    d = {}
    d["style"], d["exstyle"] = r.take("II")
    count = r.take("H")
    d["rect"] = r.take("hhhh")
    r.sz_or_ord()  # menu
    r.sz_or_ord()  # class
    d["caption"] = r.sz_or_ord()
    if d["style"] & 0x40:  # DS_SETFONT
        d["font"] = (r.take("H"), r.sz_or_ord())
    d["controls"] = []
    for _ in range(count):
        r.align()
        style, _ = r.take("II")
        rect = r.take("hhhh")
        cid = r.take("H")
        cls = r.sz_or_ord()
        cls = CLASS_ORDINALS.get(cls, cls) if isinstance(cls, int) else cls.upper()
        text = r.sz_or_ord()
        extra = r.take("H")  # creation data
        r.pos += extra
        d["controls"].append((cid, cls, style, rect, text))
    return d


def find_template(pe):
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.id != RT_DIALOG:
            continue
        for entry in t.directory.entries:
            if entry.name is not None and str(entry.name) == TEMPLATE:
                return entry.directory.entries
    return []


def main(argv):
    pe = pefile.PE(argv[1])
    failures = []

    def expect(what, actual, wanted):
        if actual != wanted:
            failures.append(f"{what}: found {actual!r}, expected {wanted!r}")

    languages = find_template(pe)
    if not languages:
        print(f"{TEMPLATE}: no such dialog")
        return 1
    expect("languages", [lang.id for lang in languages], [LANG_JAPANESE])
    lang = languages[0]
    data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
    if struct.unpack_from("<HH", data, 0) == (1, 0xFFFF):
        print(f"{TEMPLATE}: an extended template, expected a plain DIALOG")
        return 1
    d = parse_dialog(data)
    expect("style", hex(d["style"]), hex(DIALOG_STYLE))
    expect("extended style", d["exstyle"], 0)
    expect("rectangle", d["rect"], DIALOG_RECT)
    expect("caption", d["caption"], DIALOG_CAPTION)
    expect("font", d.get("font"), DIALOG_FONT)
    expect("control count", len(d["controls"]), len(CONTROLS))
    for n, (found, wanted) in enumerate(zip(d["controls"], CONTROLS)):
        fid, fcls, fstyle, frect, ftext = found
        wid, wcls, wstyle, wrect, wtext = wanted
        expect(f"control {n} id", fid, wid)
        expect(f"control {wid} class", fcls, wcls)
        expect(f"control {wid} style", hex(fstyle), hex(wstyle))
        expect(f"control {wid} rectangle", frect, wrect)
        expect(f"control {wid} text", ftext, wtext)

    for f in failures:
        print(f)
    print(f"{TEMPLATE}: {'FAILED' if failures else 'ok'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
