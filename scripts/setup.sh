#!/usr/bin/env bash
# Everything a fresh Debian 12 machine needs before CMake: the packages,
# then FFmpeg 7.1 (found or built). Prints the FFmpeg prefix for CMake.
set -euo pipefail
cd "$(dirname "$0")/.."

# Build tools, test-only dependencies (libturbojpeg is the independent JPEG
# decoder of the tests) and nasm for FFmpeg's assembly.
packages=(build-essential cmake pkg-config nasm xz-utils dpkg-dev
          libgtest-dev libgmock-dev libbenchmark-dev libturbojpeg0-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}" >&2
  apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

scripts/bootstrap-ffmpeg.sh
