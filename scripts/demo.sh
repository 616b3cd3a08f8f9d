#!/usr/bin/env bash
# The first thing to run: builds zeverive if needed, denoises the sample
# clip in samples/ with no options, writes the denoised video and a
# before/after preview, and prints the luma PSNR against the clean clip,
# the speed, the noise estimate and the settings chosen for it.
#
#   scripts/demo.sh [BUILD_DIR]
#
# BUILD_DIR           the CMake build directory (default: build/native, the
#                     README's native build, or $ZEVERIVE_BUILD_DIR/native)
# ZEVERIVE_DEMO_OUT   where the results go (default: BUILD_DIR/demo)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-${ZEVERIVE_BUILD_DIR:-$repo/build}/native}
out=${ZEVERIVE_DEMO_OUT:-$build/demo}

# What the native build needs, from Debian, on a fresh machine (quick when
# present); the cross builds and the test tools are the test command's.
bash "$repo/scripts/install-deps.sh"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "demo: configuring $build"
  cmake --preset native -S "$repo" -B "$build" >"$log" 2>&1 || {
    cat "$log" >&2
    echo "demo: configuring failed; scripts/install-deps.sh installs what the build needs" >&2
    exit 1
  }
fi
echo "demo: building zeverive and the frei0r filter"
cmake --build "$build" --target zeverive_cli zeverive_frei0r -j "$(nproc)" >"$log" 2>&1 || {
  cat "$log" >&2
  exit 1
}
zeverive=$build/cli/zeverive
mkdir -p "$out"

clean=$repo/samples/coffee-clean.y4m
noisy=$repo/samples/coffee-noisy.y4m
# Bare FRAME lines and 8-bit 4:2:0 samples: the length gives the count.
header=$(head -n 1 "$noisy" | wc -c)
frames=$(( ($(stat -c %s "$noisy") - header) / (6 + 480 * 320 * 3 / 2) ))
echo "demo: $noisy: $frames frames of 480x320, Gaussian noise of 4 codes on the luma"
echo

echo "No options: zeverive estimates the noise and chooses every setting itself"
start=$(date +%s.%N)
"$zeverive" --reference "$clean" --preview "$out/coffee-preview.png" --preview-frame 5 \
  "$noisy" "$out/coffee-denoised.y4m" 2>&1 | sed 's/^zeverive: //; s/^/  /'
end=$(date +%s.%N)
awk -v n="$frames" -v s="$start" -v e="$end" \
  'BEGIN { t = e - s; printf "  %d frames in %.2f s: %.1f frames per second (whole run, on %d threads)\n", n, t, n / t, '"$(nproc)"' }'
echo

echo "The estimate it started from (zeverive --estimate), in 8-bit codes:"
"$zeverive" --estimate "$noisy" 2>/dev/null | sed 's/^/  /'
echo

echo "For comparison, the plug-in's own default settings (made for very light noise):"
"$zeverive" --quiet --no-auto --reference "$clean" "$noisy" "$out/coffee-default.y4m" 2>&1 | sed 's/^/  /'
echo
echo "denoised video: $out/coffee-denoised.y4m"
echo "preview of frame 5, noisy left, denoised right: $out/coffee-preview.png"
