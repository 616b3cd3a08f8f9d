#!/usr/bin/env python3
"""How close zeverive --estimate comes to the noise's level by brightness
and to its share in each of the plug-in's bands, per photograph of the
development set: four 320x208 frames each (bench/clips.py), noise growing
with brightness from 3 to 9 and from 5 to 15 codes, white noise of sigma 5
and 10, and smoothed noise of sigma 5 and 10. Prints markdown tables:
the error of every brightness bin's reading against the deviation the
noise has at the bin's middle (mean and worst over the bins, in per cent),
whether the levels were stabilised, and the bands' readings against what
the noise puts there (white 1 in every band; smoothed 1.65, 1.47, 1.00,
0.50 from coarsest to finest along 832-sample lines, 1.47, 1.00, 0.50 and
again 0.50 along 416-sample ones, which these frames have). Takes about a
minute.

usage: noise_profile.py ZEVERIVE WORKDIR
"""
import os
import subprocess
import sys

import numpy as np

import clips

PHOTOS = ["coffee.png", "astronaut.png", "chelsea.png", "rocket.jpg", "motorcycle_left.png", "camera.png",
          "gravel.png", "grass.png", "text.png", "color.png"]
GROWING = [(3, 9), (5, 15)]
# Frame size and scale where 320x208 at three quarters does not fit.
SIZES = {"text.png": (320, 160, 1.0), "color.png": (256, 208, 0.75)}
FLAT = [("white", 5), ("white", 10), ("smoothed", 5), ("smoothed", 10)]
# A 416-sample line's thresholds govern its three bands and again the finest.
BANDS = {"white": [1.0, 1.0, 1.0, 1.0], "smoothed": [1.474, 1.0, 0.5, 0.5]}


def reading(zeverive, path):
    # How the figure was reached comes on standard error.
    lines = subprocess.run([zeverive, "--estimate", path], check=True, capture_output=True, text=True).stderr
    out = {"stabilised": "levels stabilised" in lines}
    for line in lines.splitlines():
        if line.startswith("growing with brightness:"):
            words = line.split(";")[0].split()
            out["line"] = [(float(words[5]), float(words[3])), (float(words[9]), float(words[7]))]
        if line.startswith("noise by brightness"):
            words = line.split("):", 1)[1].replace("(", "").replace(")", "").split()
            out["bins"] = [(float(words[i].rstrip(":")), words[i + 1], int(words[i + 2])) for i in range(0, len(words), 3)]
        if line.startswith("noise per band"):
            out["bands"] = [float(v) for v in line.split(":")[1].split()]
    return out


def main():
    zeverive, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    path = os.path.join(work, "profile.y4m")
    print("Noise growing with brightness: error of the bins' readings, mean / worst, and of the fitted line "
          "at its ends (darkest / brightest bin read), where it was stabilised; white and smoothed noise: "
          "whether the levels were stabilised")
    print()
    print("| photograph | " + " | ".join(f"{lo} → {hi}" for lo, hi in GROWING) + " | " +
          " | ".join(f"{k} {s}" for k, s in FLAT) + " |")
    print("|---" * (1 + len(GROWING) + len(FLAT)) + "|")
    band_rows = []
    for photo in PHOTOS:
        width, height, scale = SIZES.get(photo, (320, 208, 0.75))
        clean = clips.pan(photo, width, height, 4, start=(8, 8), scale=scale)
        cells = []
        for sigma in GROWING:
            clips.write_y4m(path, clips.noisy(clean, sigma, "growing", clips.SEED + 77 + sum(sigma)))
            r = reading(zeverive, path)
            truth = lambda b: clips.deviation(np.array(b), sigma, "growing")  # noqa: E731
            errors = [100 * (float(d) / truth(b) - 1) for b, d, n in r["bins"] if d != "-"]
            text = f"{np.mean(np.abs(errors)):.0f} / {max(errors, key=abs):+.0f} %"
            if r["stabilised"]:
                ends = [100 * (d / truth(b) - 1) for b, d in r["line"]]
                text += f"; line {ends[0]:+.0f} / {ends[1]:+.0f} %"
            else:
                text += "; not stabilised"
            cells.append(text)
        bands = []
        for kind, sigma in FLAT:
            clips.write_y4m(path, clips.noisy(clean, sigma, kind, clips.SEED + 99 + sigma))
            r = reading(zeverive, path)
            cells.append("stabilised" if r["stabilised"] else "flat")
            bands.append(" / ".join(f"{v:.2f}" for v in r["bands"][:3]))
        band_rows.append((photo, bands))
        print(f"| {photo} | " + " | ".join(cells) + " |", flush=True)
    print()
    print("Noise per band, coarsest three bands (truth: white " +
          " / ".join(f"{v:.2f}" for v in BANDS["white"][:3]) + ", smoothed " +
          " / ".join(f"{v:.2f}" for v in BANDS["smoothed"][:3]) + ")")
    print()
    print("| photograph | " + " | ".join(f"{k} {s}" for k, s in FLAT) + " |")
    print("|---" * (1 + len(FLAT)) + "|")
    for photo, bands in band_rows:
        print(f"| {photo} | " + " | ".join(bands) + " |")


if __name__ == "__main__":
    main()
