#!/usr/bin/env python3
"""Zeverive against other denoisers: speed, luma PSNR and SSIM.

Runs zeverive (default sliders, and the best setting found per noise level)
and ffmpeg's denoisers, single-threaded, on the clips of make_clips.py and
writes a markdown table and a PNG chart (quality against speed, log fps).

usage: compare.py ZEVERIVE WORKDIR OUTDIR [--rounds N] [--search]

Quality: every filter on the first QUALITY_FRAMES frames of both photos'
clips at each sigma; PSNR from the mean squared error over all frames of
both clips, SSIM the mean of the frames' SSIM. Speed: the 720x480 coffee
clip at sigma 10 (SPEED_FRAMES frames), every filter once per round in
turn, so a slow moment of the machine hits them all alike; fps is frames
over the wall time of the whole program (reading and writing the clip
included), and the table gives the median and the range of the rounds.
The slowest filter runs its speed measurement on the quality clip only.
"""
import argparse
import itertools
import os
import statistics
import subprocess
import sys
import time

import numpy as np
from skimage.metrics import structural_similarity

WIDTH, HEIGHT = 720, 480
SIGMAS = [3, 5, 10]
PHOTOS = ["coffee", "astronaut"]
QUALITY_FRAMES = 30
SPEED_FRAMES = 150

# Peers at the settings the comparison is about; the slow ones are marked
# so that their speed is taken from the short quality clip.
PEERS = [
    ("vaguedenoiser hard", "vaguedenoiser=planes=1:method=hard:threshold=28", False),
    ("vaguedenoiser garrote", "vaguedenoiser=planes=1:method=garrote:threshold=18", False),
    ("hqdn3d (temporal)", "hqdn3d=luma_spatial=24:luma_tmp=8", False),
    ("fftdnoiz", "fftdnoiz=planes=1:sigma=30:overlap=0.75", False),
    ("nlmeans", "nlmeans=s=7:p=5:r=7", False),
    ("bm3d", "bm3d=planes=1:sigma=36:bstep=2", True),
]

# The best slider settings found per sigma by --search (mean PSNR over both
# photos' quality clips); the search grid is in search_grid().
TUNED = {
    3: "--mode 2 --strength 200 --nr2 40 --nr3 60 --nr4 80 --nr5h 100 --edge-lv2 80 --edge-lv3 80 "
       "--edge-lv4 80 --edge-lv5 80".split(),
    5: "--mode 2 --strength 200 --nr2 100 --nr3 100 --nr4 100 --nr5h 100 --edge-lv2 80 --edge-lv3 80 "
       "--edge-lv4 80 --edge-lv5 80 --nr5-rows-x10".split(),
    10: "--mode 2 --strength 200 --nr2 100 --nr3 100 --nr4 100 --nr5h 100 --edge-lv2 150 --edge-lv3 150 "
        "--edge-lv4 150 --edge-lv5 150 --nr5-rows-x10".split(),
}


def read_luma(path, frames=None):
    """Luma planes of an 8-bit 4:2:0 YUV4MPEG2 file, as float arrays."""
    with open(path, "rb") as f:
        header = f.readline().split()
        width = int(next(t for t in header if t.startswith(b"W"))[1:])
        height = int(next(t for t in header if t.startswith(b"H"))[1:])
        chroma = 2 * ((width + 1) // 2) * ((height + 1) // 2)
        planes = []
        while frames is None or len(planes) < frames:
            marker = f.readline()
            if not marker:
                break
            y = np.frombuffer(f.read(width * height), dtype=np.uint8).reshape(height, width)
            f.read(chroma)
            planes.append(y.astype(np.float64))
        return planes


def quality(outputs, cleans, with_ssim=True):
    """PSNR over all frames and mean SSIM, luma only, 8-bit range."""
    squared, count, ssim = 0.0, 0, [0.0]
    for out, clean in zip(outputs, cleans):
        squared += float(np.sum((out - clean) ** 2))
        count += out.size
        if with_ssim:
            ssim.append(structural_similarity(out, clean, data_range=255.0))
    if with_ssim:
        ssim.pop(0)
    mse = squared / count
    return 10 * np.log10(255.0 ** 2 / mse), float(np.mean(ssim))


def ffmpeg_command(vf, src, dst, frames=None):
    cmd = ["ffmpeg", "-nostdin", "-loglevel", "error", "-threads", "1", "-filter_threads", "1", "-i", src]
    if frames:
        cmd += ["-frames:v", str(frames)]
    if vf:
        cmd += ["-vf", vf]
    return cmd + ["-f", "yuv4mpegpipe", "-y", dst]


def zeverive_command(zeverive, sliders, src, dst, jobs=1):
    return [zeverive, src, dst, "-q", "-j", str(jobs)] + sliders


def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True)
    return time.perf_counter() - start


