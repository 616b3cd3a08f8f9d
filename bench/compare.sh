#!/usr/bin/env bash
# Zeverive against ffmpeg's denoisers on clips made from the CC0
# photographs of Debian's python3-skimage: luma PSNR, SSIM and frames per
# second, single-threaded. Writes bench/results/comparison.md and
# bench/results/comparison.png.
#
# usage: bench/compare.sh [--rounds N] [--search]
#   --rounds N   speed rounds (default 5); every filter runs once per round
#   --search     instead: try the slider grid and print the best per sigma
# Environment: ZEVERIVE (a built zeverive; otherwise it is built in
# build/compare), ZEVERIVE_COMPARE_WORK (where the clips go; default
# /dev/shm/zeverive-compare, about 1 GB).
# Needs ffmpeg, python3-skimage and python3-matplotlib, which it installs
# (scripts/install-deps.sh --bench).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh" --bench
work=${ZEVERIVE_COMPARE_WORK:-/dev/shm/zeverive-compare}
source "$root/bench/zeverive_binary.sh"

# The clips depend only on the script that makes them; made once.
stamp="$work/.made-by-$(sha256sum "$root/bench/compare/make_clips.py" | cut -c1-16)"
if [ ! -e "$stamp" ]; then
  rm -rf "$work"
  /usr/bin/python3 "$root/bench/compare/make_clips.py" "$work/quality" 30 3 5 10
  /usr/bin/python3 "$root/bench/compare/make_clips.py" "$work/speed" 150 10
  touch "$stamp"
fi

echo "machine: $(nproc) x $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1), $(ffmpeg -version | head -1 | cut -d' ' -f1-3)"
/usr/bin/python3 "$root/bench/compare/compare.py" "$zeverive" "$work" "$root/bench/results" "$@"
