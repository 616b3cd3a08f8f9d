#!/usr/bin/env bash
# Runs frame_dump of two builds and compares the denoised frames byte for
# byte: every variant both builds have, in every mode.
# usage: compare_frames.sh NATIVE_FRAME_DUMP I386_FRAME_DUMP
# The i386 program runs under qemu-i386-static -cpu phenom (SSE and 3DNow!).
set -euo pipefail

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$1" "$work/native.bin"
qemu-i386-static -cpu phenom "$2" "$work/i386.bin"
cmp "$work/native.bin" "$work/i386.bin"
echo "native and i386 frames identical ($(stat -c %s "$work/native.bin") bytes)"
