#!/usr/bin/env python3
"""A clip for timing: white noise of sigma 10 on a pan across
motorcycle_left.png of Debian's python3-skimage, enlarged where the frame
needs it (see clips.speed_frames).

usage: speed_clip.py WIDTH HEIGHT FRAMES OUT.y4m
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import clips  # noqa: E402


def main():
    width, height, frames = (int(v) for v in sys.argv[1:4])
    clips.write_y4m(sys.argv[4], clips.speed_frames(width, height, frames))


if __name__ == "__main__":
    main()
