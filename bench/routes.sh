#!/usr/bin/env bash
# What each frei0r route keeps of the gain: the README's ffmpeg, melt and
# GStreamer commands on 8- and 10-bit H.264 and HEVC, tagged BT.709 HD and
# untagged SD, against the README's pipe through zeverive, in luma PSNR
# against the clean clip (tests/frei0r/routes.sh makes the clips and runs
# the commands). Writes bench/results/routes.md.
#
#   bash bench/routes.sh     (ZEVERIVE=path uses that program; the filter
#                             comes from the same build, FREI0R_DIR=dir
#                             overrides)
# Needs ffmpeg, melt, GStreamer (scripts/install-deps.sh) and, for the
# 10-bit clip, python3-numpy (install-deps.sh --all).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/compare"
if [ -z "${ZEVERIVE:-}" ]; then
  cmake --preset native -S "$root" -B "$build" -DZEVERIVE_TESTS=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)" --target zeverive_cli zeverive_frei0r >/dev/null
fi
zeverive=${ZEVERIVE:-$build/cli/zeverive}
filter_dir=${FREI0R_DIR:-$(dirname "$(dirname "$zeverive")")/frei0r}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

declare -A kind_names=([hd709]="H.264 1280x720, BT.709 tagged" [sd]="H.264 720x480, untagged"
  [hd709_10]="H.264 1280x720 10-bit, BT.709 tagged" [hevc_hd709]="HEVC 1280x720, BT.709 tagged")
out=$root/bench/results/routes.md
{
  echo "| footage | noisy | pipe through zeverive | ffmpeg | melt | GStreamer |"
  echo "|---|---|---|---|---|---|"
  for kind in hd709 sd hd709_10 hevc_hd709; do
    row="| ${kind_names[$kind]} |"
    for host in ffmpeg melt gstreamer; do
      read -r _ _ noisy pipe route < <(MEASURE=1 bash "$root/tests/frei0r/routes.sh" "$host" "$kind" "$filter_dir" \
        "$zeverive" "$root/README.md" "$work/$kind-$host" 2>"$work/log" | tail -1) || { cat "$work/log" >&2; exit 1; }
      [ "$host" = ffmpeg ] && row+=" $(printf '%.2f' "$noisy") | $(printf '%.2f' "$pipe") |"
      row+=" $(printf '%.2f (%+.2f)' "$route" "$(awk -v r="$route" -v p="$pipe" 'BEGIN { print r - p }')") |"
    done
    echo "$row"
  done
  echo
  echo "In brackets: the difference from the pipe. Command: \`bash bench/routes.sh\`; $(ffmpeg -version | head -1 | cut -d' ' -f1-3), $(melt --version 2>&1 | head -1), $(gst-launch-1.0 --version | sed -n 2p)."
} | tee "$out"
