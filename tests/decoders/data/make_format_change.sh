#!/bin/sh
# Makes h264_format_change.mp4: five 8-bit pictures, then five 10-bit ones,
# as one H.264 track (two raw encodes concatenated, parameter sets in band).
# Needs Debian's ffmpeg with libx264.
set -eu
out=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for depth in yuv420p yuv420p10le; do
  ffmpeg -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=64x48:rate=10:duration=0.5 \
    -c:v libx264 -bf 0 -pix_fmt "$depth" -f h264 "$work/$depth.h264"
done
cat "$work/yuv420p.h264" "$work/yuv420p10le.h264" >"$work/both.h264"
ffmpeg -hide_banner -loglevel error -y -r 10 -i "$work/both.h264" -c copy \
  -fflags +bitexact -map_metadata -1 "$out/h264_format_change.mp4"
