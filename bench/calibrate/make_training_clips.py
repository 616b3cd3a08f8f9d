#!/usr/bin/env python3
"""Training clips for the automatic settings: two 320x208 frames panned
across each of coffee.png, astronaut.png and chelsea.png (six frames per
clip), clean and with white or smoothed noise at every calibrated sigma.

usage: make_training_clips.py OUTDIR
writes OUTDIR/clean.y4m and OUTDIR/<kind>_s<SIGMA>.y4m
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import clips  # noqa: E402

PHOTOS = ["coffee.png", "astronaut.png", "chelsea.png"]
SIGMAS = [1, 2, 3, 5, 7, 10, 15, 20, 25]
KINDS = ["white", "smoothed"]
WIDTH, HEIGHT, FRAMES = 320, 208, 2


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    clean = [frame for photo in PHOTOS for frame in clips.pan(photo, WIDTH, HEIGHT, FRAMES, start=(8, 8))]
    clips.write_y4m(os.path.join(outdir, "clean.y4m"), clean)
    for k, kind in enumerate(KINDS):
        for sigma in SIGMAS:
            frames = clips.noisy(clean, sigma, kind, clips.SEED + 1000 * k + sigma)
            clips.write_y4m(os.path.join(outdir, f"{kind}_s{sigma}.y4m"), frames)


if __name__ == "__main__":
    main()
