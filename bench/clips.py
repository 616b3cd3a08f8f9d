"""Clean and noisy clips from the photographs Debian's python3-skimage ships,
and their luma PSNR; shared by the calibration and the comparison.

A clip pans a window across a photograph scaled to three quarters (with
anti-aliasing, which also quiets the photograph's own grain, so that the
clean clip is clean), two pixels right and one down per frame; frames are
not resampled again. Frames are
YUV4MPEG2, 8-bit 4:2:0, BT.601 limited range. Noise is Gaussian, added to
the luma only, rounded and clipped to 0..255, from a fixed seed:
"white" is independent per sample; "smoothed" is white noise after a 3x3
box blur (a camera's demosaicking or a codec's smoothing leaves noise like
that), scaled back to the same standard deviation; "growing" is white
noise whose variance grows with the clean luma Y as a Y + b (a sensor's
shot noise on its read noise), its sigma a pair (at black 16, at white
235).
"""
import os
import sys

import numpy as np
from scipy import ndimage
from skimage import io, transform

# The luma reader and PSNR the frei0r filter's tests use too.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from y4m_luma import psnr, read_luma  # noqa: E402,F401

DATA = "/usr/lib/python3/dist-packages/skimage/data/"
SEED = 20240610


def photo_planes(name, scale=0.75):
    """Y, Cb, Cr of a photograph as floats (grey photographs get neutral chroma)."""
    image = io.imread(DATA + name).astype(np.float64) / 255.0
    if image.ndim == 2:
        image = np.stack([image] * 3, axis=-1)
    image = np.clip(transform.rescale(image[..., :3], scale, order=3, channel_axis=-1, anti_aliasing=True), 0, 1)
    r, g, b = image[..., 0], image[..., 1], image[..., 2]
    y = 16 + 65.481 * r + 128.553 * g + 24.966 * b
    cb = 128 - 37.797 * r - 74.203 * g + 112.0 * b
    cr = 128 + 112.0 * r - 93.786 * g - 18.214 * b
    return y, cb, cr


def to8(plane):
    return np.clip(np.rint(plane), 0, 255).astype(np.uint8)


def bounce(position, room):
    """A position moving one step at a time that turns back at 0 and room."""
    position %= 2 * room if room else 1
    return position if position <= room else 2 * room - position


def pan(photo, width, height, frames, start=(0, 0), scale=0.75):
    """Clean frames (Y, Cb, Cr, 8-bit; chroma 4:2:0 by 2x2 means)."""
    y, cb, cr = photo_planes(photo, scale)
    room_x, room_y = (y.shape[1] - width - start[0]) // 2, (y.shape[0] - height - start[1]) // 2
    assert room_x >= 0 and room_y >= 0, photo
    out = []
    for f in range(frames):
        ox, oy = start[0] + 2 * bounce(f, room_x), start[1] + 2 * bounce(f // 2, room_y)
        window = [p[oy:oy + height, ox:ox + width] for p in (y, cb, cr)]
        sub = [(c[0::2, 0::2] + c[1::2, 0::2] + c[0::2, 1::2] + c[1::2, 1::2]) / 4 for c in window[1:]]
        out.append((to8(window[0]), to8(sub[0]), to8(sub[1])))
    return out


def speed_frames(width, height, frames, photo="motorcycle_left.png"):
    """Noisy frames (white, sigma 10) for timing: a pan across `photo` at its
    own size, or enlarged just enough for a window of width x height to move."""
    rows, columns = io.imread(DATA + photo).shape[:2]
    scale = max(1.0, (width + 16) / columns, (height + 16) / rows)
    return noisy(pan(photo, width, height, frames, scale=scale), 10, "white", SEED)


def deviation(clean, sigma, kind):
    """The noise's sigma at every sample of the clean luma."""
    if kind != "growing":
        return sigma
    black, white = sigma
    a = (white * white - black * black) / 219.0
    return np.sqrt(np.maximum(a * (clean - 16) + black * black, 0.0))


def noise(clean, sigma, kind, rng):
    field = rng.normal(0.0, 1.0, clean.shape)
    if kind == "smoothed":
        field = ndimage.uniform_filter(field, size=3, mode="wrap") * 3.0
    return deviation(clean, sigma, kind) * field


def noisy(frames, sigma, kind, seed):
    rng = np.random.default_rng(seed)
    return [(to8(y.astype(np.float64) + noise(y.astype(np.float64), sigma, kind, rng)), cb, cr)
            for y, cb, cr in frames]


def write_y4m(path, frames):
    height, width = frames[0][0].shape
    with open(path, "wb") as out:
        out.write(b"YUV4MPEG2 W%d H%d F30:1 Ip A1:1 C420jpeg\n" % (width, height))
        for planes in frames:
            out.write(b"FRAME\n")
            for plane in planes:
                out.write(plane.tobytes())


def ssim(outputs, cleans):
    """Mean over the frames of the luma's SSIM."""
    from skimage.metrics import structural_similarity
    return float(np.mean([structural_similarity(o, c, data_range=255.0) for o, c in zip(outputs, cleans)]))
