#!/usr/bin/env python3
"""Convert a binary PPM (P6, maxval 255) to PNG with the standard library only.

Usage: ppm2png.py IN.ppm OUT.png
"""
import struct
import sys
import zlib


def read_ppm(path):
    try:
        with open(path, "rb") as ppm:
            data = ppm.read()
    except OSError as problem:
        raise SystemExit(f"ppm2png: {path}: {problem.strerror}")
    fields, pos = [], 0
    while len(fields) < 4 and pos < len(data):
        while data[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while pos < len(data) and not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    if len(fields) < 4 or fields[0] != b"P6" or fields[3] != b"255" \
            or not fields[1].isdigit() or not fields[2].isdigit():
        raise SystemExit(f"ppm2png: {path}: not a binary PPM with maximum value 255")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos + 1:pos + 1 + width * height * 3]
    if len(pixels) != width * height * 3:
        raise SystemExit(f"ppm2png: {path}: truncated pixel data")
    return width, height, pixels


def write_png(path, width, height, pixels):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    stride = width * 3
    raw = b"".join(b"\x00" + pixels[y * stride:(y + 1) * stride] for y in range(height))
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(chunk(b"IEND", b""))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    image = read_ppm(sys.argv[1])
    try:
        write_png(sys.argv[2], *image)
    except OSError as problem:
        raise SystemExit(f"ppm2png: {sys.argv[2]}: {problem.strerror}")
