#!/usr/bin/env python3
"""Compares the luma of two 8-bit 4:2:0 YUV4MPEG2 files, frame by frame.

  luma.py max-difference A B   largest |A - B| over all luma samples
  luma.py psnr A REFERENCE     luma PSNR of A against REFERENCE, in dB
"""
import math
import sys


def luma_planes(path):
    with open(path, "rb") as f:
        data = f.read()
    end = data.index(b"\n")
    fields = data[:end].split()
    width = int(next(x for x in fields if x.startswith(b"W"))[1:])
    height = int(next(x for x in fields if x.startswith(b"H"))[1:])
    luma = width * height
    frame = luma + 2 * ((width + 1) // 2) * ((height + 1) // 2)
    planes = []
    pos = end + 1
    while pos < len(data):
        pos = data.index(b"\n", pos) + 1
        planes.append(data[pos:pos + luma])
        pos += frame
    return planes


def main():
    what, first, second = sys.argv[1:4]
    a, b = luma_planes(first), luma_planes(second)
    if len(a) != len(b) or not a:
        sys.exit(f"{first} has {len(a)} frames, {second} {len(b)}")
    if what == "max-difference":
        print(max(max(abs(x - y) for x, y in zip(p, q)) for p, q in zip(a, b)))
    elif what == "psnr":
        squares = sum(sum((x - y) ** 2 for x, y in zip(p, q)) for p, q in zip(a, b))
        samples = sum(len(p) for p in a)
        print(f"{10 * math.log10(255 * 255 * samples / squares):.2f}" if squares else "inf")
    else:
        sys.exit(f"unknown comparison {what}")


main()
