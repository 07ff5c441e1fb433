#!/usr/bin/env python3
"""Reads the main menu's resources back from a built updater.exe and compares them with
what the menu and the installer-facing metadata require:

  - the MAINDIALOG template: style, size, font, caption, and the nine placeholder buttons
    (ids, texts, positions, styles) in their template (= tab) order;
  - the application icon, group 104: a 32 x 32 and a 16 x 16 image, 16 colours each;
  - the manifest: administrator rights, common controls 6, description "KOVELA autorun".

usage: check_menu.py updater.exe        exit 0 when everything matches, 1 otherwise
"""
import struct
import sys
import xml.etree.ElementTree as ET

import pefile

RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_MANIFEST = 3, 5, 14, 24

DIALOG_STYLE = 0x80C802C0  # popup, caption, system menu, set-foreground, modal frame, font
DIALOG_SIZE = (234, 179)
DIALOG_FONT = (9, "ＭＳ Ｐゴシック")
DIALOG_CAPTION = "ＫＯＶＥＬＡ アプリケーション スタートアップ"
BUTTON_STYLE = 0x50010000  # child, visible, tab stop, plain push button
BUTTON_CLASS = 0x0080
# (id, placeholder text, x, y, width, height) in template order.
BUTTONS = [
    (1007, "Button8", 155, 55, 75, 14),
    (1006, "Button7", 155, 70, 75, 14),
    (1005, "Button6", 155, 85, 75, 14),
    (1004, "Button5", 155, 100, 75, 14),
    (1003, "Button4", 155, 115, 75, 14),
    (1002, "Button3", 155, 130, 75, 14),
    (1001, "Button2", 155, 145, 75, 14),
    (1000, "Button1", 155, 160, 75, 14),
    (1008, "Button9", 177, 7, 50, 14),
]
ICON_GROUP = 104
ICON_SIZES = [32, 16]
ICON_COLOURS = 16
MANIFEST_DESCRIPTION = "KOVELA autorun"
MANIFEST_LEVEL = "requireAdministrator"
COMMON_CONTROLS = ("Microsoft.Windows.Common-Controls", "6.0.0.0")

failures = []


def expect(what, actual, wanted):
    if actual != wanted:
        failures.append(f"{what}: found {actual!r}, expected {wanted!r}")


class Reader:
    """Little-endian reader over a resource's bytes."""

    def __init__(self, data):
        self.data, self.pos = data, 0

    def u16(self):
        (v,) = struct.unpack_from("<H", self.data, self.pos)
        self.pos += 2
        return v

    def i16(self):
        (v,) = struct.unpack_from("<h", self.data, self.pos)
        self.pos += 2
        return v

    def u32(self):
        (v,) = struct.unpack_from("<I", self.data, self.pos)
        self.pos += 4
        return v

    def sz_or_ord(self):
        """A UTF-16 string, or an ordinal (0xFFFF + id) returned as an int; "" when absent."""
        if self.u16() == 0xFFFF:
            return self.u16()
        self.pos -= 2
        end = self.pos
        while struct.unpack_from("<H", self.data, end)[0] != 0:
            end += 2
        text = self.data[self.pos:end].decode("utf-16-le")
        self.pos = end + 2
        return text

    def align4(self):
        self.pos = (self.pos + 3) & ~3


