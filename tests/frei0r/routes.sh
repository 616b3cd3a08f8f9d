#!/usr/bin/env bash
# The README's commands for ffmpeg, melt and GStreamer, run as printed on
# H.264 footage, against the README's pipe through zeverive on the same
# clip: the frei0r route may fall at most 0.3 dB below the pipe in luma
# PSNR against the clean clip, and its output is 4:2:0 with the frames,
# colour tags and (for ffmpeg) the audio of its input.
#
#   routes.sh HOST KIND FILTER_DIR ZEVERIVE README WORK_DIR
#
# HOST is ffmpeg, melt or gstreamer. KIND is one of:
#   hd709       1280x720, tagged BT.709, the README's HD command
#   sd          720x480, untagged, the README's SD command
#   hd709_10    as hd709 at 10 bits (the commands with their 10-bit format)
#   hevc_hd709  as hd709, HEVC
# Every kind is lossless H.264 or HEVC with AAC audio, made from the
# sample clip with noise on luma and chroma. Outputs are written without
# loss (the commands' encoders are swapped for ffv1 or y4menc), so what is
# measured is the route's conversions and the filter.
#
# With MEASURE=1 it prints "KIND HOST noisy pipe route" in dB and checks
# nothing, for bench/routes.sh.
set -euo pipefail

host=$1
kind=$2
export FREI0R_PATH=$3
zeverive=$4
readme=$5
work=$6
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
samples=$here/../../samples
rm -rf "$work"
mkdir -p "$work"
cd "$work"
# GStreamer keeps its list of elements here rather than in the home
# directory, so a filter built elsewhere before cannot be the one found.
export GST_REGISTRY=$work/gstreamer-registry.bin

case $kind in
hd709 | hd709_10 | hevc_hd709) size=1280:720 ;;
sd) size=720:480 ;;
*) echo "routes.sh: unknown kind $kind" >&2; exit 2 ;;
esac
depth=8
[ "$kind" = hd709_10 ] && depth=10
format=yuv420p
[ "$depth" = 10 ] && format=yuv420p10le
frames=6

# The first line of the README that starts with the command $1 and holds
# $2.
readme_line() {
  local line
  line=$(grep -E "^$1 " "$readme" | grep -m1 -F -- "$2" || true)
  [ -n "$line" ] || { echo "the README has no $1 line with $2" >&2; exit 1; }
  printf '%s\n' "$line"
}

# --- The clip ---------------------------------------------------------------
ffmpeg -v error -y -i "$samples/coffee-clean.y4m" -vf "scale=$size:flags=lanczos" -frames:v $frames \
  -pix_fmt $format -strict -1 clean.y4m
tags=()
case $kind in
hd709*|hevc_hd709) tags=(-colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv) ;;
esac
codec=(-c:v libx264 -qp 0)
[ "$kind" = hevc_hd709 ] && codec=(-c:v libx265 -x265-params lossless=1:log-level=error)
# The 10-bit clip: the photograph scaled at 10 bits, so that its low bits
# carry picture, and Gaussian noise of 5 codes (8-bit) on luma, 2 on
# chroma, from numpy (python3-numpy; the benchmarks install it).
if [ "$depth" = 10 ]; then
  /usr/bin/python3 - <<'PY'
