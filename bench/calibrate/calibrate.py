#!/usr/bin/env python3
"""The automatic settings' calibration: a grid search over the level gain
and the sliders on the training clips, a smooth fit of the result, and the
table zeverive compiles in (luma/auto_settings_table.inc).

usage: calibrate.py ZEVERIVE TRAINDIR REPOROOT

Every setting has the noise thresholds zeverive's own rule gives the clip
(40/60/80/100 for white noise; for smoothed noise in proportion to the
noise it measures in each band, read from a run with no options) and
vertical 100; the grid varies the scale t (t <= 1: strength 200 t at gain
1; t > 1: strength 200 at gain 1/t, down to 0.05), the mode (2, 3) and one
edge threshold for all levels (0, 15, 30, 80, 150). The check box stays off: in a first run
over this grid it changed no output (PSNR equal to the last digit both
ways, in modes 2 and 3). Around the prior t = sigma / 3 (what earlier
measurements found) the scale takes seven steps from 0.35 to 2.8 times it.
Each clip is scored by its luma PSNR against the clean clip.

The fit, per kind of noise: log t of each clip's best setting against the
log of the noise zeverive estimates on that clip (the rule is applied to
estimates, so their bias is calibrated away), a quadratic by least
squares, each clip weighted by what its best setting gains over the noisy
clip (where nothing gains, the best scale is chance); then at each knot the
mode and edge threshold that score best at the fitted scale (PSNR
interpolated in log t), except that mode 3, which takes about half the
time of mode 2, is preferred wherever it comes within PREFER_MARGIN dB
of the best; a clip where no setting gains 0.05 dB keeps its own best
scale instead of the fit's. The noise thresholds of each clip are the
ones the rule chooses for it (40/60/80/100 on the white row). The rule
blends the two fits in log t by the clip's smoothing, so a smoothed
clip's knot is the scale that blend needs to give its best one. What the
clean clip reads is where the rule does nothing.

The fast preset's table comes from the same search and fit over mode 3
alone, with the noise thresholds 40/60/100/100, which suit that mode
better. For the record, the report sets each mode's best beside ffmpeg's
vaguedenoiser garrote tuned over its threshold on the same clip (on these
training photographs mode 3 stays below it; bench/compare.sh measures the
preset against the peers on the photographs kept for that).

Finally the rule as compiled is run on every clip, clean included, with
no options and with --preset fast.
"""
import itertools
import math
import os
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import clips  # noqa: E402
from make_training_clips import KINDS, SIGMAS  # noqa: E402

STEPS = [0.35, 0.5, 0.7, 1.0, 1.4, 2.0, 2.8]
MODES = [2, 3]
EDGES = [0, 15, 30, 80, 150]
MAX_SCALE = 20.0  # gain 0.05, the least zeverive takes
NOTHING_GAINED = 0.05  # dB
NOISE_SLIDERS = ["--nr2", "--nr3", "--nr4", "--nr5h"]
WHITE_PROFILE = (40, 60, 80, 100)
FAST_NOISE_THRESHOLDS = (40, 60, 100, 100)
PREFER_MARGIN = 0.05  # dB mode 3 may lose to mode 2 and still be chosen
GARROTE_STEPS = [0.8, 1.1, 1.4, 1.8, 2.2, 2.8]  # times sigma, as bench/compare does


def sliders(scale, mode, edge, profile):
    strength = round(200 * min(scale, 1.0))
    gain = 1.0 / scale if scale > 1 else 1.0
    args = ["--gain", f"{max(gain, 1 / MAX_SCALE):.3f}", "--mode", str(mode), "--strength", str(strength),
            "--vertical", "100"]
    for name, value in zip(NOISE_SLIDERS, profile):
        args += [name, str(value)]
    for level in range(2, 6):
        args += [f"--edge-lv{level}", str(edge)]
    return args + ["--no-nr5-rows-x10"]


def score(zeverive, src, args, clean, out):
    subprocess.run([zeverive, "-q", "-j", "1", src, out] + args, check=True)
    return clips.psnr(clips.read_luma(out), clean)


def garrote(src, sigma, clean, out):
    """vaguedenoiser garrote at its best threshold on this clip."""
    best = 0.0
    for step in GARROTE_STEPS:
        subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-threads", "1", "-i", src, "-vf",
                        f"vaguedenoiser=planes=1:method=garrote:threshold={step * sigma:.2f}", "-f", "yuv4mpegpipe",
                        "-y", out], check=True)
        best = max(best, clips.psnr(clips.read_luma(out), clean))
    return best


def estimate(zeverive, src):
    """The figure (standard output) and the smoothing (standard error)."""
    done = subprocess.run([zeverive, "--estimate", src], check=True, capture_output=True, text=True)
    values = {}
    for line in done.stderr.splitlines():
        if line.startswith("smoothing:"):
            values["smoothing"] = float(line.split()[1])
    values["sigma"] = float(done.stdout.split()[-1])
    return values


