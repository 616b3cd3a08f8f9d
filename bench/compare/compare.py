#!/usr/bin/env python3
"""Zeverive against ffmpeg's denoisers, each tuned per noise level with its
own grid on the same clips: luma PSNR and SSIM, and speed.

usage: compare.py ZEVERIVE WORKDIR OUTDIR [--rounds N]

Quality: every setting of every grid on the comparison clip of each noise
(make_clips.py), scored by luma PSNR over all its frames against the clean
clip; a filter's row is the best of its grid there (an oracle's choice,
which favours the peers: zeverive's rows with no options, --preset fast
and --preset best choose by themselves). SSIM is the mean over the frames of
the luma's SSIM (scikit-image, 7x7 windows) of that best setting. bm3d
runs on the first three frames only, one per photograph, and is scored on
those. A best setting at the edge of its grid is marked with *. zeverive
"tuned with gain" is the best of its own grid (gain and sliders). For
noise growing with brightness the peers' grids are scaled by its root mean
square over the video range.

Speed: the 720x480 speed clip, every filter at its best setting for white
noise of sigma 10, once per round in turn, so a slow moment of the machine
hits them all alike; fps is frames over the wall time of the whole program
(reading and writing included). The slow filters run on the clip's first
frames only. zeverive's automatic run is timed against the same settings
given by hand, to show what the estimate costs.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import clips  # noqa: E402
from make_clips import NOISES, SPEED_FRAMES, clip_path  # noqa: E402

BM3D_FRAMES = 3


def ffmpeg(vf, frames=None):
    def command(src, dst):
        cmd = ["ffmpeg", "-nostdin", "-loglevel", "error", "-threads", "1", "-filter_threads", "1", "-i", src]
        if frames:
            cmd += ["-frames:v", str(frames)]
        return cmd + ["-vf", vf, "-f", "yuv4mpegpipe", "-y", dst]
    return command


def zeverive_run(zeverive, args, jobs=1):
    return lambda src, dst: [zeverive, src, dst, "-q", "-j", str(jobs)] + args


def nominal(sigma):
    """One figure for a noise: its sigma, or for growing noise its root mean square over the range."""
    return round(((sigma[0] ** 2 + sigma[1] ** 2) / 2) ** 0.5, 2) if isinstance(sigma, tuple) else sigma


def label_of(kind, sigma):
    if kind == "growing":
        return f"{sigma[0]}→{sigma[1]}, growing"
    return f"{sigma}" if kind == "white" else f"{sigma}, smoothed"


def scaled(sigma, factors, low=0.0, high=1e9):
    return sorted({round(min(high, max(low, sigma * f)), 2) for f in factors})


def zeverive_grid(sigma):
    """Gain and sliders around the calibration's prior, t = sigma / 3."""
    out = []
    for mode in (2, 3):
        for step in (0.5, 0.7, 1.0, 1.4, 2.0):
            scale = min(20.0, step * sigma / 3)
            for edge in (30, 80, 150):
                args = ["--gain", f"{min(1.0, 1 / scale):.3f}", "--mode", str(mode),
                        "--strength", str(round(200 * min(scale, 1.0))),
                        "--nr2", "40", "--nr3", "60", "--nr4", "80", "--nr5h", "100"]
                for level in range(2, 6):
                    args += [f"--edge-lv{level}", str(edge)]
                out.append((f"t {scale:.2f} mode {mode} edges {edge}", args))
    return out


def peers(sigma):
    """Each peer's grid: (name, [(setting, ffmpeg filter)], frames or None)."""
    return [
        ("vaguedenoiser hard", [(f"threshold={t}", f"vaguedenoiser=planes=1:method=hard:threshold={t}")
                                for t in scaled(sigma, [1.5, 2, 2.5, 3, 3.5, 4.5])], None),
        ("vaguedenoiser garrote", [(f"threshold={t}", f"vaguedenoiser=planes=1:method=garrote:threshold={t}")
                                   for t in scaled(sigma, [0.8, 1.1, 1.4, 1.8, 2.2, 2.8])], None),
        ("hqdn3d spatial", [(f"luma_spatial={s}", f"hqdn3d=luma_spatial={s}:chroma_spatial=0:luma_tmp=0:chroma_tmp=0")
                            for s in scaled(sigma, [0.3, 0.5, 0.8, 1.2, 1.8, 2.5])], None),
        ("nlmeans", [(f"s={s}", f"nlmeans=s={s}") for s in scaled(sigma, [0.4, 0.55, 0.7, 0.9, 1.2], 1, 30)], None),
        ("fftdnoiz", [(f"sigma={s}", f"fftdnoiz=planes=1:sigma={s}")
                      for s in scaled(sigma, [0.4, 0.6, 0.8, 1, 1.5, 2, 3, 4], 0.5, 30)], None),
        ("bm3d", [(f"sigma={s}", f"bm3d=planes=1:sigma={s}") for s in scaled(sigma, [2, 3, 4, 5.5, 7.5])], BM3D_FRAMES),
    ]


