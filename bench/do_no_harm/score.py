#!/usr/bin/env python3
"""The do-no-harm table: zeverive with no options on every clip of the
development set (make_clips.py) and every noise, scored by luma PSNR
against the clean clip.

usage: score.py ZEVERIVE WORKDIR [ZEVERIVE OPTIONS...]

Prints two markdown tables. The first gives, per clip and noise, what the
run gains over the noisy input in dB; for the clean clip ("none"), the
output's PSNR against the clean clip itself ("=" when every byte is kept).
A cell in bold is harm: a noisy clip that came out worse than it went in,
or a clean one below 45 dB. The second gives the noise the run estimated
(its first scene's, from the report on stderr). The last lines count the
harm and name the worst cell.
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import clips  # noqa: E402
from make_clips import NOISES  # noqa: E402

CLEAN_FLOOR = 45.0


def main():
    zeverive, work, extra = sys.argv[1], sys.argv[2], sys.argv[3:]
    names = sorted(d for d in os.listdir(work) if os.path.isdir(os.path.join(work, d)))
    out = os.path.join(work, "out.y4m")
    header = "| clip | " + " | ".join(NOISES) + " |"
    rule = "|---" * (len(NOISES) + 1) + "|"
    gains, estimates = [header, rule], [header, rule]
    harm, worst = 0, (float("inf"), "")
    for name in names:
        clean = clips.read_luma(os.path.join(work, name, "none.y4m"))
        gain_cells, estimate_cells = [], []
        for noise in NOISES:
            src = os.path.join(work, name, f"{noise}.y4m")
            run = subprocess.run([zeverive, "-j", "1", src, out] + extra, capture_output=True, text=True)
            if run.returncode != 0:
                sys.exit(f"{src}: {run.stderr.strip()}")
            found = re.search(r"noise ([0-9.]+) codes", run.stderr)
            estimate_cells.append(found.group(1) if found else "–")
            result = clips.read_luma(out)
            if noise == "none":
                identical = all((r == c).all() for r, c in zip(result, clean))
                value = clips.psnr(result, clean)
                bad = value < CLEAN_FLOOR
                text = "=" if identical else f"{value:.2f}"
                margin = value - CLEAN_FLOOR
            else:
                value = clips.psnr(result, clean) - clips.psnr(clips.read_luma(src), clean)
                bad = value < 0
                text = f"{value:+.2f}"
                margin = value
            if margin < worst[0]:
                worst = (margin, f"{name} {noise}: {text}")
            harm += bad
            gain_cells.append(f"**{text}**" if bad else text)
        gains.append(f"| {name} | " + " | ".join(gain_cells) + " |")
        estimates.append(f"| {name} | " + " | ".join(estimate_cells) + " |")
        print(gains[-1], file=sys.stderr, flush=True)
    print("\n".join(gains))
    print()
    print("Estimated noise (codes):")
    print()
    print("\n".join(estimates))
    print()
    print(f"harm: {harm} of {len(names) * len(NOISES)} runs; closest to harm: {worst[1]}")


if __name__ == "__main__":
    main()
