#!/usr/bin/env bash
# zeverive with ffmpeg around it, as users run it.
#
#   pipes.sh CHECK ZEVERIVE README WORK_DIR
#
# CHECK is one of:
#   hd_pipe  the README's pipe (ffmpeg | zeverive - - | ffmpeg) on 1280x720
#            H.264 with no options: it runs, gains at least 2 dB, and gives
#            the bytes zeverive --tile gives for the same frames in a file
#   fields   an interlaced (It) clip made from a 50 fps progressive pan:
#            denoised field by field it comes out at least 0.5 dB closer to
#            the clean clip than denoised as whole frames (--frames)
set -euo pipefail

check=$1
zeverive=$2
readme=$3
work=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
samples=$here/../../samples
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# "output N dB" of zeverive's --reference report.
output_db() {
  sed -n 's/.*output \([0-9.]*\) dB.*/\1/p' <<<"$1"
}

case $check in
hd_pipe)
  ffmpeg -v error -y -i "$samples/coffee-clean.y4m" -vf "scale=1280:720:flags=lanczos" -frames:v 6 clean.y4m
  ffmpeg -v error -y -i clean.y4m -vf "noise=c0s=10:allf=t" -c:v libx264 -qp 0 -pix_fmt yuv420p in.mkv
  ffmpeg -v error -y -i in.mkv noisy.y4m
  pipe=$(grep -m1 -E '^ffmpeg .*zeverive - - \|' "$readme")
  pipe=${pipe//zeverive - -/\"\$zeverive\" - -}
  zeverive=$zeverive bash -c "ffmpeg() { command ffmpeg -v error -y \"\$@\"; }; $pipe"
  ffmpeg -v error -y -i out.mkv piped.y4m
  report=$("$zeverive" --tile --reference clean.y4m noisy.y4m tiled.y4m 2>&1)
  echo "$report"
  cmp <(tail -c +"$(($(head -1 piped.y4m | wc -c) + 1))" piped.y4m) \
    <(tail -c +"$(($(head -1 tiled.y4m | wc -c) + 1))" tiled.y4m)
  awk -v a="$(output_db "$report")" -v b="$(sed -n 's/.*input \([0-9.]*\) dB.*/\1/p' <<<"$report")" \
    'BEGIN { exit !(a >= b + 2) }'
  ;;
fields)
  # Two frames of the pan, 12 pixels apart, make each interlaced frame:
  # the top field from the first, the bottom one from the second.
  ffmpeg -v error -y -r 50 -i "$samples/coffee-clean.y4m" -vf tinterlace=mode=interleave_top clean.y4m
  head -1 clean.y4m | grep -q ' It ' || { echo "the clip is not marked top field first" >&2; exit 1; }
  ffmpeg -v error -y -i clean.y4m -vf "noise=c0s=12:allf=t" noisy.y4m
  fields=$("$zeverive" --reference clean.y4m noisy.y4m fields.y4m 2>&1)
  frames=$("$zeverive" --frames --reference clean.y4m noisy.y4m frames.y4m 2>&1)
  echo "field by field: $fields"
  echo "whole frames: $frames"
  grep -q 'denoising field by field' <<<"$fields"
  awk -v a="$(output_db "$fields")" -v b="$(output_db "$frames")" 'BEGIN { exit !(a >= b + 0.5) }'
  ;;
*)
  echo "pipes.sh: unknown check $check" >&2
  exit 2
  ;;
esac
