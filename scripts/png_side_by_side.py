#!/usr/bin/env python3
"""Joins two 8-bit RGB PNG files of one height side by side, with a white gap.

Only the standard library: PNG rows are unfiltered here and written unfiltered.
"""
import struct
import sys
import zlib

GAP = 8


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG file")
    pos, idat, width = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour != 2 or interlace != 0:
                sys.exit(f"{path}: only 8-bit RGB without interlacing")
        elif kind == b"IDAT":
            idat += body
    raw, bpp, stride = zlib.decompress(idat), 3, width * 3
    rows, prev = [], bytearray(stride)
    for y in range(height):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    return width, height, rows


def write_png(path, width, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\x00" + bytes(r) for r in rows)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, len(rows), 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    open(path, "wb").write(png)


def main(left, right, out):
    lw, lh, lrows = read_png(left)
    rw, rh, rrows = read_png(right)
    if lh != rh:
        sys.exit("the two pictures differ in height")
    gap = b"\xff" * (GAP * 3)
    write_png(out, lw + GAP + rw, [l + gap + r for l, r in zip(lrows, rrows)])


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit("usage: png_side_by_side.py LEFT.png RIGHT.png OUT.png")
    main(*sys.argv[1:])
