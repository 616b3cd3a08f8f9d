#!/usr/bin/env bash
# Installs from Debian what is missing for the native build (zeverive, the
# plug-in, the frei0r filter, the tests and the manual pages): what
# scripts/demo.sh needs. Safe to run again: it only calls apt-get when a
# package is missing.
#
#   install-deps.sh           the native build
#   install-deps.sh --all     and everything the whole test command uses: the
#                             i386 and Windows builds, qemu, the sanitizers'
#                             and fuzzer's runtime, ffmpeg, melt, the package
#                             checks and zeverive-batch's tools
#   install-deps.sh --bench   and what the comparison benchmarks use
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libgtest-dev libcli11-dev libpng-dev frei0r-plugins-dev help2man
)
case "${1:-}" in
--all | --bench)
  packages+=(
    git googletest libbenchmark-dev
    g++-multilib qemu-user-static
    g++-mingw-w64-i686 binutils-mingw-w64-i686
    clang libclang-rt-14-dev
    dpkg-dev ffmpeg melt python3 python3-numpy
    # GStreamer's frei0r bridge, and what its tests decode and write with.
    gstreamer1.0-tools gstreamer1.0-plugins-bad gstreamer1.0-plugins-good gstreamer1.0-libav
    lintian man-db parallel rsync bash-completion
    # The i386 zeverive (the test host of zeverive.auf) links these statically.
    libpng-dev:i386 zlib1g-dev:i386
  )
  ;;&
--bench)
  packages+=(python3-skimage python3-scipy python3-matplotlib python3-pil time linux-perf)
  ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