def rule_profile(zeverive, src, out):
    """The noise thresholds zeverive's rule chooses for the clip."""
    report = subprocess.run([zeverive, "-j", "1", src, out], check=True, capture_output=True, text=True).stderr
    words = report.split("settings: ")[-1].split()
    return [int(words[words.index(name) + 1]) for name in NOISE_SLIDERS]


def fit_scales(estimates, best_scales, gains):
    x = np.log(np.array(estimates))
    y = np.log(np.array(best_scales))
    coefficients = np.polyfit(x, y, 2, w=np.sqrt(np.maximum(np.array(gains), 1e-3)))
    return [min(MAX_SCALE, float(math.exp(np.polyval(coefficients, v)))) for v in x], coefficients


def interpolated(psnr_by_scale, scale):
    scales = sorted(psnr_by_scale)
    logs = [math.log(s) for s in scales]
    return float(np.interp(math.log(scale), logs, [psnr_by_scale[s] for s in scales]))


def main():
    zeverive, train, root = sys.argv[1], sys.argv[2], sys.argv[3]
    clean = clips.read_luma(os.path.join(train, "clean.y4m"))
    out = os.path.join(train, "out.y4m")
    report = ["| noise | σ | estimate (smoothing) | noisy dB | grid best dB | best setting | fitted rule dB |",
              "|---|---|---|---|---|---|---|"]
    tables = {}
    rows = {}
    modes_report = ["| noise | σ | mode 2 dB | mode 3 dB | garrote dB | mode 3, fast thresholds dB |",
                    "|---|---|---|---|---|---|"]
    for kind in KINDS:
        estimates, best_scales, grids, noisy_db, best = [], [], [], [], []
        fast_scales, fast_grids, peer_db = [], [], []
        for sigma in SIGMAS:
            src = os.path.join(train, f"{kind}_s{sigma}.y4m")
            est = estimate(zeverive, src)
            # The white row is the rule's end for noise that reads no
            # smoothing, where the thresholds are 40/60/80/100 whatever a
            # training clip's own reading.
            profile = WHITE_PROFILE if kind == "white" else rule_profile(zeverive, src, out)
            grid, fast_grid = {}, {}
            for step, mode, edge in itertools.product(STEPS, MODES, EDGES):
                scale = min(MAX_SCALE, step * sigma / 3)
                grid.setdefault((mode, edge), {})[scale] = score(zeverive, src, sliders(scale, mode, edge, profile),
                                                                 clean, out)
                if mode == 3:
                    fast_grid.setdefault((mode, edge), {})[scale] = score(
                        zeverive, src, sliders(scale, mode, edge, FAST_NOISE_THRESHOLDS), clean, out)
            top = max(((p, s, c) for c, by_scale in grid.items() for s, p in by_scale.items()))
            fast_top = max(((p, s, c) for c, by_scale in fast_grid.items() for s, p in by_scale.items()))
            estimates.append(est["sigma"])
            best_scales.append(top[1])
            grids.append(grid)
            fast_scales.append(fast_top[1])
            fast_grids.append(fast_grid)
            peer_db.append(garrote(src, sigma, clean, out))
            noisy_db.append(clips.psnr(clips.read_luma(src), clean))
            best.append((top, est, profile))
            print(f"{kind} sigma {sigma}: estimate {est['sigma']:.2f}, thresholds {profile}, best {top[0]:.2f} dB "
                  f"at t={top[1]:.3f} {top[2]}; mode 3 for the fast preset {fast_top[0]:.2f} dB; "
                  f"garrote {peer_db[-1]:.2f} dB", flush=True)
        gains = [top[0] - noisy for (top, _, _), noisy in zip(best, noisy_db)]
        shares = [e.get("smoothing", 0) if kind != "white" else 0.0 for (_, e, _) in best]
        white_scale = (lambda v: math.exp(np.polyval(tables["white"][1], math.log(v)))) if kind != "white" else None
        # The knot whose blend with the white fit gives the clip its best scale.
        targets = [t if share == 0 else math.exp((math.log(t) - (1 - share) * math.log(white_scale(e))) / share)
                   for t, share, e in zip(best_scales, shares, estimates)]
        fitted, coefficients = fit_scales(estimates, targets, gains)
        # Where no setting gains anything the fit, which gives such clips no
        # weight, says nothing: the knot keeps the clip's own best, which
        # leaves it alone.
        fitted = [target if gain < NOTHING_GAINED else scale for scale, target, gain in zip(fitted, targets, gains)]
        fast_fitted, fast_coefficients = fit_scales(estimates, fast_scales, gains)
        knots, fast_knots = [], []
        for sigma, est, scale, grid, share, fast_scale, fast_grid, peer in zip(
                SIGMAS, estimates, fitted, grids, shares, fast_fitted, fast_grids, peer_db):
            used = scale if share == 0 else math.exp((1 - share) * math.log(white_scale(est)) + share * math.log(scale))
            at = {c: interpolated(grid[c], used) for c in grid}
            choice = max(at, key=at.get)
            by_mode = {m: max(v for c, v in at.items() if c[0] == m) for m in MODES}
            if choice[0] == 2 and by_mode[3] >= by_mode[2] - PREFER_MARGIN:
                choice = max((c for c in at if c[0] == 3), key=at.get)
            knots.append((est, scale) + choice)
            fast_at = {c: interpolated(fast_grid[c], fast_scale) for c in fast_grid}
            fast_choice = max(fast_at, key=fast_at.get)
            fast_knots.append((est, fast_scale) + fast_choice)
            modes_report.append(f"| {kind} | {sigma} | {by_mode[2]:.2f} | {by_mode[3]:.2f} | {peer:.2f} | "
                                f"{fast_at[fast_choice]:.2f} |")
        tables[kind] = (knots, coefficients)
        tables["fast " + kind] = (fast_knots, fast_coefficients)
        rows[kind] = (estimates, noisy_db, best)

    clean_src = os.path.join(train, "clean.y4m")
    clean_reading = estimate(zeverive, clean_src)["sigma"]
    write_table(root, tables, clean_reading)
    subprocess.run(["cmake", "--build", os.path.dirname(os.path.dirname(zeverive)), "--target", "zeverive_cli"],
                   check=True, stdout=subprocess.DEVNULL)
    report[0] += " --preset fast dB |"
    report[1] += "---|"
    for kind in KINDS:
        estimates, noisy_db, best = rows[kind]
        for sigma, est, noisy, (top, e, profile) in zip(SIGMAS, estimates, noisy_db, best):
            src = os.path.join(train, f"{kind}_s{sigma}.y4m")
            rule = score(zeverive, src, [], clean, out)
            fast_rule = score(zeverive, src, ["--preset", "fast"], clean, out)
            mode, edge = top[2]
            report.append(f"| {kind} | {sigma} | {est:.2f} ({e.get('smoothing', 0):.2f}) | {noisy:.2f} | "
                          f"{top[0]:.2f} | t {top[1]:.2f}, mode {mode}, edges {edge}, "
                          f"thresholds {'/'.join(map(str, profile))} | {rule:.2f} | {fast_rule:.2f} |")
    est = estimate(zeverive, clean_src)
    rule = score(zeverive, clean_src, [], clean, out)
    fast_rule = score(zeverive, clean_src, ["--preset", "fast"], clean, out)
    report.append(f"| none | 0 | {est['sigma']:.2f} ({est.get('smoothing', 0):.2f}) | ∞ | – | – | {rule:.2f} | "
                  f"{fast_rule:.2f} |")
    for kind in tables:
        c = tables[kind][1]
        report.append("")
        report.append(f"{kind}: log t = {c[0]:.4f} (log σ)² + {c[1]:.4f} log σ + {c[2]:.4f}")
    report += ["", f"Best of each mode at the fitted scale (mode 3 is taken for the default within "
                    f"{PREFER_MARGIN} dB of mode 2), garrote tuned on the same clip, and the fast preset's mode 3 at "
                    f"its own fitted scale:", ""] + modes_report
    path = os.path.join(root, "bench", "results", "calibration.md")
    with open(path, "w") as f:
        f.write("\n".join(report) + "\n")
    print("\n".join(report))
    print(f"written: {path}")


def write_table(root, tables, clean_reading):
    names = {"white": "kWhiteKnots", "smoothed": "kSmoothedKnots", "fast white": "kFastWhiteKnots",
             "fast smoothed": "kFastSmoothedKnots"}
    lines = ["// Written by bench/calibrate.sh from its grid search on the training clips;",
             "// do not edit. Knots: estimated sigma, fitted scale, mode, edge threshold.",
             "// The clean training clip reads as noise of this much:",
             f"constexpr double kCleanSigma = {clean_reading:.3f};"]
    for kind, (knots, coefficients) in tables.items():
        lines.append(f"// {kind}: log t = {coefficients[0]:.4f} (log sigma)^2 + {coefficients[1]:.4f} log sigma "
                     f"+ {coefficients[2]:.4f}")
        lines.append(f"constexpr Knot {names[kind]}[] = {{")
        for est, scale, mode, edge in sorted(knots):
            lines.append(f"    {{{est:.3f}, {scale:.4f}, {mode}, {edge}}},")
        lines.append("};")
    with open(os.path.join(root, "luma", "auto_settings_table.inc"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
