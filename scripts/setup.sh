#!/usr/bin/env bash
# Everything a fresh Debian 12 machine needs before CMake: the packages,
# then FFmpeg 7.1 (found or built). Prints the FFmpeg prefix for CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

# Build tools, header-only libraries of the tool (nlohmann/json for the batch
# JSON lines), test-only dependencies (libturbojpeg is the independent JPEG
# decoder of the tests; sshd and rsync carry GNU parallel's jobs to another
# login), nasm for FFmpeg's assembly and pugixml for the DASH manifests
# (linked statically).
packages=(build-essential cmake pkg-config nasm xz-utils dpkg-dev nlohmann-json3-dev
          libgtest-dev libgmock-dev libbenchmark-dev libturbojpeg0-dev parallel patchelf
          openssh-server openssh-client rsync libpugixml-dev)
ensure_packages setup "${packages[@]}"
# The players of tests/players; on standard error, as standard output is
# the FFmpeg prefix.
scripts/setup-players.sh >&2

scripts/bootstrap-ffmpeg.sh
