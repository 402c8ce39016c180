#!/usr/bin/env python3
"""Crops an 8-bit RGB PNG and enlarges the crop by whole pixels (nearest), so
single-level steps of an RGB565 gradient can be seen.

  png_crop_enlarge.py IN.png X Y W H SCALE OUT.png
"""
import sys

from png_side_by_side import read_png, write_png


def main(src, x, y, w, h, scale, out):
    x, y, w, h, scale = (int(v) for v in (x, y, w, h, scale))
    width, height, rows = read_png(src)
    if x + w > width or y + h > height:
        sys.exit(f"{src}: crop outside the {width}x{height} picture")
    big = []
    for r in rows[y:y + h]:
        line = bytearray()
        for i in range(x, x + w):
            line += bytes(r[3 * i:3 * i + 3]) * scale
        big += [line] * scale
    write_png(out, w * scale, big)


if __name__ == "__main__":
    if len(sys.argv) != 8:
        sys.exit(__doc__)
    main(*sys.argv[1:])
