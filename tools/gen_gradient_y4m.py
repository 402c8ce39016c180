#!/usr/bin/env python3
"""Writes a short y4m clip of slow gradients, at 8 or 10 bits per sample.

  gen_gradient_y4m.py OUT.y4m [--bits 8|10] [--size WxH] [--frames N]

Top half: a grey ramp across the width spanning a narrow band of levels
(where RGB565 bands show most); bottom half: a dark blue-to-teal ramp. Each
frame shifts the ramps by a little, so a clip moves. 10-bit clips are
C420p10 (16-bit little-endian words, value in bits 0-9); the 8-bit clip holds
the same picture rounded to 8 bits. Limited range levels throughout.
"""
import argparse
import struct


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--bits", type=int, choices=(8, 10), default=10)
    ap.add_argument("--size", default="640x360")
    ap.add_argument("--frames", type=int, default=24)
    a = ap.parse_args()
    w, h = (int(v) for v in a.size.split("x"))
    cw, ch = (w + 1) // 2, (h + 1) // 2
    def sample(v10):  # a 10-bit level as this clip stores it
        v = v10 if a.bits == 10 else (v10 + 2) // 4
        return struct.pack("<H", v) if a.bits == 10 else bytes([v])

    with open(a.out, "wb") as f:
        tag = " C420p10" if a.bits == 10 else " C420jpeg"
        f.write(f"YUV4MPEG2 W{w} H{h} F24:1 Ip A1:1{tag} XCOLORRANGE=LIMITED\n".encode())
        for n in range(a.frames):
            f.write(b"FRAME\n")
            luma = bytearray()
            for r in range(h):
                for x in range(w):
                    t = (x + 2 * n) / max(1, w - 1)
                    # grey: 10-bit levels 300..364 (16 8-bit steps); blue: 120..200
                    v = 300 + t * 64 if r < h // 2 else 120 + t * 80
                    luma += sample(int(v))
            cb, cr = bytearray(), bytearray()
            for r in range(ch):
                for i in range(cw):
                    t = (2 * i + 2 * n) / max(1, w - 1)
                    grey = r < ch // 2
                    cb += sample(512 if grey else int(600 + t * 40))
                    cr += sample(512 if grey else int(470 - t * 30))
            f.write(luma + cb + cr)


if __name__ == "__main__":
    main()