def run(command, src, dst):
    start = time.perf_counter()
    subprocess.run(command(src, dst), check=True, capture_output=True)
    return time.perf_counter() - start


class Row:
    def __init__(self, name, setting, psnr, ssim, edge, command_at_10=None, frames=None):
        self.name, self.setting, self.psnr, self.ssim, self.edge, self.frames = name, setting, psnr, ssim, edge, frames
        self.command_at_10 = command_at_10
        self.fps = []


def best_of(name, grid, src, dst, clean, frames=None):
    scores = []
    reference = clean[:frames] if frames else clean
    for setting, command in grid:
        run(command, src, dst)
        output = clips.read_luma(dst)
        scores.append((clips.psnr(output, reference), clips.ssim(output, reference)))
    top = max(range(len(grid)), key=lambda i: scores[i][0])
    edge = len(grid) > 1 and top in (0, len(grid) - 1)
    return Row(name, grid[top][0], scores[top][0], scores[top][1], edge, grid[top][1], frames)


def short_settings(report):
    """What zeverive chose, without the sliders it never changes."""
    line = report.split("settings: ")
    words = line[-1].split()
    keep = {"--gain": "gain", "--mode": "mode", "--edge-lv2": "edges", "--strength": "strength"}
    text = " ".join(f"{keep[w]} {v}" for w, v in zip(words, words[1:]) if w in keep)
    thresholds = [v for w, v in zip(words, words[1:]) if w in ("--nr2", "--nr3", "--nr4", "--nr5h")]
    if thresholds != ["40", "60", "80", "100"]:
        text += " thresholds " + "/".join(thresholds)
    if "stabilised" in line[0]:
        text += ", levels stabilised"
    return text


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("zeverive")
    parser.add_argument("work")
    parser.add_argument("outdir")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    z = args.zeverive
    work = args.work
    dst = os.path.join(work, "out.y4m")
    clean = clips.read_luma(os.path.join(work, "clean.y4m"))
    results = {}
    for kind, sigma in NOISES:
        src = clip_path(work, kind, sigma)
        label = label_of(kind, sigma)
        noisy_luma = clips.read_luma(src)
        noisy = (clips.psnr(noisy_luma, clean), clips.ssim(noisy_luma, clean))
        rows = []
        for name, options in (("zeverive, no options", []), ("zeverive, --preset fast", ["--preset", "fast"]),
                              ("zeverive, --preset best", ["--preset", "best"])):
            chosen = subprocess.run([z, src, dst, "-j", "1"] + options, check=True, capture_output=True, text=True).stderr
            output = clips.read_luma(dst)
            rows.append(Row(name, short_settings(chosen), clips.psnr(output, clean), clips.ssim(output, clean), False,
                            zeverive_run(z, options)))
        rows.append(best_of("zeverive, tuned with gain",
                            [(s, zeverive_run(z, a)) for s, a in zeverive_grid(nominal(sigma))], src, dst, clean))
        for name, grid, frames in peers(nominal(sigma)):
            rows.append(best_of(name, [(s, ffmpeg(vf, frames)) for s, vf in grid], src, dst, clean, frames))
        results[label] = (noisy, rows)
        for row in rows:
            print(f"σ {label:16s} {row.name:28s} {row.psnr:6.2f} dB {row.ssim:.4f} (noisy {noisy[0]:.2f})  "
                  f"{row.setting}{' *' if row.edge else ''}", flush=True)

    speed = measure_speed(args, results["10"][1], z)
    write_table(args, results, speed)
    write_chart(args, results, speed)


