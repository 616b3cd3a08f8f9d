#!/usr/bin/env bash
# zeverive.auf run by the i386 zeverive under qemu, as the README shows:
#   - on pentium3 (SSE), the sample clip gives the bytes and the PSNR line
#     of the native program;
#   - on pentium2 (x87), raw host frames with slider options and the check
#     box give the bytes of the i386 program's built-in plug-in.
# usage: zeverive_with_dll.sh NATIVE_ZEVERIVE I386_ZEVERIVE ZEVERIVE_AUF WORK_DIR
set -euo pipefail
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
native=$(absolute "$1") i386=$(absolute "$2") dll=$(absolute "$3") work=$4
samples=$(cd "$(dirname "$0")/../../samples" && pwd)
mkdir -p "$work"
cd "$work"

"$native" --quiet --reference "$samples/coffee-clean.y4m" "$samples/coffee-noisy.y4m" native.y4m 2>native.psnr
qemu-i386-static -cpu pentium3 "$i386" --quiet --plugin "$dll" --reference "$samples/coffee-clean.y4m" \
  "$samples/coffee-noisy.y4m" dll.y4m 2>dll.psnr
cmp native.y4m dll.y4m
diff native.psnr dll.psnr
echo "sample clip: same bytes and PSNR as the native program: $(cat dll.psnr)"

# Two 48x40 frames of a textured ramp, on the host's 0..4096 scale.
for frame in 0 1; do
  for ((y = 0; y < 40; y++)); do
    for ((x = 0; x < 48; x++)); do
      v=$(((x * 71 + y * 53 + (x * y * 29 + frame * 17) % 97 * 11) % 4096))
      printf "\\x$(printf %02x $((v & 255)))\\x$(printf %02x $((v >> 8)))\\x00\\x00\\x00\\x00"
    done
  done
done >frames.yc
options=(--quiet --size 48x40 --mode 2 --nr5h 90 --strength 180 --nr5-rows-x10 -j 1)
qemu-i386-static -cpu pentium2 "$i386" "${options[@]}" frames.yc built-in.yc
qemu-i386-static -cpu pentium2 "$i386" "${options[@]}" --plugin "$dll" frames.yc dll.yc
cmp built-in.yc dll.yc
! cmp -s frames.yc dll.yc
echo "raw frames: the DLL's bytes equal the built-in plug-in's"
