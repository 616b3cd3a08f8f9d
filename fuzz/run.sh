#!/usr/bin/env bash
# Runs the fuzz targets for a bounded time, half each: the YUV4MPEG2
# reader, and raw host frames through the plug-in's callbacks with records
# of any shape. Fails if a fuzzer finds a crash, a leak or an abort.
#
#   cmake --preset fuzz && cmake --build --preset fuzz    # clang, libFuzzer
#   fuzz/run.sh [SECONDS]        default 60, for both together
#
# ZEVERIVE_FUZZ_BUILD names the fuzz build tree (default build/fuzz). The
# growing corpora and any crashing input (crash-*) stay there, the input
# kept for reproduction: build/fuzz/fuzz/y4m_reader_fuzz build/fuzz/crash-...
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
work=${ZEVERIVE_FUZZ_BUILD:-$repo/build/fuzz}
for target in y4m_reader_fuzz host_frames_fuzz; do
  if [ ! -x "$work/fuzz/$target" ]; then
    echo "fuzz/run.sh: $work/fuzz/$target is missing: cmake --preset fuzz && cmake --build --preset fuzz" >&2
    exit 2
  fi
done
mkdir -p "$work/corpus" "$work/host-corpus"

# Seeds: one small stream of each kind the reader knows.
seed() { printf "$2" > "$work/corpus/seed-$1"; }
seed 420 'YUV4MPEG2 W4 H2 F25:1 Ip A1:1 C420jpeg\nFRAME\n\x10\x20\x30\x40\x50\x60\x70\x80\x80\x80\x80\x80FRAME Ib\n\x10\x20\x30\x40\x50\x60\x70\x80\x80\x80\x80\x80'
seed 420p10 'YUV4MPEG2 W2 H2 C420p10 XYSCSS=420P10\nFRAME\n\x00\x01\x10\x02\xff\x03\x40\x00\x00\x02\x00\x02'
seed 422 'YUV4MPEG2 W3 H1 C422 XCOLORRANGE=FULL\nFRAME\n\x01\x02\x03\x04\x05\x06\x07'
seed 444p16 'YUV4MPEG2 W1 H1 C444p16\nFRAME\n\xff\xff\x00\x80\x00\x00'
seed mono 'YUV4MPEG2 W3 H2 Cmono\nFRAME\n\x10\x20\x30\x40\x50\x60'
seed mono12 'YUV4MPEG2 W1 H2 Cmono12 Xcomment\nFRAME\n\x00\x0f\x34\x02'
seed plain 'YUV4MPEG2 W2 H2\nFRAME\n\x10\x10\x10\x10\x80\x80'

cd "$work"
fuzz/y4m_reader_fuzz -max_total_time=$((seconds - seconds / 2)) -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -dict="$repo/fuzz/y4m.dict" -print_final_stats=1 corpus
# Inputs long enough for a few frames of the sizes the first bytes choose.
fuzz/host_frames_fuzz -max_total_time=$((seconds / 2)) -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 host-corpus
