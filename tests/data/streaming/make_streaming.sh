#!/usr/bin/env bash
# Makes the manifests that the tests add thumbnail tracks to: the DASH MPD
# and the HLS master playlist that Debian's ffmpeg writes for the corpus
# clip choice_h264_bframes.mp4 (12 s, 25 fps). Only the manifests are kept;
# the tests never read the segments.
# Usage: tests/data/streaming/make_streaming.sh
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$HERE/../../../scripts/lib.sh"
ensure_packages streaming ffmpeg
clip=$HERE/../corpus/choice_h264_bframes.mp4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/ffmpeg -nostdin -v error -i "$clip" -c copy -f dash -seg_duration 2 "$work/video.mpd"
/usr/bin/ffmpeg -nostdin -v error -i "$clip" -c copy -f hls -hls_time 2 -hls_playlist_type vod \
  -hls_segment_type fmp4 -master_pl_name master.m3u8 "$work/video.m3u8"
cp "$work/video.mpd" "$work/master.m3u8" "$HERE/"