import numpy as np
data = open("clean.y4m", "rb").read()
end = data.index(b"\n")
fields = data[:end].split()
width = int(next(f for f in fields if f.startswith(b"W"))[1:])
height = int(next(f for f in fields if f.startswith(b"H"))[1:])
planes = [(width, height, 20.0), ((width + 1) // 2, (height + 1) // 2, 8.0), ((width + 1) // 2, (height + 1) // 2, 8.0)]
random = np.random.default_rng(20)
out, at = [data[:end + 1]], end + 1
while at < len(data):
    line = data.index(b"\n", at) + 1
    out.append(data[at:line])
    at = line
    for w, h, sigma in planes:
        plane = np.frombuffer(data, "<u2", w * h, at).astype(np.float64)
        out.append(np.clip(np.rint(plane + random.normal(0.0, sigma, plane.shape)), 0, 1023).astype("<u2").tobytes())
        at += 2 * w * h
open("noisy.y4m", "wb").write(b"".join(out))
PY
else
  ffmpeg -v error -y -i "$samples/coffee-clean.y4m" -vf "scale=$size:flags=lanczos,noise=c0s=10:c1s=6:c2s=6:allf=t" \
    -frames:v $frames noisy.y4m
fi
ffmpeg -v error -y -i noisy.y4m -f lavfi -i "sine=frequency=440:duration=1" -shortest "${codec[@]}" -pix_fmt $format \
  "${tags[@]}" -c:a aac noisy.mp4

frame_count() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1" 2>/dev/null
}

# Luma PSNR against the clean clip, from the mean squared error of all
# frames; the same number of frames or nothing.
psnr() {
  local got
  got=$(frame_count "$1")
  [ "$got" = $frames ] || { echo "$1 has $got frames, not $frames" >&2; exit 1; }
  ffmpeg -nostdin -i "$1" -i clean.y4m -lavfi "[0:v]format=$format[a];[1:v]format=$format[b];[a][b]psnr" -f null - 2>&1 |
    grep -o 'PSNR y:[0-9.]*' | tail -1 | cut -d: -f2
}

# --- The pipe through zeverive, as the README prints it ----------------------
pipe=$(readme_line ffmpeg 'zeverive - - |')
pipe=${pipe//in.mkv/noisy.mp4}
pipe=${pipe//zeverive - -/\"\$zeverive\" --quiet - -}
[ "$depth" = 10 ] && pipe=${pipe//-f yuv4mpegpipe/-strict -1 -f yuv4mpegpipe}
zeverive=$zeverive bash -c "ffmpeg() { command ffmpeg -v error -y \"\$@\"; }; $pipe"

# --- The route -----------------------------------------------------------------
case $host in
ffmpeg)
  if [ "$kind" = sd ]; then marker='in_color_matrix=bt601'; else marker='in_color_matrix=bt709'; fi
  command=$(readme_line ffmpeg "$marker")
  command=${command//format=yuv420p,/format=$format,}
  command=${command// out.mkv/ -c:v ffv1 route.mkv}
  bash -c "ffmpeg() { command ffmpeg -v error -y \"\$@\"; }; $command"
  route=route.mkv
  ;;
melt)
  command=$(readme_line melt 'frei0r.zeverive -consumer')
  command="${command//avformat:out.mkv/avformat:route.mkv} vcodec=ffv1 -silent -quiet"
  [ "$depth" = 10 ] && command+=" pix_fmt=yuv420p10le"
  # melt waits for keys from a terminal on standard input. Under load it
  # now and then does not exit after its last frame, or stops early and
  # leaves a file that does not parse, with or without the filter: such
  # a run is tried again; three in a row fail the test.
  for attempt in 1 2 3; do
    status=0
    rm -f route.mkv
    timeout 120 bash -c "$command" </dev/null >melt.log 2>&1 || status=$?
    grep -v LADSPA melt.log || true
    [ "$status" -eq 0 ] && [ "$(frame_count route.mkv)" = "$frames" ] && break
    echo "melt gave no whole output (exit status $status, attempt $attempt)"
  done
  route=route.mkv
  ;;
gstreamer)
  command=$(readme_line gst-launch-1.0 'frei0r-filter-zeverive')
  tail='x264enc ! matroskamux ! filesink location=out.mkv'
  [[ $command == *"$tail" ]] || { echo "the README's GStreamer line does not end in $tail" >&2; exit 1; }
  if [ "$depth" = 10 ]; then
    command="${command%"$tail"}filesink location=route.yuv"
    command=${command//format=I420 /format=I420_10LE }
  else
    command="${command%"$tail"}y4menc ! filesink location=route.y4m"
  fi
  timeout 300 bash -c "$command -q"
  route=route.y4m
  if [ "$depth" = 10 ]; then
    ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p10le -s "${size/:/x}" -i route.yuv -pix_fmt yuv420p10le -strict -1 route.y4m
  fi
  ;;
*)
  echo "routes.sh: unknown host $host" >&2
  exit 2
  ;;
esac

noisy=$(psnr noisy.mp4)
through_pipe=$(psnr out.mkv)
through_route=$(psnr "$route")
if [ "${MEASURE:-0}" = 1 ]; then
  echo "$kind $host $noisy $through_pipe $through_route"
  exit 0
fi
echo "luma PSNR: noisy $noisy dB, the pipe through zeverive $through_pipe dB, $host $through_route dB"
awk -v p="$through_pipe" -v r="$through_route" 'BEGIN { exit !(r >= p - 0.3) }' ||
  { echo "$host falls more than 0.3 dB below the pipe" >&2; exit 1; }
awk -v n="$noisy" -v p="$through_pipe" 'BEGIN { exit !(p >= n + 2) }' ||
  { echo "the pipe itself gained less than 2 dB: the comparison means nothing" >&2; exit 1; }

# What the output is: 4:2:0 at the input's depth, and (from files that
# carry them) the colour tags.
[ "$route" = route.mkv ] || exit 0
streams=$(ffprobe -v error -show_streams "$route")
grep -qx "pix_fmt=$format" <<<"$streams" || { echo "the output is not $format" >&2; exit 1; }
case $kind in
hd709*|hevc_hd709) matrix=bt709 ;;
sd) matrix=smpte170m ;;
esac
grep -qx "color_space=$matrix" <<<"$streams" || { echo "the output is not tagged $matrix" >&2; exit 1; }
if [ "$kind" != sd ]; then
  for tag in color_primaries=bt709 color_transfer=bt709 color_range=tv; do
    grep -qx "$tag" <<<"$streams" || { echo "the output lost $tag" >&2; exit 1; }
  done
fi
# Copied, not encoded anew: the same packets.
audio_packets() {
  ffprobe -v error -select_streams a -show_entries packet=data_hash -show_data_hash md5 -of csv=p=0 "$1" |
    grep -o 'MD5:[0-9a-f]*'
}
if [ "$host" = ffmpeg ] && [ "$(audio_packets "$route")" != "$(audio_packets noisy.mp4)" ]; then
  echo "the audio was not copied" >&2
  exit 1
fi
echo "output: $format, tagged $matrix"
