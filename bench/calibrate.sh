#!/usr/bin/env bash
# Regenerates the automatic settings: makes the training clips from
# coffee.png, astronaut.png and chelsea.png of Debian's python3-skimage,
# runs the grid search and the fit, writes luma/auto_settings_table.inc and
# bench/results/calibration.md, rebuilds zeverive and scores the rule.
# About 1512 runs of zeverive on 6 frames of 320x208: a few minutes.
#
# usage: bench/calibrate.sh
# Environment: ZEVERIVE_BUILD (a configured CMake build tree to rebuild
# zeverive in; default build/bench, configured here),
# ZEVERIVE_CALIBRATE_WORK (the clips; default /dev/shm/zeverive-calibrate,
# about 10 MB).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh" --bench
work=${ZEVERIVE_CALIBRATE_WORK:-/dev/shm/zeverive-calibrate}
build=${ZEVERIVE_BUILD:-$root/build/bench}
[ -n "${ZEVERIVE_BUILD:-}" ] || cmake --preset bench -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target zeverive_cli >/dev/null

stamp="$work/.made-by-$(cat "$root/bench/clips.py" "$root/bench/calibrate/make_training_clips.py" | sha256sum | cut -c1-16)"
if [ ! -e "$stamp" ]; then
  rm -rf "$work"
  /usr/bin/python3 "$root/bench/calibrate/make_training_clips.py" "$work"
  touch "$stamp"
fi
start=$(date +%s)
/usr/bin/python3 "$root/bench/calibrate/calibrate.py" "$build/cli/zeverive" "$work" "$root"
echo "calibration took $(( $(date +%s) - start )) s"
