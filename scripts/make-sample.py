#!/usr/bin/env python3
"""Writes samples/vellaro-sample.png: our own 256x256 RGBA picture with soft transparency."""
import math
import struct
import sys
import zlib

W = H = 256


def pixel(x, y):
    cx, cy = x - 127.5, y - 127.5
    r = math.hypot(cx, cy)
    angle = math.atan2(cy, cx)
    red = int(127 + 127 * math.cos(angle))
    green = int(127 + 127 * math.cos(angle - 2.094))
    blue = int(127 + 127 * math.cos(angle + 2.094))
    # Opaque ring, a soft edge, a half-transparent core and a clear outside.
    if r > 120:
        alpha = 0
    elif r > 100:
        alpha = int(255 * (120 - r) / 20)
    elif r < 40:
        alpha = 128
    else:
        alpha = 255
    return bytes((red, green, blue, alpha))


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


raw = b"".join(b"\0" + b"".join(pixel(x, y) for x in range(W)) for y in range(H))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 6, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
with open(sys.argv[1] if len(sys.argv) > 1 else "samples/vellaro-sample.png", "wb") as out:
    out.write(png)
