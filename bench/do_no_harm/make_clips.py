#!/usr/bin/env python3
"""The development set of the do-no-harm table: clean clips of photographs,
textures and synthetic structure, each with every kind of noise.

Photographs (Debian's python3-skimage): coffee, astronaut, chelsea, rocket,
motorcycle_left, camera, gravel, grass, text and color, at their own size
(so their own grain and texture are part of the clean picture), panned as
bench/clips.py pans. Two photographs are also panned by a fraction of a
pixel per frame (resampled, as a real camera pan is), and two carry grain
of their own that moves with the picture (white and softened, 3 codes).

Synthetic structure, luma only on neutral chroma: a 1-pixel checkerboard
and 1-pixel stripes at 16/235 (still, as the frames of a test card are),
2-pixel vertical stripes, a zone plate, a halftone of camera.png (a 45
degree dot screen of 4 pixels, binary, panning), small text in the bitmap
font of Python's imaging library (binary, panning), and ffmpeg's life,
mandelbrot and testsrc2 sources.

Noise on the luma, rounded and clipped, from fixed seeds: none; white of
sigma 1, 2, 3, 5, 10, 20; smoothed (a 3x3 box blur, scaled back) of 5 and
10; signal-dependent, whose deviation grows with the square root of the
level above black, 3 and 8 codes at mid-grey.

usage: make_clips.py OUTDIR
writes OUTDIR/<clip>/<noise>.y4m, the clean clip as none.y4m
"""
import os
import subprocess
import sys

import numpy as np
from PIL import Image, ImageDraw, ImageFont
from scipy import ndimage

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import clips  # noqa: E402

FRAMES = 8
WIDTH, HEIGHT = 384, 256
PHOTOS = ["coffee.png", "astronaut.png", "chelsea.png", "rocket.jpg", "motorcycle_left.png", "camera.png",
          "gravel.png", "grass.png", "text.png", "color.png"]
NOISES = ["none", "white1", "white2", "white3", "white5", "white10", "white20", "smoothed5", "smoothed10",
          "level3", "level8"]


