#!/usr/bin/env python3
"""Copies a PNG with its image data deflated at the highest level.

The Windows dialog test writes its picture with stored (uncompressed) deflate
blocks, since the Windows build has no zlib; this shrinks it for docs/.
Usage: compress-png.py SOURCE TARGET
"""
import struct
import sys
import zlib


def chunk(kind, body):
    crc = zlib.crc32(kind + body)
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", crc)


def main(source, target):
    data = open(source, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{source}: not a PNG file")
    pos, others, image = 8, [], b""
    while pos + 8 <= len(data):
        (size,) = struct.unpack(">I", data[pos:pos + 4])
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + size]
        pos += 12 + size
        if kind == b"IDAT":
            image += body
        else:
            others.append((kind, body))
    out = data[:8]
    for kind, body in others:
        if kind == b"IEND":
            out += chunk(b"IDAT", zlib.compress(zlib.decompress(image), 9))
        out += chunk(kind, body)
    open(target, "wb").write(out)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
