#!/usr/bin/env bash
# Set-up for the aarch64 cross build: Debian's cross compiler, qemu-user,
# the arm64 test-only libraries and pugixml, GoogleTest built from Debian's
# sources, and FFmpeg 7.1 cross-built. Prints "<ffmpeg prefix>;<googletest prefix>".
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
readonly CACHE=${VANTOR_FFMPEG_CACHE:-$HOME/.cache/vantor-ffmpeg}

# The arm64 library needs the architecture known to dpkg before apt looks.
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  dpkg --add-architecture arm64
fi
# nlohmann-json3-dev is header-only ("all"): the build machine's copy serves the cross build.
ensure_packages setup-aarch64 g++-aarch64-linux-gnu qemu-user googletest cmake pkg-config nasm \
  xz-utils patchelf nlohmann-json3-dev libturbojpeg0-dev:arm64 libpugixml-dev:arm64

gtest_version=$(dpkg-query -W -f='${Version}' googletest)
gtest_prefix=$CACHE/googletest-$gtest_version-aarch64
if [[ ! -f $gtest_prefix/.complete ]]; then
  echo "setup-aarch64: building GoogleTest $gtest_version for aarch64" >&2
  work=$(mktemp -d)
  cmake -S /usr/src/googletest -B "$work" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/aarch64-linux-gnu.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest_prefix" >&2
  cmake --build "$work" -j "$(nproc)" >&2
  cmake --install "$work" >&2
  rm -rf "$work"
  touch "$gtest_prefix/.complete"
fi

ffmpeg_prefix=$(VANTOR_FFMPEG_ARCH=aarch64 scripts/bootstrap-ffmpeg.sh)
echo "$ffmpeg_prefix;$gtest_prefix"