def measure_speed(args, rows_at_10, z):
    """fps per filter name at its sigma 10 setting, plus the automatic run
    against its own settings given by hand."""
    src = os.path.join(args.work, "speed.y4m")
    dst = os.path.join(args.work, "out.y4m")
    slow = {"nlmeans": 20, "fftdnoiz": 30, "bm3d": 2}
    chosen = subprocess.run([z, src, dst, "-j", "1"], check=True, capture_output=True, text=True).stderr
    by_hand = chosen.split("settings: ")[-1].split()
    entries = []
    for row in rows_at_10:
        frames = slow.get(row.name, SPEED_FRAMES)
        command = row.command_at_10
        if row.name in slow:
            vf = command("IN", "OUT")[command("IN", "OUT").index("-vf") + 1]
            command = ffmpeg(vf, frames)
        entries.append((row.name, command, frames))
    entries.append(("zeverive, same settings by hand", zeverive_run(z, by_hand), SPEED_FRAMES))
    entries.append(("zeverive, no options, -j 2", zeverive_run(z, [], jobs=2), SPEED_FRAMES))
    fps = {name: [] for name, _, _ in entries}
    for _ in range(args.rounds):
        for name, command, frames in entries:
            fps[name].append(frames / run(command, src, dst))
    return fps


def fps_text(values):
    median = statistics.median(values)
    return f"{median:.1f} ({min(values):.1f}–{max(values):.1f})" if len(values) > 1 else f"{median:.1f}"


def write_table(args, results, speed):
    lines = ["| noise σ | filter | luma PSNR dB | SSIM | gain dB | best setting (grid) | fps 720×480, median (range) |",
             "|---|---|---|---|---|---|---|"]
    for label, (noisy, rows) in results.items():
        lines.append(f"| {label} | noisy | {noisy[0]:.2f} | {noisy[1]:.4f} | – | – | – |")
        for row in sorted(rows, key=lambda r: -r.psnr):
            note = f" (first {row.frames} frames)" if row.frames else ""
            lines.append(f"| {label} | {row.name}{note} | {row.psnr:.2f} | {row.ssim:.4f} | {row.psnr - noisy[0]:+.2f} | "
                         f"{row.setting}{' *' if row.edge else ''} | {fps_text(speed[row.name])} |")
    auto = statistics.median(speed["zeverive, no options"])
    best = statistics.median(speed["zeverive, --preset best"])
    hand = statistics.median(speed["zeverive, same settings by hand"])
    two = statistics.median(speed["zeverive, no options, -j 2"])
    lines += ["",
              f"zeverive with no options against the same settings given by hand (σ = 10, medians): "
              f"{fps_text(speed['zeverive, no options'])} and {fps_text(speed['zeverive, same settings by hand'])} "
              f"fps, {hand / auto:.3f}× the time; -j 2: {fps_text(speed['zeverive, no options, -j 2'])} fps, "
              f"{two / auto:.2f}× -j 1. --preset best: {best / auto:.2f}× the speed of no options, "
              f"{best / statistics.median(speed['bm3d']):.1f}× bm3d's, "
              f"{best / statistics.median(speed['nlmeans']):.1f}× nlmeans'.",
              f"Quality: 12 frames of 352×240 per noise, 4 from each of rocket, motorcycle_left and camera "
              f"(bm3d: the first {BM3D_FRAMES}). Speed: {args.rounds} rounds on {SPEED_FRAMES} frames of "
              f"720×480 (nlmeans 20, fftdnoiz 30, bm3d 2 frames), load average {os.getloadavg()[0]:.1f} "
              f"on {os.cpu_count()} processors at the end. * best at the edge of its grid."]
    path = os.path.join(args.outdir, "comparison.md")
    os.makedirs(args.outdir, exist_ok=True)
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    print("\n".join(lines))
    print(f"written: {path}")


def write_chart(args, results, speed):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(3, 3, figsize=(15, 13), sharex=True)
    for ax, (label, (noisy, rows)) in zip(axes.ravel(), results.items()):
        for row in rows:
            ours = row.name.startswith("zeverive")
            x = statistics.median(speed[row.name])
            ax.scatter(x, row.psnr - noisy[0], marker="o" if ours else "s", color="tab:red" if ours else "tab:blue")
            ax.annotate(row.name, (x, row.psnr - noisy[0]), fontsize=7, xytext=(4, 3), textcoords="offset points")
        ax.set_xscale("log")
        ax.set_title(f"σ = {label} (noisy: {noisy[0]:.1f} dB)")
        ax.set_xlabel("frames per second, 720×480, one thread (log)")
        ax.set_ylabel("luma PSNR gain, dB")
        ax.grid(True, which="both", alpha=0.3)
    fig.tight_layout()
    path = os.path.join(args.outdir, "comparison.png")
    fig.savefig(path, dpi=100)
    print(f"written: {path}")


if __name__ == "__main__":
    sys.exit(main())
