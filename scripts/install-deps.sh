#!/usr/bin/env bash
# Installs everything the builds and tests need on a fresh Debian machine.
# Safe to run again: it only calls apt-get when a package is missing.
# With --bench it also installs what the comparison benchmarks use.
set -euo pipefail

packages=(
  g++ cmake make git pkg-config
  googletest libgtest-dev libbenchmark-dev
  g++-multilib qemu-user-static
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  clang libclang-rt-14-dev
  libcli11-dev libpng-dev
  frei0r-plugins-dev help2man dpkg-dev ffmpeg melt python3
  # The i386 zeverive (the test host of zeverive.auf) links these statically.
  libpng-dev:i386 zlib1g-dev:i386
)
if [ "${1:-}" = "--bench" ]; then
  packages+=(python3-skimage python3-scipy python3-matplotlib python3-pil time linux-perf)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
