#!/usr/bin/env python3
"""Clean and noisy clips (720x480 unless --size says otherwise) from the CC0
photographs that Debian's python3-skimage ships, for comparing denoisers
against a ground truth.

Each photograph is enlarged once (bicubic; by 1.5, or as much more as a
larger frame needs to leave room for the pan; coffee.png is 600x400,
smaller than the frame) and a frame-sized window pans across it, one pixel step
per frame, so consecutive frames differ like a slow camera pan but no frame
is resampled again. The clips are YUV4MPEG2, 8-bit 4:2:0, BT.601 limited
range. The noisy clips add Gaussian noise of standard deviation sigma to the
luma only (rounded, clipped to 0..255), from a fixed seed, so every run
compares the same frames.

usage: make_clips.py [--size WxH] [--photo NAME] OUTDIR FRAMES SIGMA [SIGMA ...]
writes OUTDIR/<photo>_clean.y4m and OUTDIR/<photo>_s<SIGMA>.y4m, for both
photographs or the one named
"""
import argparse
import os

import numpy as np
from skimage import data, transform

# Pixels of pan room the enlargement leaves beyond the frame, at least.
PAN_ROOM = 32
PHOTOS = {"coffee": data.coffee, "astronaut": data.astronaut}
SEED = 20240610


def ycbcr420(rgb):
    """BT.601 limited range from an RGB float image in 0..1."""
    r, g, b = rgb[..., 0], rgb[..., 1], rgb[..., 2]
    y = 16 + 65.481 * r + 128.553 * g + 24.966 * b
    cb = 128 - 37.797 * r - 74.203 * g + 112.0 * b
    cr = 128 + 112.0 * r - 93.786 * g - 18.214 * b
    # 4:2:0 by averaging each 2x2 block (centre siting, as y4m's default).
    def sub(c):
        return (c[0::2, 0::2] + c[1::2, 0::2] + c[0::2, 1::2] + c[1::2, 1::2]) / 4
    return y, sub(cb), sub(cr)


def to8(plane):
    return np.clip(np.rint(plane), 0, 255).astype(np.uint8)


def pan_offsets(frames, room_x, room_y):
    """A slow diagonal pan that turns back at the picture's edges."""
    offsets = []
    for f in range(frames):
        period_x, period_y = 2 * room_x, 2 * room_y
        x = f % period_x
        y = f % period_y
        offsets.append((x if x <= room_x else period_x - x, y if y <= room_y else period_y - y))
    return offsets


def write_y4m(path, frames):
    height, width = frames[0][0].shape
    with open(path, "wb") as out:
        out.write(b"YUV4MPEG2 W%d H%d F30:1 Ip A1:1 C420jpeg\n" % (width, height))
        for y, cb, cr in frames:
            out.write(b"FRAME\n")
            out.write(y.tobytes())
            out.write(cb.tobytes())
            out.write(cr.tobytes())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size", default="720x480")
    parser.add_argument("--photo", choices=sorted(PHOTOS))
    parser.add_argument("outdir")
    parser.add_argument("frames", type=int)
    parser.add_argument("sigmas", type=float, nargs="+")
    args = parser.parse_args()
    width, height = (int(v) for v in args.size.split("x"))
    outdir, count, sigmas = args.outdir, args.frames, args.sigmas
    os.makedirs(outdir, exist_ok=True)
    for name, load in PHOTOS.items():
        if args.photo and name != args.photo:
            continue
        photo = load() / 255.0
        scale = max(1.5, (width + PAN_ROOM) / photo.shape[1], (height + PAN_ROOM) / photo.shape[0])
        rgb = transform.rescale(photo, scale, order=3, channel_axis=-1, anti_aliasing=False)
        # Even sides, for the 4:2:0 chroma.
        rgb = np.clip(rgb[:rgb.shape[0] // 2 * 2, :rgb.shape[1] // 2 * 2], 0.0, 1.0)
        y, cb, cr = ycbcr420(rgb)
        room_x, room_y = (y.shape[1] - width) // 2 * 2, (y.shape[0] - height) // 2 * 2
        clean = []
        for ox, oy in pan_offsets(count, room_x // 2, room_y // 2):
            ox, oy = 2 * ox, 2 * oy  # even offsets keep the chroma aligned
            clean.append((y[oy:oy + height, ox:ox + width],
                          cb[oy // 2:(oy + height) // 2, ox // 2:(ox + width) // 2],
                          cr[oy // 2:(oy + height) // 2, ox // 2:(ox + width) // 2]))
        write_y4m(os.path.join(outdir, f"{name}_clean.y4m"), [(to8(a), to8(b), to8(c)) for a, b, c in clean])
        for sigma in sigmas:
            rng = np.random.default_rng(SEED + int(sigma * 10))
            noisy = []
            for a, b, c in clean:
                luma = np.rint(a) + rng.normal(0.0, sigma, a.shape)
                noisy.append((to8(luma), to8(b), to8(c)))
            write_y4m(os.path.join(outdir, f"{name}_s{sigma:g}.y4m"), noisy)


if __name__ == "__main__":
    main()
