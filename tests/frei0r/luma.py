#!/usr/bin/env python3
"""Compares the luma of two 8-bit 4:2:0 YUV4MPEG2 files, frame by frame.

  luma.py max-difference A B   largest |A - B| over all luma samples
  luma.py psnr A REFERENCE     luma PSNR of A against REFERENCE, in dB
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from y4m_luma import psnr, read_luma  # noqa: E402


def main():
    what, first, second = sys.argv[1:4]
    a, b = read_luma(first), read_luma(second)
    if len(a) != len(b) or not a:
        sys.exit(f"{first} has {len(a)} frames, {second} {len(b)}")
    if what == "max-difference":
        print(int(max(abs(p - q).max() for p, q in zip(a, b))))
    elif what == "psnr":
        print(f"{psnr(a, b):.2f}")
    else:
        sys.exit(f"unknown comparison {what}")


main()
