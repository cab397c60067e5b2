#!/usr/bin/env bash
# Checks a vantor-ffmpeg .deb: unpacked into a temporary folder its tool runs
# from there (every run path is relative), and, for this machine's own
# architecture, `apt-get install ./….deb` installs it under /opt and its tool
# runs. An arm64 package on another machine runs under qemu-aarch64.
# Usage: scripts/check-deb.sh PACKAGE.deb
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-deb: $*" >&2; exit 1; }
[[ -f $deb ]] || fail "no package $1"

arch=$(dpkg-deb -f "$deb" Architecture)
run=()
if [[ $arch != "$(dpkg --print-architecture)" ]]; then
  [[ $arch == arm64 ]] || fail "cannot run a $arch package here"
  # As for the cross-built tests: the sysroot's loader with the sysroot's
  # own libc, or the tool's threads hang on another release's multiarch libc.
  run=(qemu-aarch64 -L /usr/aarch64-linux-gnu
       -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib:/usr/lib/aarch64-linux-gnu)
fi
frames=$(awk -F'\t' '$1 == "h264_high_bframes.mp4" { print $7 }' tests/data/clips.tsv)

check_tool() {
  local tool=$1 out=$2
  "${run[@]}" "$tool" -o "$out" > /dev/null || fail "$tool fails"
  local count
  count=$(find "$out" -name '*.jpg' | wc -l)
  [[ $count == "$frames" ]] || fail "$tool wrote $count JPEGs of the bundled clip, expected $frames"
}

dpkg -x "$deb" "$work/unpacked"
check_tool "$work/unpacked/opt/vantor-ffmpeg/bin/vantor-transcode" "$work/out-unpacked"
for doc in LICENSE FFMPEG-LICENSE FFMPEG-SOURCE CHANGELOG.md; do
  [[ -s $work/unpacked/opt/vantor-ffmpeg/share/doc/vantor-ffmpeg/$doc ]] || fail "no $doc in the package"
done

if ((${#run[@]} == 0)); then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" > /dev/null || fail "apt-get cannot install it"
  check_tool /opt/vantor-ffmpeg/bin/vantor-transcode "$work/out-installed"
  DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq vantor-ffmpeg > /dev/null
fi
echo "check-deb: $(basename "$deb") unpacks and runs${run:+ under qemu}$( ((${#run[@]})) || echo ', installs and runs')"
