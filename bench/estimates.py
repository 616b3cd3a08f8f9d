#!/usr/bin/env python3
"""How close zeverive --estimate comes to the noise added, per photograph:
the three calibration photographs and the three of the comparison, four
352x240 frames each (bench/clips.py), white noise of sigma 2 to 20 and
smoothed noise of sigma 5 and 10. Prints a markdown table of estimates
with their error. Takes about 20 s.

usage: estimates.py ZEVERIVE WORKDIR
"""
import os
import subprocess
import sys

import clips

PHOTOS = ["coffee.png", "astronaut.png", "chelsea.png", "rocket.jpg", "motorcycle_left.png", "camera.png"]
NOISES = [("white", s) for s in (2, 3, 5, 10, 20)] + [("smoothed", 5), ("smoothed", 10)]


def main():
    zeverive, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    path = os.path.join(work, "estimate.y4m")
    print("| photograph | " + " | ".join(f"{k} {s}" for k, s in NOISES) + " |")
    print("|---" * (len(NOISES) + 1) + "|")
    for photo in PHOTOS:
        clean = clips.pan(photo, 320, 208, 4, start=(8, 8))
        cells = []
        for kind, sigma in NOISES:
            clips.write_y4m(path, clips.noisy(clean, sigma, kind, clips.SEED + 99 + sigma))
            out = subprocess.run([zeverive, "--estimate", path], check=True, capture_output=True, text=True).stdout
            value = float(out.splitlines()[-1])
            cells.append(f"{value:.2f} ({100 * (value / sigma - 1):+.0f} %)")
        print(f"| {photo} | " + " | ".join(cells) + " |", flush=True)


if __name__ == "__main__":
    main()
