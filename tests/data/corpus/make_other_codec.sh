#!/usr/bin/env bash
# A Matroska file whose one video stream is MJPEG: a container the tool
# reads, holding no H.264 or HEVC. Needs Debian's ffmpeg.
set -euo pipefail
cd "$(dirname "$0")"
ffmpeg -v error -f lavfi -i color=c=gray:s=16x16:r=25:d=0.08 -c:v mjpeg -y other_codec_mjpeg.mkv
