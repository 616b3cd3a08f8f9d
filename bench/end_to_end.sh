#!/usr/bin/env bash
# zeverive end to end, reading and writing included, against ffmpeg's
# vaguedenoiser (hard thresholding, one thread), the same clip for all:
# every run below one after the other in each round, so all see the same
# moments of the machine; medians and ranges over the rounds, the ratios of
# the medians to the peer, the processor time over the wall time (how many
# cores a run kept busy), and the peak memory of each zeverive run as
# /usr/bin/time -v reports it (the process's own). A ratio measured this way
# carries from machine to machine much better than a time.
#
# Runs, all with their automatic settings (what a user gets; on white noise
# of sigma 10 they choose mode 2, four phases) unless said:
#   j1      zeverive -j 1
#   j2      zeverive -j 2 (two threads, each with a copy of the plug-in)
#   fast    zeverive -j 1 --preset fast
#   no-auto zeverive -j 1 --no-auto (the plug-in's own sliders, mode 3)
#   frei0r  ffmpeg -vf frei0r=zeverive, as the README shows it (720x480 and
#           1920x1080 only): the filter with its own automatic settings and
#           threads for the tiles of a large frame, inside ffmpeg's own
#           conversion to R'G'B' and back
#   peer    ffmpeg -threads 1 -filter_threads 1 -vf vaguedenoiser=...
#
# Clips (white noise of sigma 10, from bench/speed_clip.py): 720x480, 150
# frames, and the same four times over (600 frames, where what a run costs
# once weighs a quarter as much); 1920x1080, 30 frames, and 3840x2160, 10
# frames, both with --tile.
#
# Needs ffmpeg, python3-scipy (for the clips) and GNU time
# (scripts/install-deps.sh --bench).
#
# usage: bench/end_to_end.sh [ROUNDS]   (default 5)
# Environment: ZEVERIVE (otherwise built in build/bench), FREI0R_PATH
# (the directory of the frei0r filter; otherwise that build's frei0r/),
# ZEVERIVE_COMPARE_WORK (where the clips go; default
# /dev/shm/zeverive-compare).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
work=${ZEVERIVE_COMPARE_WORK:-/dev/shm/zeverive-compare}
source "$root/bench/zeverive_binary.sh"
if [ -z "${FREI0R_PATH:-}" ]; then
  build="$root/build/bench"
  cmake --preset bench -S "$root" -B "$build" >/dev/null
  cmake --build "$build" -j "$(nproc)" --target zeverive_frei0r >/dev/null
  export FREI0R_PATH="$build/frei0r"
fi
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
# fps[KEY], its processor time over its wall time to cores[KEY] and its
# peak resident memory to mem[KEY].
timed() {
  local key=$1 frames=$2
  shift 2
  if ! /usr/bin/time -v "$@" 2> "$log" > /dev/null; then
    echo "failed: $*" >&2
    cat "$log" >&2
    exit 1
  fi
  local seconds cpu kb
  seconds=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$log" | awk -F: '{print (NF == 3) ? $1 * 3600 + $2 * 60 + $3 : $1 * 60 + $2}')
  cpu=$(sed -n 's/.*\(User\|System\) time (seconds): //p' "$log" | awk '{s += $1} END {print s}')
  kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$log")
  fps[$key]+="$(awk -v f="$frames" -v s="$seconds" 'BEGIN {printf "%.1f ", f / s}')"
  cores[$key]+="$(awk -v c="$cpu" -v s="$seconds" 'BEGIN {printf "%.2f ", c / s}')"
  mem[$key]+="$kb "
}

echo "machine: $(nproc) x $(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1), $(ffmpeg -version | head -1 | cut -d' ' -f1-3); other load is not controlled: compare ratios, not times"
echo "zeverive: $zeverive; frei0r: $FREI0R_PATH; peer: ffmpeg -threads 1 -filter_threads 1 -vf $peer_filter; $rounds rounds"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for input in "$clip" "$long_clip" "$hd_clip" "$uhd_clip"; do
  frames=$(count_frames "$input")
  tile=()
  if [ "$input" = "$hd_clip" ] || [ "$input" = "$uhd_clip" ]; then tile=(--tile); fi
  keys=(j1 j2 fast no-auto peer)
  if [ "$input" = "$clip" ] || [ "$input" = "$hd_clip" ]; then keys+=(frei0r); fi
  echo "clip: $input ($frames frames) ${tile[*]}"
  declare -A fps=() cores=() mem=()
  for _ in $(seq "$rounds"); do
    for key in "${keys[@]}"; do
      case $key in
        j1) timed j1 "$frames" "$zeverive" "$input" "$out" -q -j 1 "${tile[@]}" ;;
        j2) timed j2 "$frames" "$zeverive" "$input" "$out" -q -j 2 "${tile[@]}" ;;
        fast) timed fast "$frames" "$zeverive" "$input" "$out" -q -j 1 --preset fast "${tile[@]}" ;;
        no-auto) timed no-auto "$frames" "$zeverive" "$input" "$out" -q -j 1 --no-auto "${tile[@]}" ;;
        peer) timed peer "$frames" ffmpeg -nostdin -loglevel error -threads 1 -filter_threads 1 -i "$input" \
          -vf "$peer_filter" -f yuv4mpegpipe -y "$out" ;;
        frei0r) timed frei0r "$frames" ffmpeg -nostdin -loglevel error -i "$input" \
          -sws_flags accurate_rnd+full_chroma_int -vf frei0r=zeverive -pix_fmt yuv420p -f yuv4mpegpipe -y "$out" ;;
      esac
    done
  done
  peer=$(echo "${fps[peer]}" | median)
  j1=$(echo "${fps[j1]}" | median)
  for key in "${keys[@]}"; do
    m=$(echo "${fps[$key]}" | median)
    echo "  $key: fps ${fps[$key]}-> median $m (range $(echo "${fps[$key]}" | range));" \
      "/ peer $(awk -v a="$m" -v b="$peer" 'BEGIN {printf "%.2f", a / b}');" \
      "/ -j 1 $(awk -v a="$m" -v b="$j1" 'BEGIN {printf "%.2f", a / b}');" \
      "processor / wall $(echo "${cores[$key]}" | median); peak RSS kB median $(echo "${mem[$key]}" | median)"
  done
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