class Entry:
    def __init__(self, name, sigma, command, slow=False):
        self.name, self.sigma, self.command, self.slow = name, sigma, command, slow
        self.psnr = self.ssim = None
        self.fps = []


def entries_for(sigma, zeverive):
    out = [Entry("zeverive, default sliders", sigma,
                 lambda src, dst: zeverive_command(zeverive, [], src, dst))]
    if TUNED.get(sigma):
        label = f"zeverive, tuned for σ = {sigma}"
        out.append(Entry(label, sigma, lambda src, dst, s=TUNED[sigma]: zeverive_command(zeverive, s, src, dst)))
    for name, vf, slow in PEERS:
        out.append(Entry(name, sigma, lambda src, dst, vf=vf: ffmpeg_command(vf, src, dst), slow))
    return out


def measure_quality(entry, work, with_ssim=True):
    outputs, cleans = [], []
    for photo in PHOTOS:
        src = os.path.join(work, "quality", f"{photo}_s{entry.sigma}.y4m")
        dst = os.path.join(work, "out.y4m")
        seconds = timed(entry.command(src, dst))
        if entry.slow and photo == PHOTOS[0]:
            entry.fps.append(QUALITY_FRAMES / seconds)
        outputs += read_luma(dst)
        cleans += read_luma(os.path.join(work, "quality", f"{photo}_clean.y4m"))
    entry.psnr, entry.ssim = quality(outputs, cleans, with_ssim)


def search_grid():
    """Slider settings tried by --search: the mode, the noise thresholds,
    the edge thresholds and the finest band along rows times 10, at full
    strength (a first, wider search over strengths 100, 150 and 200 found
    200 best at every sigma)."""
    for mode, nr, edge, x10 in itertools.product(
            [3, 2], [(20, 30, 40, 50), (50, 50, 50, 50), (100, 100, 100, 100), (40, 60, 80, 100)],
            [None, (80, 80, 80, 80), (150, 150, 150, 150)], [False, True]):
        sliders = ["--mode", str(mode), "--strength", "200", "--nr2", str(nr[0]), "--nr3", str(nr[1]),
                   "--nr4", str(nr[2]), "--nr5h", str(nr[3])]
        if edge:
            sliders += ["--edge-lv2", str(edge[0]), "--edge-lv3", str(edge[1]), "--edge-lv4", str(edge[2]),
                        "--edge-lv5", str(edge[3])]
        if x10:
            sliders.append("--nr5-rows-x10")
        yield sliders


def search(zeverive, work):
    for sigma in SIGMAS:
        best = None
        for sliders in search_grid():
            entry = Entry("", sigma, lambda src, dst, s=sliders: zeverive_command(zeverive, s, src, dst))
            measure_quality(entry, work, with_ssim=False)
            if best is None or entry.psnr > best[0]:
                best = (entry.psnr, entry.ssim, sliders)
        print(f"sigma {sigma}: {best[0]:.2f} dB: {' '.join(best[2])}", flush=True)


