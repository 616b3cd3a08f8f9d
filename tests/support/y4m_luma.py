"""The luma of 8-bit 4:2:0 YUV4MPEG2 files and its PSNR, as the frei0r
filter's host tests and the benchmarks measure them."""
import math

import numpy as np


def read_luma(path, frames=None):
    """Luma planes of an 8-bit 4:2:0 YUV4MPEG2 file, as float arrays; at
    most `frames` of them."""
    with open(path, "rb") as f:
        header = f.readline().split()
        width = int(next(t for t in header if t.startswith(b"W"))[1:])
        height = int(next(t for t in header if t.startswith(b"H"))[1:])
        chroma = 2 * ((width + 1) // 2) * ((height + 1) // 2)
        planes = []
        while frames is None or len(planes) < frames:
            if not f.readline():
                break
            y = np.frombuffer(f.read(width * height), dtype=np.uint8).reshape(height, width)
            f.read(chroma)
            planes.append(y.astype(np.float64))
        return planes


def psnr(outputs, cleans):
    """Luma PSNR in dB from the mean squared error over all frames; inf
    where they are equal."""
    squared = sum(float(np.sum((o - c) ** 2)) for o, c in zip(outputs, cleans))
    count = sum(o.size for o in outputs)
    return 10 * math.log10(255.0 ** 2 * count / squared) if squared else math.inf
