#!/usr/bin/env python3
"""Writes the seeds of fuzz_patch: patches for its fixed installed file, as result size and body."""
import hashlib
import os
import struct
import zlib

base = bytes(((i * 2654435761) & 0xFFFFFFFF) >> 16 & 0xFF for i in range(65536))


def number(v):
    out = bytearray()
    while v >= 0x80:
        out.append(v & 0x7F | 0x80)
        v >>= 7
    out.append(v)
    return bytes(out)


def seed(name, ops):
    stream, result, end = bytearray(), bytearray(), 0
    for op in ops:
        if isinstance(op, bytes):
            stream += b"\x02" + number(len(op)) + op
            result += op
        else:
            start, length = op
            delta = start - end
            stream += b"\x01" + number(length) + number(delta * 2 if delta >= 0 else -delta * 2 - 1)
            result += base[start:start + length]
            end = start + length
    stream += b"\x00"
    body = struct.pack("<I", len(base)) + hashlib.sha256(base).digest() + hashlib.sha256(result).digest()
    with open(os.path.join(os.path.dirname(__file__), "corpus", "patch", name), "wb") as f:
        f.write(struct.pack("<I", len(result)) + body + zlib.compress(bytes(stream), 9))


seed("insert", [(0, 30000), b"a new entry" * 40, (30000, 35536)])
seed("move", [(40000, 25536), (0, 40000)])
seed("literal", [b"only new bytes"])
seed("empty", [])
