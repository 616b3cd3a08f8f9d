#!/usr/bin/env bash
# The do-no-harm table: zeverive with no options on the development set
# (photographs, textures, grain, synthetic structure; no noise, white,
# smoothed and signal-dependent noise), each run's gain over its noisy
# input, or a clean clip's PSNR against itself, and the noise it
# estimated; with no options given, also written to
# bench/results/do_no_harm.md. About 2 minutes on a 2-core machine, and
# one more to make the clips.
#
# usage: bench/do_no_harm.sh [ZEVERIVE OPTIONS...]   (added to every run)
# Environment: ZEVERIVE (a built zeverive; otherwise it is built in
# build/compare), ZEVERIVE_HARM_WORK (where the clips go; default
# /dev/shm/zeverive-harm, about 280 MB).
# Needs ffmpeg, python3-skimage, python3-scipy and python3-pil (scripts/install-deps.sh --bench).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh" --bench
work=${ZEVERIVE_HARM_WORK:-/dev/shm/zeverive-harm}
source "$root/bench/zeverive_binary.sh"

stamp="$work/.made-by-$(cat "$root/bench/clips.py" "$root/bench/do_no_harm/make_clips.py" | sha256sum | cut -c1-16)"
if [ ! -e "$stamp" ]; then
  rm -rf "$work"
  /usr/bin/python3 "$root/bench/do_no_harm/make_clips.py" "$work"
  touch "$stamp"
fi
# The table of the run as users run it is kept; runs with options only print.
results=/dev/null
[ $# -gt 0 ] || results="$root/bench/results/do_no_harm.md"
/usr/bin/python3 "$root/bench/do_no_harm/score.py" "$zeverive" "$work" "$@" | tee "$results"
