#!/usr/bin/env bash
# zeverive end to end on a 720x480 clip, reading and writing included:
# frames per second with -j 1 and -j 2 (alternately, so both see the same
# moments of the machine), the ratio, and the peak memory of each run as
# /usr/bin/time -v reports it (the parent's; with -j 2 each worker is a
# forked copy of about the same size). Then the same for the clip four
# times over.
#
# usage: bench/end_to_end.sh [ROUNDS]   (default 5)
# Environment: ZEVERIVE (otherwise built in build/compare), CLIP (otherwise
# the 720x480 sigma-10 speed clip of bench/compare.sh, made if missing).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
work=${ZEVERIVE_COMPARE_WORK:-/dev/shm/zeverive-compare}
source "$root/bench/zeverive_binary.sh"
clip=${CLIP:-$work/speed.y4m}
if [ ! -e "$clip" ]; then
  /usr/bin/python3 "$root/bench/compare/make_clips.py" "$work"
fi
# The same clip four times over, made once: with four times the frames,
# what a run costs once (start-up, the first touch of its memory, a second
# process's start) weighs a quarter as much, which shows what -j 2 gains
# per frame.
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

echo "machine: $(nproc) x $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1)"
for input in "$clip" "$long_clip"; do
  frames=$(count_frames "$input")
  echo "clip: $input ($frames frames)"
  declare -A fps_list=() mem_list=()
  for round in $(seq "$rounds"); do
    for jobs in 1 2; do
      /usr/bin/time -v "$zeverive" "$input" "$out" -q -j "$jobs" 2> "$log"
      seconds=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log" | awk -F: '{print (NF == 3) ? $1 * 3600 + $2 * 60 + $3 : $1 * 60 + $2}')
      kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
      fps_list[$jobs]+="$(awk -v f="$frames" -v s="$seconds" 'BEGIN {printf "%.1f ", f / s}')"
      mem_list[$jobs]+="$kb "
    done
  done
  for jobs in 1 2; do
    echo "  -j $jobs: fps ${fps_list[$jobs]}-> median $(echo "${fps_list[$jobs]}" | median); peak RSS kB ${mem_list[$jobs]}"
  done
  awk -v a="$(echo "${fps_list[2]}" | median)" -v b="$(echo "${fps_list[1]}" | median)" \
    'BEGIN {printf "  -j 2 / -j 1 = %.2f\n", a / b}'
done
