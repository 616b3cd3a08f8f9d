#!/usr/bin/env bash
# What zeverive-batch costs over the one pipeline a user would otherwise
# type, on one machine: a 2-minute 1280x720 30 fps H.264 clip with AAC
# audio and noise on the luma, denoised into lossless FFV1 with its audio,
#
#   pipeline:  ffmpeg -i clip -f yuv4mpegpipe - | zeverive --tile - - | ffmpeg ... -c:v ffv1 -c:a copy
#   batch:     zeverive-batch clip OUTDIR        (default hosts ":", pieces of 60 s)
#
# run one after the other in every round, so both see the same moments of
# the machine; wall times per round, their medians and the ratio of the
# medians (batch / pipeline).
#
# usage: bench/batch_overhead.sh [ROUNDS]   (default 3)
# Environment: ZEVERIVE (otherwise built in build/compare), ZEVERIVE_BATCH
# (otherwise build/compare/zeverive-batch), ZEVERIVE_BATCH_WORK (where the
# clip and the results go, about 8 GB; default build/batch-overhead: the
# lossless results are too large for memory).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-3}
work=${ZEVERIVE_BATCH_WORK:-$root/build/batch-overhead}
source "$root/bench/zeverive_binary.sh"
batch=${ZEVERIVE_BATCH:-$root/build/compare/zeverive-batch}
[ -x "$batch" ] || cmake --build "$root/build/compare" --target zeverive_manual >/dev/null
export PATH=$(dirname "$zeverive"):$PATH

mkdir -p "$work"
clip=$work/clip-720p-120s.mp4
if [ ! -e "$clip" ]; then
  ffmpeg -v error -f lavfi -i "testsrc2=size=1280x720:rate=30:duration=120,noise=c0s=8:c0f=t" \
    -f lavfi -i "sine=frequency=440:duration=120" -c:v libx264 -crf 20 -preset veryfast -pix_fmt yuv420p \
    -c:a aac "$clip"
fi

seconds() { awk -v s="$1" -v e="$2" 'BEGIN { printf "%.1f", e - s }'; }
pipeline=()
batched=()
for round in $(seq "$rounds"); do
  rm -rf "$work/out" && mkdir -p "$work/out"
  start=$(date +%s.%N)
  ffmpeg -v error -i "$clip" -map 0:v -f yuv4mpegpipe - | "$zeverive" --quiet --tile - - |
    ffmpeg -v error -f yuv4mpegpipe -i - -i "$clip" -map 0:v -map 1:a -c:v ffv1 -level 3 -c:a copy \
      -y "$work/out/pipeline.mkv"
  pipeline+=("$(seconds "$start" "$(date +%s.%N)")")

  start=$(date +%s.%N)
  "$batch" "$clip" "$work/out" 2>/dev/null
  batched+=("$(seconds "$start" "$(date +%s.%N)")")
  echo "round $round: pipeline ${pipeline[-1]} s, zeverive-batch ${batched[-1]} s"
done

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
p=$(median "${pipeline[@]}")
b=$(median "${batched[@]}")
echo "median: pipeline $p s, zeverive-batch $b s, batch / pipeline $(awk -v p="$p" -v b="$b" 'BEGIN { printf "%.2f", b / p }')"
echo "processor: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
