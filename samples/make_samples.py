#!/usr/bin/python3
"""Makes the sample clip: a slow pan across a photograph, clean and noisy.

The photograph is coffee.png from Debian's python3-skimage package (600x400,
CC0). Each frame is a 480x320 window moved 12 pixels right and 8 down per
frame, so there is real motion but no resampling. Colours are converted to
8-bit BT.601 video levels with 4:2:0 chroma (2x2 averages, centred, as
C420jpeg says). The noisy version adds Gaussian noise of standard deviation
SIGMA code values to the luma only, from a fixed seed, so the files come
out the same on every run.

Run from anywhere: /usr/bin/python3 samples/make_samples.py
"""
import os

import numpy as np
import skimage.data

FRAMES = 10
WIDTH, HEIGHT = 480, 320
STEP_X, STEP_Y = 12, 8
SIGMA = 4.0
SEED = 20240601
HEADER = f"YUV4MPEG2 W{WIDTH} H{HEIGHT} F25:1 Ip A1:1 C420jpeg XCOLORRANGE=LIMITED\n".encode()


def video_planes(rgb):
    """Full-size Y and half-size Cb, Cr as floats on 8-bit video levels."""
    r, g, b = (rgb[..., i].astype(np.float64) / 255.0 for i in range(3))
    y = 16.0 + 219.0 * (0.299 * r + 0.587 * g + 0.114 * b)
    cb = 128.0 + 224.0 * (-0.168736 * r - 0.331264 * g + 0.5 * b)
    cr = 128.0 + 224.0 * (0.5 * r - 0.418688 * g - 0.081312 * b)

    def halve(plane):
        return (plane[0::2, 0::2] + plane[1::2, 0::2] + plane[0::2, 1::2] + plane[1::2, 1::2]) / 4.0

    return y, halve(cb), halve(cr)


def to_bytes(plane):
    return np.clip(np.rint(plane), 0, 255).astype(np.uint8).tobytes()


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    y, cb, cr = video_planes(skimage.data.coffee())
    assert y.shape[1] >= WIDTH + STEP_X * (FRAMES - 1) and y.shape[0] >= HEIGHT + STEP_Y * (FRAMES - 1)
    rng = np.random.default_rng(SEED)
    with open(os.path.join(here, "coffee-clean.y4m"), "wb") as clean, \
            open(os.path.join(here, "coffee-noisy.y4m"), "wb") as noisy:
        clean.write(HEADER)
        noisy.write(HEADER)
        for i in range(FRAMES):
            x0, y0 = STEP_X * i, STEP_Y * i
            luma = y[y0:y0 + HEIGHT, x0:x0 + WIDTH]
            chroma = (cb[y0 // 2:(y0 + HEIGHT) // 2, x0 // 2:(x0 + WIDTH) // 2],
                      cr[y0 // 2:(y0 + HEIGHT) // 2, x0 // 2:(x0 + WIDTH) // 2])
            clean_luma = np.rint(luma)
            noisy_luma = clean_luma + rng.normal(0.0, SIGMA, luma.shape)
            for out, picture in ((clean, clean_luma), (noisy, noisy_luma)):
                out.write(b"FRAME\n")
                out.write(to_bytes(picture))
                out.write(to_bytes(chroma[0]))
                out.write(to_bytes(chroma[1]))


if __name__ == "__main__":
    main()
