# Sourced by tests that render with melt.
#
#   melt_render OUT FRAMES INPUT [MELT_ARGUMENT...]
#
# Renders the first FRAMES frames of INPUT (8-bit 4:2:0 YUV4MPEG2) with the
# melt arguments given, to OUT as 4:2:0 YUV4MPEG2. melt waits for keys on a
# terminal, and on a busy machine it often never starts writing, with or
# without a filter (two of four melts run at once at a load of 20; the others
# done in 5 s): a run that wrote every frame counts, one that did not is cut
# off and tried again. real_time=0 drops no frame.
melt_render() {
  local out=$1 frames=$2 input=$3
  shift 3
  local size frame_bytes attempt
  size=$(head -n 1 "$input" | sed -n 's/.* W\([0-9]*\) H\([0-9]*\).*/\1 \2/p')
  frame_bytes=$((6 + ${size% *} * ${size#* } * 3 / 2))
  for attempt in $(seq 10); do
    rm -f "$out"
    timeout 15 melt -silent -quiet "$input" in=0 out=$((frames - 1)) "$@" \
      -consumer "avformat:$out" f=yuv4mpegpipe vcodec=wrapped_avframe pix_fmt=yuv420p terminate_on_pause=1 \
      real_time=0 </dev/null >/dev/null 2>&1 || true
    [ -s "$out" ] || continue
    [ "$(stat -c %s "$out")" -eq $(($(head -n 1 "$out" | wc -c) + frames * frame_bytes)) ] && return 0
  done
  echo "melt wrote no complete $out in $attempt tries"
  return 1
}
