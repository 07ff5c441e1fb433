"""Reads the resources of a built updater.exe with pefile: dialog templates (DIALOG and
DIALOGEX), icon groups, the manifest and any other resource by type and name."""
import struct

import pefile

RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_MANIFEST = 3, 5, 14, 24
# Predefined window classes that a template names by ordinal.
CLASS_ORDINALS = {0x80: "BUTTON", 0x81: "EDIT", 0x82: "STATIC", 0x83: "LISTBOX",
                  0x84: "SCROLLBAR", 0x85: "COMBOBOX"}


class Resources:
    def __init__(self, exe):
        self.pe = pefile.PE(exe, fast_load=True)
        self.pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])

    def find(self, rtype, name):
        """{language id: bytes} of the resource; types and names are ids or strings."""
        key = lambda e: e.id if e.name is None else str(e.name)
        root = getattr(self.pe, "DIRECTORY_ENTRY_RESOURCE", None)
        for entry in (e for t in (root.entries if root else []) if key(t) == rtype for e in t.directory.entries):
            if key(entry) == name:
                return {lang.id: self.pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                        for lang in entry.directory.entries}
        return {}

    def data(self, rtype, name):
        """The bytes of the resource's first language, or None."""
        found = self.find(rtype, name)
        return next(iter(found.values())) if found else None


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
        start = self.pos = self.pos - 2
        while self.take("H"):
            pass
        return self.data[start:self.pos - 2].decode("utf-16-le")

    def align(self):
        self.pos = (self.pos + 3) & ~3


def dialog(data):
    """The template as a dict: extended, style, exstyle, rect (x, y, cx, cy), menu, class,
    caption, font (points, face) when DS_SETFONT, and controls as tuples (id, class, text,
    rect, style, exstyle); predefined classes by name, class names upper-case."""
    r = Reader(data)
    d = {"extended": struct.unpack_from("<HH", data) == (1, 0xFFFF)}
    if d["extended"]:
        r.take("HHI")  # version, signature, help id
        d["exstyle"], d["style"] = r.take("II")
    else:
        d["style"], d["exstyle"] = r.take("II")
    count = r.take("H")
    d["rect"] = r.take("hhhh")
    d["menu"], d["class"], d["caption"] = r.sz_or_ord(), r.sz_or_ord(), r.sz_or_ord()
    if d["style"] & 0x40:  # DS_SETFONT
        points = r.take("H")
        if d["extended"]:
            r.take("HBB")  # weight, italic, character set
        d["font"] = (points, r.sz_or_ord())
    d["controls"] = []
    for _ in range(count):
        r.align()
        if d["extended"]:
            _, exstyle, style = r.take("III")
            rect, cid = r.take("hhhh"), r.take("i")
        else:
            style, exstyle = r.take("II")
            rect, cid = r.take("hhhh"), r.take("h")
        cls = r.sz_or_ord()
        cls = CLASS_ORDINALS.get(cls, cls) if isinstance(cls, int) else cls.upper()
        text = r.sz_or_ord()
        extra = r.take("H")  # creation data
        r.pos += extra
        d["controls"].append((cid, cls, text, rect, style, exstyle))
    return d


def icon_group(data, res):
    """The group's type and its images as dicts: width, height, colours, bits, length (as
    stored in the group) and image (the RT_ICON bytes, None when missing)."""
    r = Reader(data)
    _, kind, count = r.take("HHH")
    images = []
    for _ in range(count):
        width, height, colours, _, _, bits, length, image = r.take("BBBBHHIH")
        images.append({"width": width or 256, "height": height or 256, "colours": colours, "bits": bits,
                       "length": length, "image": res.data(RT_ICON, image)})
    return kind, images
