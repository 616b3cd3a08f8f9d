#!/usr/bin/env bash
# Zeverive against ffmpeg's denoisers, every one tuned per noise level with
# its own grid on the same clips, single-threaded: luma PSNR and frames per
# second. The clips come from photographs of Debian's python3-skimage that
# the automatic settings were not calibrated on. Writes
# bench/results/comparison.md and bench/results/comparison.png. About 4
# minutes on a 2-core machine, half of it the speed rounds.
#
# usage: bench/compare.sh [--rounds N]   (speed rounds, default 5)
# Environment: ZEVERIVE (a built zeverive; otherwise it is built in
# build/bench), ZEVERIVE_COMPARE_WORK (where the clips go; default
# /dev/shm/zeverive-compare, about 90 MB).
# Needs ffmpeg, python3-skimage and python3-matplotlib, which it installs
# (scripts/install-deps.sh --bench).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh" --bench
work=${ZEVERIVE_COMPARE_WORK:-/dev/shm/zeverive-compare}
source "$root/bench/zeverive_binary.sh"

# The clips depend only on the scripts that make them; made once.
stamp="$work/.made-by-$(cat "$root/bench/clips.py" "$root/bench/compare/make_clips.py" | sha256sum | cut -c1-16)"
if [ ! -e "$stamp" ]; then
  rm -rf "$work"
  /usr/bin/python3 "$root/bench/compare/make_clips.py" "$work"
  touch "$stamp"
fi

echo "machine: $(nproc) x $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1), $(ffmpeg -version | head -1 | cut -d' ' -f1-3)"
start=$(date +%s)
/usr/bin/python3 "$root/bench/compare/compare.py" "$zeverive" "$work" "$root/bench/results" "$@"
echo "comparison took $(( $(date +%s) - start )) s"
