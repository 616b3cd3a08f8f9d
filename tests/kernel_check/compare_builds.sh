#!/usr/bin/env bash
# Runs two builds of the kernel checker with the same seeds and compares
# what every variant produced, byte for byte. Each variant has one source,
# so the x86-64 and the i386 build must agree exactly; the 3DNow! form runs
# real 3DNow! instructions on one and the portable two-lane layer on the
# other.
#
# usage: compare_builds.sh NATIVE_CHECKER I386_CHECKER [SEED...]
# The i386 checker runs under qemu-i386-static -cpu phenom (SSE and 3DNow!).
set -euo pipefail

native=$1
i386=$2
shift 2
seeds=("$@")
[ "${#seeds[@]}" -gt 0 ] || seeds=(1 2 3)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
for seed in "${seeds[@]}"; do
  "$native" --seed "$seed" --require x87,3dnow,sse --dump "$work/native.bin" > "$work/native.log" \
    || { cat "$work/native.log"; status=1; continue; }
  qemu-i386-static -cpu phenom "$i386" --seed "$seed" --require x87,3dnow,sse --dump "$work/i386.bin" \
    > "$work/i386.log" 2> /dev/null || { cat "$work/i386.log"; status=1; continue; }
  if cmp -s "$work/native.bin" "$work/i386.bin"; then
    echo "seed $seed: native and i386 outputs identical ($(stat -c %s "$work/native.bin") bytes)"
  else
    echo "seed $seed: native and i386 outputs DIFFER; first case that differs:"
    offset=$(cmp "$work/native.bin" "$work/i386.bin" | sed -n 's/.*byte \([0-9]*\).*/\1/p')
    # The case header is the last text line before the differing byte.
    head -c "$offset" "$work/native.bin" | grep -a -o '[a-z_0-9]*_[0-9]*_[a-z0-9]*#[0-9]* [0-9]*' | tail -1
    status=1
  fi
done
exit "$status"
