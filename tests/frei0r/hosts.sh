#!/usr/bin/env bash
# The frei0r filter in the real hosts, ffmpeg and melt, found through
# FREI0R_PATH in the build.
#
#   hosts.sh CHECK FILTER_DIR ZEVERIVE WORK_DIR
#
# CHECK is one of:
#   ffmpeg_cleaner                the noisy sample clip gains at least 2 dB of luma PSNR
#   ffmpeg_grey_matches_zeverive  on grey frames, where the colour round trip is
#                                 exact, luma within one code of zeverive's
#   ffmpeg_alpha                  alpha comes out as it went in, colour changed
#   ffmpeg_1080                   a 1920x1080 clip, in tiles: within one code of
#                                 zeverive --tile and at least 2 dB cleaner
#   melt_parameter                melt applies frei0r.zeverive, and parameters set
#                                 on its command line take effect
set -euo pipefail

check=$1
export FREI0R_PATH=$2
zeverive=$3
work=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
samples=$here/../../samples
# Debian's interpreter, which has the python3-numpy package.
luma() { /usr/bin/python3 "$here/luma.py" "$@"; }
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# ffmpeg's default conversion to RGB and back rounds grey levels off by up
# to 2 codes; these flags make the round trip exact.
exact=(-sws_flags accurate_rnd+full_chroma_int)
# Automatic settings off, mode 2, every noise threshold 100, strength 200 %,
# the edges at their defaults: the same settings as the zeverive options
# below.
fixed="n|0.666667|0.133333|0.2|0.266667|0.333333|1|1|1|1|1"
fixed_options=(--quiet --no-auto --mode 2 --nr2 100 --nr3 100 --nr4 100 --nr5h 100 --strength 200)

# At least `margin` dB between two PSNR figures.
gains() {
  local before=$1 after=$2 margin=$3
  echo "luma PSNR $before dB -> $after dB"
  awk -v b="$before" -v a="$after" -v m="$margin" 'BEGIN { exit !(a >= b + m) }'
}

# A grey clip from a clip: neutral chroma, luma held within the video
# range, where R'G'B' does not clip, after the filters given.
grey() {
  ffmpeg -v error -y -i "$1" -vf "${2:+$2,}lutyuv=y=clip(val\,16\,235):u=128:v=128" "${@:3}"
}

case $check in
ffmpeg_cleaner)
  ffmpeg -v error -y -i "$samples/coffee-clean.y4m" -frames:v 4 clean.y4m
  ffmpeg -v error -y -i "$samples/coffee-noisy.y4m" -frames:v 4 noisy.y4m
  ffmpeg -v error -y -i noisy.y4m -vf frei0r=zeverive -pix_fmt yuv420p out.y4m
  gains "$(luma psnr noisy.y4m clean.y4m)" "$(luma psnr out.y4m clean.y4m)" 2
  ;;
ffmpeg_grey_matches_zeverive)
  grey "$samples/coffee-noisy.y4m" "" -frames:v 3 grey.y4m
  "$zeverive" "${fixed_options[@]}" grey.y4m unclipped.y4m
  # R'G'B' holds no code beyond the video range, zeverive's output may.
  grey unclipped.y4m "" zeverive.y4m
  ffmpeg -v error -y -i grey.y4m "${exact[@]}" -vf "frei0r=zeverive:$fixed" -pix_fmt yuv420p filter.y4m
  difference=$(luma max-difference zeverive.y4m filter.y4m)
  echo "largest luma difference: $difference"
  [ "$(luma max-difference grey.y4m filter.y4m)" -gt 1 ]  # the filter did denoise
  [ "$difference" -le 1 ]
  ;;
ffmpeg_alpha)
  ffmpeg -v error -y -i "$samples/coffee-noisy.y4m" -frames:v 2 -vf format=rgba -f rawvideo opaque.rgba
  python3 - <<'PY'
picture = bytearray(open("opaque.rgba", "rb").read())
picture[3::4] = bytes((3 * (i % 480) + i // 480) % 256 for i in range(len(picture) // 4))
open("in.rgba", "wb").write(picture)
PY
  ffmpeg -v error -y -f rawvideo -pix_fmt rgba -s 480x320 -i in.rgba -vf frei0r=zeverive -f rawvideo out.rgba
  python3 - <<'PY'
a = open("in.rgba", "rb").read()
b = open("out.rgba", "rb").read()
assert len(a) == len(b) and len(a) > 0, "sizes differ"
assert a[3::4] == b[3::4], "alpha changed"
assert a != b, "the picture did not change"
print("alpha untouched over", len(a) // 4, "pixels; colour changed")
PY
  ;;
ffmpeg_1080)
  grey "$samples/coffee-clean.y4m" "scale=1920:1080" -frames:v 2 clean.y4m
  grey clean.y4m "noise=c0s=12:c0f=u" noisy.y4m
  "$zeverive" "${fixed_options[@]}" --tile noisy.y4m unclipped.y4m
  grey unclipped.y4m "" zeverive.y4m
  ffmpeg -v error -y -i noisy.y4m "${exact[@]}" -vf "frei0r=zeverive:$fixed" -pix_fmt yuv420p filter.y4m
  difference=$(luma max-difference zeverive.y4m filter.y4m)
  echo "largest luma difference from zeverive --tile: $difference"
  [ "$difference" -le 1 ]
  gains "$(luma psnr noisy.y4m clean.y4m)" "$(luma psnr filter.y4m clean.y4m)" 2
  ;;
melt_parameter)
  ffmpeg -v error -y -i "$samples/coffee-clean.y4m" -frames:v 4 clean.y4m
  run_melt() {
    local out=$1
    shift
    # melt takes keys from a terminal on standard input, and waits for them.
    # Now and then (once in a loaded test run here, never in 20 runs alone)
    # melt itself does not exit after its last frame, with or without the
    # filter: such a run is cut off and tried again.
    local attempt status
    for attempt in 1 2 3; do
      rm -f "$out"
      status=0
      timeout 60 melt -silent -quiet "$samples/coffee-noisy.y4m" in=0 out=3 "$@" \
        -consumer "avformat:$out" f=yuv4mpegpipe vcodec=wrapped_avframe pix_fmt=yuv420p terminate_on_pause=1 \
        </dev/null >melt.log 2>&1 || status=$?
      grep -v LADSPA melt.log || true
      [ "$status" -ne 124 ] && break
      echo "melt did not exit within 60 s (attempt $attempt)"
    done
    [ -s "$out" ]
  }
  run_melt none.y4m
  run_melt automatic.y4m -filter frei0r.zeverive
  # Parameter 0 is "auto", 10 the strength: both off leaves the picture.
  run_melt off.y4m -filter frei0r.zeverive 0=0 10=0
  none=$(luma psnr none.y4m clean.y4m)
  off=$(luma psnr off.y4m clean.y4m)
  echo "without the filter $none dB, with auto and strength 0 $off dB"
  awk -v a="$none" -v b="$off" 'BEGIN { exit !(b - a < 0.5 && a - b < 0.5) }'
  gains "$off" "$(luma psnr automatic.y4m clean.y4m)" 2
  ;;
*)
  echo "hosts.sh: unknown check $check" >&2
  exit 2
  ;;
esac
