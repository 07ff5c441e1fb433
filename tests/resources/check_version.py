#!/usr/bin/env python3
"""Fails when updater.exe lacks the marker mkupdater reads (RCDATA KOVELA_STUB, "kovela-updater
<version>") or its version block, or when either disagrees with the VERSION file.

usage: check_version.py updater.exe        exit 0 when both name VERSION's version, 1 otherwise
"""
import os
import struct
import sys

from resources import Resources

RT_RCDATA, RT_VERSION = 10, 16
version = open(os.path.join(os.path.dirname(__file__), "..", "..", "VERSION")).read().split()[0]
res = Resources(sys.argv[1])
marker = res.data(RT_RCDATA, "KOVELA_STUB")
if marker != b"kovela-updater " + version.encode():
    sys.exit("marker: %r, expected kovela-updater %s" % (marker, version))
block = res.data(RT_VERSION, 1)
if not block:
    sys.exit("no version block")
fixed = block.find(struct.pack("<I", 0xFEEF04BD))  # VS_FIXEDFILEINFO's signature
ms, ls = struct.unpack_from("<II", block, fixed + 8)
numbers = [ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF]
expected = ([int(p) for p in version.split(".")] + [0, 0, 0, 0])[:4]
if fixed < 0 or numbers != expected:
    sys.exit("file version %s, expected %s" % (numbers, expected))
print("kovela-updater", version)