def noisy_quality(work, sigma):
    outputs, cleans = [], []
    for photo in PHOTOS:
        outputs += read_luma(os.path.join(work, "quality", f"{photo}_s{sigma}.y4m"))
        cleans += read_luma(os.path.join(work, "quality", f"{photo}_clean.y4m"))
    return quality(outputs, cleans)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("zeverive")
    parser.add_argument("work")
    parser.add_argument("outdir")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--search", action="store_true")
    args = parser.parse_args()
    if args.search:
        search(args.zeverive, args.work)
        return

    os.makedirs(args.outdir, exist_ok=True)
    by_sigma = {sigma: entries_for(sigma, args.zeverive) for sigma in SIGMAS}
    for sigma, entries in by_sigma.items():
        for entry in entries:
            measure_quality(entry, args.work)
            print(f"sigma {sigma:2d} {entry.name:45s} {entry.psnr:6.2f} dB  SSIM {entry.ssim:.4f}", flush=True)

    # Speed: on the sigma 10 clip, every fast entry once per round, in
    # turn; the tuned settings of the other sigmas too, and zeverive with
    # two workers. Entries that are the same program at every sigma share
    # the measurement.
    speed_src = os.path.join(args.work, "speed", "coffee_s10.y4m")
    dst = os.path.join(args.work, "out.y4m")
    two_jobs = Entry("zeverive, default sliders, -j 2", 10,
                     lambda src, out: zeverive_command(args.zeverive, [], src, out, jobs=2))
    timed_entries = [e for e in by_sigma[10] if not e.slow]
    timed_entries += [e for sigma in SIGMAS if sigma != 10 for e in by_sigma[sigma] if "tuned" in e.name]
    timed_entries.append(two_jobs)
    for _ in range(args.rounds):
        for entry in timed_entries:
            entry.fps.append(SPEED_FRAMES / timed(entry.command(speed_src, dst)))
    for sigma in SIGMAS:
        for entry in by_sigma[sigma]:
            if not entry.fps:
                entry.fps = next(e.fps for e in by_sigma[10] if e.name == entry.name)

    write_table(args, by_sigma, two_jobs)
    write_chart(args, by_sigma)


def fps_text(values):
    if not values:
        return "-"
    median = statistics.median(values)
    if len(values) == 1:
        return f"{median:.1f}"
    return f"{median:.1f} ({min(values):.1f}–{max(values):.1f})"


def write_table(args, by_sigma, two_jobs):
    lines = ["| σ | filter | luma PSNR dB (noisy) | SSIM (noisy) | fps, median (range) |", "|---|---|---|---|---|"]
    for sigma in SIGMAS:
        noisy_psnr, noisy_ssim = noisy_quality(args.work, sigma)
        for entry in by_sigma[sigma]:
            lines.append(f"| {sigma} | {entry.name} | {entry.psnr:.2f} ({noisy_psnr:.2f}) | "
                         f"{entry.ssim:.4f} ({noisy_ssim:.4f}) | {fps_text(entry.fps)} |")
    vague = next(e for e in by_sigma[10] if e.name == "vaguedenoiser hard")
    ours = by_sigma[10][0]
    ratio = statistics.median(ours.fps) / statistics.median(vague.fps)
    scaling = statistics.median(two_jobs.fps) / statistics.median(ours.fps)
    lines += ["",
              f"zeverive -j 1 against vaguedenoiser hard (σ = 10, medians): {ratio:.2f}×; "
              f"-j 2: {fps_text(two_jobs.fps)} fps, {scaling:.2f}× -j 1.",
              f"{args.rounds} rounds, {SPEED_FRAMES} frames of 720×480 each; quality on {QUALITY_FRAMES} frames "
              f"of each of {', '.join(PHOTOS)}."]
    path = os.path.join(args.outdir, "comparison.md")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    print("\n".join(lines))
    print(f"written: {path}")


def write_chart(args, by_sigma):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(1, len(SIGMAS), figsize=(5 * len(SIGMAS), 4.5), sharex=True)
    for ax, sigma in zip(axes, SIGMAS):
        noisy_psnr, _ = noisy_quality(args.work, sigma)
        for entry in by_sigma[sigma]:
            if not entry.fps:
                continue
            ours = entry.name.startswith("zeverive")
            ax.scatter(statistics.median(entry.fps), entry.psnr - noisy_psnr, marker="o" if ours else "s",
                       color="tab:red" if ours else "tab:blue")
            ax.annotate(entry.name.split(" --")[0], (statistics.median(entry.fps), entry.psnr - noisy_psnr),
                        fontsize=7, xytext=(4, 3), textcoords="offset points")
        ax.set_xscale("log")
        ax.set_title(f"σ = {sigma} (noisy: {noisy_psnr:.1f} dB)")
        ax.set_xlabel("frames per second, 720×480, one thread (log)")
        ax.set_ylabel("luma PSNR gain, dB")
        ax.grid(True, which="both", alpha=0.3)
    fig.tight_layout()
    path = os.path.join(args.outdir, "comparison.png")
    fig.savefig(path, dpi=110)
    print(f"written: {path}")


if __name__ == "__main__":
    sys.exit(main())
