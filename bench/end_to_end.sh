#!/usr/bin/env bash
# zeverive end to end, reading and writing included, against ffmpeg's
# vaguedenoiser (hard thresholding, one thread), the same clip for both:
# frames per second of zeverive -j 1, zeverive -j 2 and the peer, run one
# after the other in every round so all three see the same moments of the
# machine; medians and ranges over the rounds, the ratios of the medians,
# and the peak memory of each zeverive run as /usr/bin/time -v reports it
# (the parent's; with -j 2 each worker is a forked copy of about the same
# size). A ratio measured this way carries from machine to machine much
# better than a time.
#
# zeverive runs with its automatic settings (what a user gets with no
# options; on white noise of sigma 10 they choose mode 2, four phases) and,
# as "defaults", with --no-auto (the plug-in's own sliders, mode 3).
#
# Clips (white noise of sigma 10, from bench/speed_clip.py): 720x480, 150 frames,
# and the same four times over (600 frames, where what a run costs once
# weighs a quarter as much); 1920x1080, 30 frames, and 3840x2160, 10 frames,
# both with --tile.
#
# usage: bench/end_to_end.sh [ROUNDS]   (default 5)
# Environment: ZEVERIVE (otherwise built in build/bench),
# ZEVERIVE_COMPARE_WORK (where the clips go; default /dev/shm/zeverive-compare).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
work=${ZEVERIVE_COMPARE_WORK:-/dev/shm/zeverive-compare}
source "$root/bench/zeverive_binary.sh"
peer_filter="vaguedenoiser=planes=1:method=hard:threshold=28"

make_clip() {  # WIDTH HEIGHT FRAMES
  local path="$work/end_to_end/speed_$1x$2_$3.y4m"
  if [ ! -e "$path" ]; then
    mkdir -p "$work/end_to_end"
    /usr/bin/python3 "$root/bench/speed_clip.py" "$1" "$2" "$3" "$path"
  fi
  echo "$path"
}
clip=$(make_clip 720 480 150)
hd_clip=$(make_clip 1920 1080 30)
uhd_clip=$(make_clip 3840 2160 10)
long_clip="${clip%.y4m}_x4.y4m"
if [ ! -e "$long_clip" ] || [ "$long_clip" -ot "$clip" ]; then
  { head -n 1 "$clip"; for _ in 1 2 3 4; do tail -n +2 "$clip"; done; } > "$long_clip"
fi

# Frames in a stream of 8-bit 4:2:0 frames of the size in its header, each
# after a bare FRAME line.
count_frames() {
  /usr/bin/python3 -c '
import os, sys
with open(sys.argv[1], "rb") as f:
    header = f.readline()
fields = header.split()
w = int(next(t for t in fields if t.startswith(b"W"))[1:])
h = int(next(t for t in fields if t.startswith(b"H"))[1:])
size = w * h + 2 * ((w + 1) // 2) * ((h + 1) // 2)
print((os.path.getsize(sys.argv[1]) - len(header)) // (len(b"FRAME\n") + size))' "$1"
}
out=$(mktemp --suffix=.y4m)
log=$(mktemp)
trap 'rm -f "$out" "$log"' EXIT

median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
range() { tr ' ' '\n' | grep . | sort -g | awk 'NR == 1 {lo = $1} {hi = $1} END {print lo "-" hi}'; }

# Runs a command under /usr/bin/time -v; appends its frames per second to
# fps[KEY] and its peak resident memory to mem[KEY].
timed() {
  local key=$1 frames=$2
  shift 2
  /usr/bin/time -v "$@" 2> "$log" > /dev/null
  local seconds kb
  seconds=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log" | awk -F: '{print (NF == 3) ? $1 * 3600 + $2 * 60 + $3 : $1 * 60 + $2}')
  kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
  fps[$key]+="$(awk -v f="$frames" -v s="$seconds" 'BEGIN {printf "%.1f ", f / s}')"
  mem[$key]+="$kb "
}

echo "machine: $(nproc) x $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1), $(ffmpeg -version | head -1 | cut -d' ' -f1-3); other load is not controlled: compare ratios, not times"
echo "zeverive: $zeverive; peer: ffmpeg -threads 1 -filter_threads 1 -vf $peer_filter; $rounds rounds"
for input in "$clip" "$long_clip" "$hd_clip" "$uhd_clip"; do
  frames=$(count_frames "$input")
  tile=()
  if [ "$input" = "$hd_clip" ] || [ "$input" = "$uhd_clip" ]; then tile=(--tile); fi
  echo "clip: $input ($frames frames) ${tile[*]}"
  declare -A fps=() mem=()
  for _ in $(seq "$rounds"); do
    for jobs in 1 2; do
      timed "j$jobs" "$frames" "$zeverive" "$input" "$out" -q -j "$jobs" "${tile[@]}"
    done
    timed defaults "$frames" "$zeverive" "$input" "$out" -q -j 1 --no-auto "${tile[@]}"
    timed peer "$frames" ffmpeg -nostdin -loglevel error -threads 1 -filter_threads 1 -i "$input" \
      -vf "$peer_filter" -f yuv4mpegpipe -y "$out"
  done
  for key in j1 j2 defaults peer; do
    echo "  $key: fps ${fps[$key]}-> median $(echo "${fps[$key]}" | median) (range $(echo "${fps[$key]}" | range)); peak RSS kB median $(echo "${mem[$key]}" | median)"
  done
  awk -v j1="$(echo "${fps[j1]}" | median)" -v j2="$(echo "${fps[j2]}" | median)" \
    -v defaults="$(echo "${fps[defaults]}" | median)" -v peer="$(echo "${fps[peer]}" | median)" \
    'BEGIN {printf "  -j 1 / peer = %.2f, -j 2 / peer = %.2f, -j 2 / -j 1 = %.2f, defaults -j 1 / peer = %.2f\n", j1 / peer, j2 / peer, j2 / j1, defaults / peer}'
done