def resources(pe):
    """{(type, name): bytes}, names as int ids or upper-case strings (first language)."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for entry in rtype.directory.entries:
            name = str(entry.name).upper() if entry.name is not None else entry.id
            lang = entry.directory.entries[0]
            found[(rtype.id, name)] = pe.get_data(lang.data.struct.OffsetToData,
                                                  lang.data.struct.Size)
    return found


def check_dialog(data):
    r = Reader(data)
    if struct.unpack_from("<HH", data, 0) == (1, 0xFFFF):
        failures.append("MAINDIALOG: an extended (DIALOGEX) template; expected a plain DIALOG")
        return
    style = r.u32()
    r.u32()  # extended style
    count = r.u16()
    r.i16(), r.i16()
    size = (r.i16(), r.i16())
    expect("MAINDIALOG style", hex(style), hex(DIALOG_STYLE))
    expect("MAINDIALOG size", size, DIALOG_SIZE)
    expect("MAINDIALOG menu", r.sz_or_ord(), "")
    expect("MAINDIALOG class", r.sz_or_ord(), "")
    expect("MAINDIALOG caption", r.sz_or_ord(), DIALOG_CAPTION)
    if style & 0x40:
        point = r.u16()
        expect("MAINDIALOG font", (point, r.sz_or_ord()), DIALOG_FONT)
    expect("MAINDIALOG control count", count, len(BUTTONS))
    for index in range(min(count, len(BUTTONS))):
        r.align4()
        cstyle, _ = r.u32(), r.u32()
        x, y, cx, cy = r.i16(), r.i16(), r.i16(), r.i16()
        cid = r.u16()
        cls, text = r.sz_or_ord(), r.sz_or_ord()
        extra = r.u16()
        r.pos += extra
        want = BUTTONS[index]
        where = f"MAINDIALOG control {index + 1}"
        expect(f"{where} (id, text, x, y, width, height)", (cid, text, x, y, cx, cy), want)
        expect(f"{where} style", hex(cstyle), hex(BUTTON_STYLE))
        if not (cls == BUTTON_CLASS or (isinstance(cls, str) and cls.upper() == "BUTTON")):
            failures.append(f"{where} class: found {cls!r}, expected the button class")


def check_icon(group, images):
    r = Reader(group)
    r.u16()
    expect("icon group type", r.u16(), 1)
    count = r.u16()
    sizes = []
    for _ in range(count):
        width, height, colours, _ = struct.unpack_from("<BBBB", group, r.pos)
        r.pos += 4
        planes, bits, length, icon_id = r.u16(), r.u16(), r.u32(), r.u16()
        width, height = width or 256, height or 256
        sizes.append(width)
        where = f"icon {width} x {height}"
        expect(f"{where} is square", height, width)
        expect(f"{where} colour count", colours, ICON_COLOURS)
        expect(f"{where} bits per pixel", bits, 4)
        image = images.get((RT_ICON, icon_id))
        if image is None:
            failures.append(f"{where}: image {icon_id} is missing")
            continue
        expect(f"{where} stored length", len(image), length)
        (hsize, bw, bh, bplanes, bbits) = struct.unpack_from("<IiiHH", image, 0)
        expect(f"{where} image header", (hsize, bw, bh, bplanes, bbits),
               (40, width, 2 * height, 1, 4))
        (used,) = struct.unpack_from("<I", image, 32)
        if used not in (0, ICON_COLOURS):
            failures.append(f"{where}: {used} palette entries, expected {ICON_COLOURS}")
    expect("icon sizes", sorted(sizes, reverse=True), ICON_SIZES)


def check_manifest(data):
    try:
        root = ET.fromstring(data)
    except ET.ParseError as e:
        failures.append(f"manifest: not well-formed XML ({e})")
        return

    def local(tag):
        return tag.rsplit("}", 1)[-1]

    descriptions = [e.text for e in root.iter() if local(e.tag) == "description"]
    expect("manifest description", descriptions, [MANIFEST_DESCRIPTION])
    levels = [e.get("level") for e in root.iter() if local(e.tag) == "requestedExecutionLevel"]
    expect("manifest execution level", levels, [MANIFEST_LEVEL])
    dependencies = [(e.get("name"), e.get("version")) for d in root.iter()
                    if local(d.tag) == "dependentAssembly"
                    for e in d if local(e.tag) == "assemblyIdentity"]
    expect("manifest dependencies", dependencies, [COMMON_CONTROLS])


def main():
    if len(sys.argv) != 2:
        print("usage: check_menu.py updater.exe", file=sys.stderr)
        return 2
    pe = pefile.PE(sys.argv[1], fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    found = resources(pe)
    checks = [
        ((RT_DIALOG, "MAINDIALOG"), "dialog MAINDIALOG", check_dialog),
        ((RT_GROUP_ICON, ICON_GROUP), f"icon group {ICON_GROUP}",
         lambda data: check_icon(data, found)),
        ((RT_MANIFEST, 1), "manifest 1", check_manifest),
    ]
    for key, name, check in checks:
        if key in found:
            check(found[key])
        else:
            failures.append(f"{name}: missing from {sys.argv[1]}")
    for f in failures:
        print("check_menu:", f, file=sys.stderr)
    if not failures:
        print("check_menu: MAINDIALOG, icon group 104 and the manifest match")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