def neutral(luma_frames):
    h, w = luma_frames[0].shape
    grey = np.full(((h + 1) // 2, (w + 1) // 2), 128, np.uint8)
    return [(clips.to8(y), grey, grey) for y in luma_frames]


def photo_pan(photo, frames=FRAMES):
    y, cb, cr = clips.photo_planes(photo, scale=1.0)
    width, height = min(WIDTH, (y.shape[1] - 24) // 16 * 16), min(HEIGHT, (y.shape[0] - 12) // 16 * 16)
    return clips.pan(photo, width, height, frames, start=(4, 4), scale=1.0)


def subpixel_pan(photo, step=(0.6, 0.35), frames=FRAMES):
    """A pan of a fraction of a pixel per frame: each frame resampled (cubic)."""
    y = clips.photo_planes(photo, scale=1.0)[0]
    out = []
    for f in range(frames):
        shifted = ndimage.shift(y, (-step[1] * f, -step[0] * f), order=3, mode="nearest")
        out.append(shifted[8:8 + HEIGHT, 8:8 + WIDTH])
    return neutral(out)


def grainy_pan(photo, soft, frames=FRAMES):
    """A photograph with grain of its own, 3 codes, that moves with it."""
    y = clips.photo_planes(photo, scale=1.0)[0]
    grain = np.random.default_rng(clips.SEED + 31).normal(0, 1, y.shape)
    if soft:
        grain = ndimage.gaussian_filter(grain, 0.7)
    y = y + 3 * grain / grain.std()
    out = []
    for f in range(frames):
        ox, oy = 4 + 2 * f, 4 + 2 * (f // 2)
        out.append(y[oy:oy + HEIGHT, ox:ox + WIDTH])
    return neutral(out)


def still(picture, frames=FRAMES):
    return neutral([picture] * frames)


def checkerboard():
    y, x = np.mgrid[:HEIGHT, :WIDTH]
    return still(np.where((x + y) % 2, 235.0, 16.0))


def stripes(axis, width):
    y, x = np.mgrid[:HEIGHT, :WIDTH]
    return still(np.where(((y if axis == "h" else x) // width) % 2, 235.0, 16.0))


def zone_plate():
    y, x = np.mgrid[:HEIGHT, :WIDTH]
    r2 = (x - WIDTH / 2) ** 2 + (y - HEIGHT / 2) ** 2
    return still(126 + 100 * np.cos(np.pi * r2 / (2 * WIDTH)))


def halftone(frames=FRAMES):
    y = clips.photo_planes("camera.png", scale=1.0)[0]
    rows, cols = np.mgrid[:y.shape[0], :y.shape[1]]
    # A 45-degree screen of 4-pixel cells: a dot grows with the darkness.
    u, v = (rows + cols) % 4 - 1.5, (rows - cols) % 4 - 1.5
    spot = (np.cos(np.pi * u / 2) + np.cos(np.pi * v / 2)) / 2 + 0.5
    dots = np.where((y - 16) / 219 < spot / 1.5 - 0.1, 16.0, 235.0)
    return neutral([dots[100 + 2 * (f // 2):100 + 2 * (f // 2) + HEIGHT, 60 + 2 * f:60 + 2 * f + WIDTH]
                    for f in range(frames)])


def small_text(frames=FRAMES):
    page = Image.new("L", (WIDTH + 32, HEIGHT + 16), 235)
    draw = ImageDraw.Draw(page)
    font = ImageFont.load_default()
    words = "the quick brown fox jumps over the lazy dog 0123456789 ".split()
    rng = np.random.default_rng(clips.SEED + 5)
    for row in range(0, HEIGHT + 16, 11):
        line = " ".join(rng.choice(words, 12))
        draw.text((2, row), line, fill=16, font=font)
    y = np.asarray(page, dtype=np.float64)
    return neutral([y[2 + f // 2:2 + f // 2 + HEIGHT, 2 + f:2 + f + WIDTH] for f in range(frames)])


def ffmpeg_source(source, frames=FRAMES):
    options = f"size={WIDTH}x{HEIGHT}:rate=25"
    raw = subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                          f"{source}:{options}" if "=" in source else f"{source}={options}", "-frames:v", str(frames),
                          "-pix_fmt", "gray", "-f", "rawvideo", "-"], check=True, capture_output=True).stdout
    # ffmpeg's grey is full range; video range as a camera's would be.
    y = np.frombuffer(raw, np.uint8).reshape(frames, HEIGHT, WIDTH).astype(np.float64)
    return neutral([16 + f * 219 / 255 for f in y])


def clean_clips():
    made = {}
    for photo in PHOTOS:
        made[photo.split(".")[0]] = photo_pan(photo)
    made["rocket_subpixel"] = subpixel_pan("rocket.jpg")
    made["gravel_subpixel"] = subpixel_pan("gravel.png")
    made["coffee_grain"] = grainy_pan("coffee.png", soft=False)
    made["chelsea_soft_grain"] = grainy_pan("chelsea.png", soft=True)
    made["checkerboard"] = checkerboard()
    made["stripes_h1"] = stripes("h", 1)
    made["stripes_v2"] = stripes("v", 2)
    made["zone_plate"] = zone_plate()
    made["halftone"] = halftone()
    made["small_text"] = small_text()
    made["life"] = ffmpeg_source("life=seed=7")
    made["mandelbrot"] = ffmpeg_source("mandelbrot")
    made["testsrc2"] = ffmpeg_source("testsrc2")
    return made


def add_noise(frames, noise, seed):
    rng = np.random.default_rng(seed)
    if noise == "none":
        return frames
    out = []
    for y, cb, cr in frames:
        y = y.astype(np.float64)
        if noise.startswith("white"):
            n = float(noise[5:]) * rng.normal(0, 1, y.shape)
        elif noise.startswith("smoothed"):
            n = clips.noise(y, float(noise[8:]), "smoothed", rng)
        else:
            # Deviation in proportion to the square root of the level above
            # black, the given value at mid-grey (125).
            n = float(noise[5:]) * np.sqrt(np.maximum(y - 16, 0) / 109) * rng.normal(0, 1, y.shape)
        out.append((clips.to8(y + n), cb, cr))
    return out


def main():
    outdir = sys.argv[1]
    for c, (name, frames) in enumerate(sorted(clean_clips().items())):
        os.makedirs(os.path.join(outdir, name), exist_ok=True)
        for n, noise in enumerate(NOISES):
            clips.write_y4m(os.path.join(outdir, name, f"{noise}.y4m"),
                            add_noise(frames, noise, clips.SEED + 100 * c + n))


if __name__ == "__main__":
    main()
