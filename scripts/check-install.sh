#!/usr/bin/env bash
# Installs a build tree into a prefix, moves the prefix elsewhere, and builds
# and runs hosts against it knowing nothing but that folder: the README's
# module host from its own CMake lines, a library host through CMake's
# find_package and again through pkg-config, and the installed tool.
# Usage: scripts/check-install.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/first" > /dev/null
mv "$work/first" "$work/moved"
prefix=$work/moved

# What a host must not see: headers of hidden functions and test helpers.
[[ ! -e $prefix/include/ffmpeg_utils/ffmpeg_utils.hpp ]] || fail "ffmpeg_utils.hpp is installed"
[[ -e $prefix/include/ffmpeg_utils/exports.hpp ]] || fail "exports.hpp is not installed"
! find "$prefix/include" -path '*support*' -o -name '*memory_sample_source*' | grep -q . \
  || fail "test helpers are installed"
for library in "$prefix"/lib/*.so*; do
  runpath=$(readelf -d "$library" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [[ $runpath == '$ORIGIN' || $runpath == '$ORIGIN/../lib' ]] || fail "$library: RUNPATH '$runpath'"
done

# The README's host project, its CMake lines and its program exactly as the
# README shows them: a reader copies both and builds nothing else.
readme_block() {
  awk -v lang="$1" '/^## Using the library/ { section = 1 } section && $0 == "```" lang { code = 1; next }
       code && /^```$/ { exit } code { print }' README.md
}
mkdir -p "$work/readme-host"
readme_block cmake > "$work/readme-host/CMakeLists.txt"
# The program goes where the README's add_executable looks for it.
read -r readme_target readme_program < <(sed -n 's/^add_executable(\([^ ]*\) \([^ )]*\))$/\1 \2/p' \
  "$work/readme-host/CMakeLists.txt") || fail "the README's CMake lines make no executable"
readme_block cpp > "$work/readme-host/$readme_program"
[[ -s $work/readme-host/$readme_program ]] || fail "no host example in the README"
cmake -S "$work/readme-host" -B "$work/readme-host/build" -DCMAKE_PREFIX_PATH="$prefix" \
  > "$work/configure.log" 2>&1 \
  || { cat "$work/configure.log" >&2; fail "the README's CMake lines do not configure"; }
cmake --build "$work/readme-host/build" -j 2 > "$work/build.log" 2>&1 \
  || { cat "$work/build.log" >&2; fail "the README's host does not build"; }

mkdir -p "$work/host"
cmake -S tests/install -B "$work/host" -DCMAKE_PREFIX_PATH="$prefix" > "$work/configure.log" \
  || { cat "$work/configure.log" >&2; fail "the host project does not configure"; }
cmake --build "$work/host" -j 2 > "$work/build.log" || { cat "$work/build.log" >&2; fail "the hosts do not build"; }

clip=tests/data/h264_high_bframes.mp4
# The reference: the frame count and duration Debian's ffprobe measured.
read -r frames ticks < <(awk -F'\t' '$1 == "h264_high_bframes.mp4" { print $7, $10 }' tests/data/clips.tsv)
"$work/readme-host/build/$readme_target" "$clip" "$work/picture-" || fail "the README's host fails"
count=$(find "$work" -maxdepth 1 -name 'picture-*.jpg' | wc -l)
[[ $count == "$frames" ]] || fail "the README's host wrote $count JPEGs, expected $frames"
[[ $(head -c 2 "$work/picture-1.jpg" | od -An -tx1 | tr -d ' ') == ffd8 ]] || fail "picture-1.jpg is no JPEG"
[[ $("$work/host/library_host" "$clip") == "$frames $ticks" ]] || fail "the library host disagrees"

pc_flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs vantor-ffmpeg)
# shellcheck disable=SC2086
g++ -std=c++17 tests/install/library_host.cpp $pc_flags -o "$work/pc_host"
[[ $("$work/pc_host" "$clip") == "$frames $ticks" ]] || fail "the pkg-config host disagrees"

(cd "$work" && "$prefix/bin/vantor-transcode" -o tool-out > /dev/null)
count=$(find "$work/tool-out" -name '*.jpg' | wc -l)
[[ $count == "$frames" ]] || fail "the installed tool wrote $count JPEGs, expected $frames"
echo "check-install: a moved prefix builds and runs both hosts, the pkg-config host and the tool"
