#!/usr/bin/env python3
"""Clips for comparing denoisers, from photographs the automatic settings
were not calibrated on: rocket.jpg, motorcycle_left.png and camera.png of
Debian's python3-skimage (see bench/clips.py for how a clip is made).

Quality: one clip per noise, 352x240, frames taken in turn from the three
photographs' pans (so any first three frames hold all three), clean and
with white noise of each sigma, smoothed noise of sigma 5 and 10, and noise
growing with brightness from 3 to 9 and from 5 to 15 (bench/clips.py).
Speed: 150 frames of 720x480 panned across motorcycle_left.png at its own
size, with white noise of sigma 10.

usage: make_clips.py OUTDIR
writes OUTDIR/clean.y4m, OUTDIR/<kind>_s<SIGMA>.y4m, OUTDIR/speed.y4m
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import clips  # noqa: E402

PHOTOS = ["rocket.jpg", "motorcycle_left.png", "camera.png"]
NOISES = [("white", 2), ("white", 3), ("white", 5), ("white", 10), ("white", 20), ("smoothed", 5), ("smoothed", 10),
          ("growing", (3, 9)), ("growing", (5, 15))]
WIDTH, HEIGHT, PER_PHOTO = 352, 240, 4
SPEED_FRAMES = 150


def clip_path(outdir, kind, sigma):
    name = "-".join(map(str, sigma)) if isinstance(sigma, tuple) else str(sigma)
    return os.path.join(outdir, f"{kind}_s{name}.y4m")


def seed(kind, sigma):
    offset = {"white": 0, "smoothed": 500, "growing": 1000}[kind]
    return clips.SEED + 7 + offset + (sum(sigma) if isinstance(sigma, tuple) else sigma)


def main():
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    pans = [clips.pan(photo, WIDTH, HEIGHT, PER_PHOTO, start=(16, 16)) for photo in PHOTOS]
    clean = [pans[p][f] for f in range(PER_PHOTO) for p in range(len(PHOTOS))]
    clips.write_y4m(os.path.join(outdir, "clean.y4m"), clean)
    for kind, sigma in NOISES:
        clips.write_y4m(clip_path(outdir, kind, sigma), clips.noisy(clean, sigma, kind, seed(kind, sigma)))
    clips.write_y4m(os.path.join(outdir, "speed.y4m"), clips.speed_frames(720, 480, SPEED_FRAMES))


if __name__ == "__main__":
    main()
