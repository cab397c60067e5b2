#!/usr/bin/env bash
# Makes the committed test clips and their reference results.
#
# The clips come from lavfi's synthetic sources, encoded with Debian 12's
# ffmpeg 5.1 (libx264 / libx265). The references (raw-frame MD5s, framemd5
# files, clips.tsv) come from the same ffmpeg CLI's own decoders, so they are
# independent of the code under test.
#
# Every encoder runs single-threaded with fixed parameters and the muxers in
# bitexact mode, so a re-run with the same Debian packages reproduces the
# same bytes. A different ffmpeg/x264/x265 build may produce other (valid)
# bytes; the references are then regenerated to match.
#
# Usage: tests/data/make_clips.sh   (writes into the directory of this script)
set -euo pipefail

FFMPEG=/usr/bin/ffmpeg
FFPROBE=/usr/bin/ffprobe
MAX_CLIP_BYTES=$((150 * 1024))
MAX_TOTAL_BYTES=$((1024 * 1024))

DATA_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WORK_DIR=$(mktemp -d)
trap 'rm -rf "$WORK_DIR"' EXIT

die() {
  echo "make_clips.sh: $*" >&2
  exit 1
}

for tool in "$FFMPEG" "$FFPROBE"; do
  [[ -x $tool ]] || die "$tool not found (apt-get install ffmpeg)"
done
ffmpeg_version=$("$FFMPEG" -hide_banner -version)
ffmpeg_version=${ffmpeg_version%%$'\n'*}
[[ $ffmpeg_version == "ffmpeg version 5.1"* ]] ||
  die "references must come from Debian 12's ffmpeg 5.1; found: $ffmpeg_version"

# Quiet, non-interactive, overwrite.
ff() { "$FFMPEG" -hide_banner -nostdin -loglevel error -y "$@"; }
probe() { "$FFPROBE" -v error "$@"; }

# Output options shared by every encode: one thread (x264/x265 results then do
# not depend on scheduling), no version strings or dates in the container.
DETERMINISTIC=(-threads 1 -fflags +bitexact -flags +bitexact -map_metadata -1)

testsrc() { # size seconds
  echo "testsrc2=size=$1:rate=25:duration=$2"
}

# ---------------------------------------------------------------- encoding ----

X264_COMMON=(-c:v libx264 -preset medium -profile:v high -crf 26)
X265_COMMON=(-c:v libx265 -preset medium -crf 30)
X265_PARAMS="pools=none:frame-threads=1:log-level=error:keyint=25:min-keyint=25:scenecut=0"

encode_clips() {
  local out=$WORK_DIR

  # The bundled sample: 3 s of H.264 High, 3 B-frames with a B-pyramid, GOP 1 s.
  ff -f lavfi -i "$(testsrc 320x240 3)" "${DETERMINISTIC[@]}" "${X264_COMMON[@]}" -pix_fmt yuv420p \
    -x264-params bframes=3:b-pyramid=normal:keyint=25:min-keyint=25:scenecut=0 \
    -movflags +faststart "$out/h264_high_bframes.mp4"

  # Matroska stores only presentation times; x264's default B-frames stay on,
  # so the demuxer has to reconstruct decode times.
  ff -f lavfi -i "$(testsrc 320x180 2)" "${DETERMINISTIC[@]}" "${X264_COMMON[@]}" -pix_fmt yuv420p \
    -x264-params bframes=3:b-pyramid=normal:keyint=25:min-keyint=25:scenecut=0 \
    "$out/h264_mkv.mkv"

  # HEVC Main with B-frames; 180 rows are not a multiple of the 8-pixel
  # minimum coding block, so the stream carries a conformance window.
  ff -f lavfi -i "$(testsrc 320x180 2)" "${DETERMINISTIC[@]}" "${X265_COMMON[@]}" -pix_fmt yuv420p \
    -profile:v main -x265-params "$X265_PARAMS:bframes=4:b-pyramid=1" \
    -tag:v hvc1 -movflags +faststart "$out/hevc_main_bframes.mp4"

  ff -f lavfi -i "$(testsrc 320x240 1)" "${DETERMINISTIC[@]}" "${X265_COMMON[@]}" -pix_fmt yuv420p10le \
    -profile:v main10 -x265-params "$X265_PARAMS:bframes=3" \
    -tag:v hvc1 -movflags +faststart "$out/hevc_main10.mp4"

  # 4:2:2 chroma: a format the decoders must refuse.
  ff -f lavfi -i "$(testsrc 320x240 0.4)" "${DETERMINISTIC[@]}" "${X265_COMMON[@]}" -pix_fmt yuv422p \
    -x265-params "$X265_PARAMS:bframes=3" \
    -tag:v hvc1 -movflags +faststart "$out/hevc_422.mp4"

  # Full range: x264 signals it in the VUI and decoders report yuvj420p.
  ff -f lavfi -i "$(testsrc 320x240 1)" "${DETERMINISTIC[@]}" "${X264_COMMON[@]}" -pix_fmt yuvj420p \
    -x264-params bframes=3:keyint=25:min-keyint=25:scenecut=0 \
    -movflags +faststart "$out/h264_fullrange.mp4"

  # Size change: two Annex B encodes (no B-frames, SPS/PPS before every IDR)
  # joined and put into MP4. The avcC record holds the first part's parameter
  # sets; the second part's arrive in band with its first key frame.
  local part_params=bframes=0:keyint=10:min-keyint=10:scenecut=0:repeat-headers=1
  ff -f lavfi -i "$(testsrc 320x240 1)" "${DETERMINISTIC[@]}" "${X264_COMMON[@]}" -pix_fmt yuv420p \
    -x264-params "$part_params" -f h264 "$out/part1.h264"
  ff -f lavfi -i "$(testsrc 176x144 1)" "${DETERMINISTIC[@]}" "${X264_COMMON[@]}" -pix_fmt yuv420p \
    -x264-params "$part_params" -f h264 "$out/part2.h264"
  cat "$out/part1.h264" "$out/part2.h264" >"$out/size_change.h264"
  ff -f h264 -framerate 25 -i "$out/size_change.h264" -map 0:v -c copy "${DETERMINISTIC[@]}" \
    -video_track_timescale 12800 -movflags +faststart "$out/h264_size_change.mp4"

  # A raw elementary stream: 10 frames, no B-frames, two IDRs.
  ff -f lavfi -i "$(testsrc 176x144 0.4)" "${DETERMINISTIC[@]}" "${X264_COMMON[@]}" -pix_fmt yuv420p \
    -x264-params bframes=0:keyint=5:min-keyint=5:scenecut=0:repeat-headers=1 \
    -f h264 "$out/h264_annexb.h264"
}

# ---------------------------------------------------------------- checking ----

# Value of one stream field of the first video stream.
stream_field() { # file field
  probe -select_streams v:0 -show_entries "stream=$2" -of default=nw=1:nk=1 "$1"
}

expect_eq() { # what actual expected
  [[ $2 == "$3" ]] || die "$1: got '$2', expected '$3'"
}

# Packets of the first video stream as "pts,dts,duration,flags", decode order.
packets() { probe -select_streams v:0 -show_entries packet=pts,dts,duration,flags -of csv=p=0 "$1"; }

has_reordering() { # file: true if any packet's pts differs from its dts
  packets "$1" | awk -F, '$1 != $2 { found = 1 } END { exit !found }'
}

# Decoded frames as "WxH" lines, presentation order.
# (Default writer: the csv one mixes in the frames' side data.)
frame_sizes() {
  probe -select_streams v:0 -show_entries frame=width,height -of default=nw=1 "$1" |
    awk -F= '$1 == "width" { w = $2 } $1 == "height" { print w "x" $2 }'
}

check_clips() {
  local f
  f=$WORK_DIR/h264_high_bframes.mp4
  expect_eq "$f codec" "$(stream_field "$f" codec_name)" h264
  expect_eq "$f profile" "$(stream_field "$f" profile)" High
  expect_eq "$f pix_fmt" "$(stream_field "$f" pix_fmt)" yuv420p
  has_reordering "$f" || die "$f: no B-frames"

  f=$WORK_DIR/h264_mkv.mkv
  expect_eq "$f codec" "$(stream_field "$f" codec_name)" h264
  expect_eq "$f pix_fmt" "$(stream_field "$f" pix_fmt)" yuv420p

  f=$WORK_DIR/hevc_main_bframes.mp4
  expect_eq "$f codec" "$(stream_field "$f" codec_name)" hevc
  expect_eq "$f profile" "$(stream_field "$f" profile)" Main
  expect_eq "$f pix_fmt" "$(stream_field "$f" pix_fmt)" yuv420p
  has_reordering "$f" || die "$f: no B-frames"

  f=$WORK_DIR/hevc_main10.mp4
  expect_eq "$f codec" "$(stream_field "$f" codec_name)" hevc
  expect_eq "$f profile" "$(stream_field "$f" profile)" "Main 10"
  expect_eq "$f pix_fmt" "$(stream_field "$f" pix_fmt)" yuv420p10le

  f=$WORK_DIR/hevc_422.mp4
  expect_eq "$f codec" "$(stream_field "$f" codec_name)" hevc
  expect_eq "$f profile" "$(stream_field "$f" profile)" Rext
  expect_eq "$f pix_fmt" "$(stream_field "$f" pix_fmt)" yuv422p

  f=$WORK_DIR/h264_fullrange.mp4
  expect_eq "$f codec" "$(stream_field "$f" codec_name)" h264
  expect_eq "$f pix_fmt" "$(stream_field "$f" pix_fmt)" yuvj420p
  expect_eq "$f color_range" "$(stream_field "$f" color_range)" pc

  f=$WORK_DIR/h264_size_change.mp4
  expect_eq "$f codec" "$(stream_field "$f" codec_name)" h264
  has_reordering "$f" && die "$f: must not reorder"
  expect_eq "$f frame sizes" "$(frame_sizes "$f" | uniq -c | awk '{ printf "%s*%s ", $2, $1 }')" \
    "320x240*25 176x144*25 "
  # One SPS from the avcC record plus one in band before each of the 6 IDRs.
  local sps
  sps=$(ff -loglevel info -i "$f" -map 0:v -c copy -bsf:v trace_headers -f null - 2>&1 |
    grep -c 'Sequence Parameter Set$' || true)
  expect_eq "$f SPS count" "$sps" 7

  f=$WORK_DIR/h264_annexb.h264
  expect_eq "$f codec" "$(stream_field "$f" codec_name)" h264
  has_reordering "$f" && die "$f: must not reorder"

  local total=0 size
  for f in "$WORK_DIR"/*.mp4 "$WORK_DIR"/*.mkv "$WORK_DIR"/h264_annexb.h264; do
    size=$(stat -c %s "$f")
    ((size < MAX_CLIP_BYTES)) || die "$f: $size bytes, limit $MAX_CLIP_BYTES"
    total=$((total + size))
  done
  ((total < MAX_TOTAL_BYTES)) || die "clips total $total bytes, limit $MAX_TOTAL_BYTES"
}

# -------------------------------------------------------------- references ----

# Decoder options for the references: every decoded frame once, in
# presentation order, in the decoder's own pixel format and size.
DECODE_OPTS=(-map 0:v:0 -fps_mode passthrough -autoscale 0 -fflags +bitexact)

# Bytes of one W x H frame in ffmpeg's rawvideo layout (planes back to back).
frame_bytes() { # width height pix_fmt
  case $3 in
    yuv420p | yuvj420p) echo $(($1 * $2 + 2 * ($1 / 2) * ($2 / 2))) ;;
    yuv420p10le) echo $((2 * ($1 * $2 + 2 * ($1 / 2) * ($2 / 2)))) ;;
    *) die "no layout for $3" ;;
  esac
}

# Writes <clip>.framemd5 and prints the clips.tsv line of one clip.
reference() { # file codec container notes [no-md5]
  local f=$1 codec=$2 container=$3 extra_notes=$4 with_md5=${5:-md5}
  local name tb timescale width height pix_fmt frames raw_md5 duration profile has_b
  name=$(basename "$f")
  tb=$(stream_field "$f" time_base)
  [[ $tb == 1/* ]] || die "$f: time base $tb is not 1/N"
  timescale=${tb#1/}
  profile=$(stream_field "$f" profile)
  has_b=$(stream_field "$f" has_b_frames)

  # Timing from the packets (decode order).
  local pk
  pk=$(packets "$f")
  local npackets nsync first_dts first_pts last_pts
  npackets=$(wc -l <<<"$pk")
  nsync=$(awk -F, '$4 ~ /^K/' <<<"$pk" | wc -l)
  duration=$(awk -F, '{ s += $3 } END { print s }' <<<"$pk")
  first_dts=${pk%%$'\n'*}
  first_dts=$(cut -d, -f2 <<<"$first_dts")
  first_pts=$(awk -F, '$1 != "N/A" && (n++ == 0 || $1 < m) { m = $1 } END { print (n ? m : "N/A") }' <<<"$pk")
  last_pts=$(awk -F, '$1 != "N/A" && (n++ == 0 || $1 > m) { m = $1 } END { print (n ? m : "N/A") }' <<<"$pk")

  local all_sizes first_size sizes
  all_sizes=$(frame_sizes "$f")
  sizes=$(uniq -c <<<"$all_sizes" | awk '{ printf "%s%s*%s", (NR > 1 ? "," : ""), $2, $1 }')
  frames=$(wc -l <<<"$all_sizes")
  first_size=${all_sizes%%$'\n'*}
  width=${first_size%x*}
  height=${first_size#*x}
  pix_fmt=$(probe -select_streams v:0 -show_entries frame=pix_fmt -of default=nw=1 "$f" |
    sed -n 's/^pix_fmt=//p' | sort -u)
  [[ $pix_fmt != *$'\n'* ]] || die "$f: several pixel formats: $pix_fmt"

  if [[ $with_md5 == md5 ]]; then
    local fmd5=$DATA_DIR/${name%.*}.framemd5
    # The encoder time base follows the stream, so pts in the file are in
    # the clip's own ticks.
    ff -threads 1 -i "$f" "${DECODE_OPTS[@]}" -enc_time_base -1 -f framemd5 "$fmd5"
    raw_md5=$(ff -threads 1 -i "$f" "${DECODE_OPTS[@]}" -f rawvideo - | md5sum | cut -d' ' -f1)

    # The raw output must be the plain concatenation of the planes.
    local raw_bytes expected_bytes=0 n wh
    raw_bytes=$(ff -threads 1 -i "$f" "${DECODE_OPTS[@]}" -f rawvideo - | wc -c)
    while read -r n wh; do
      expected_bytes=$((expected_bytes + n * $(frame_bytes "${wh%x*}" "${wh#*x}" "$pix_fmt")))
    done < <(uniq -c <<<"$all_sizes")
    expect_eq "$f raw bytes" "$raw_bytes" "$expected_bytes"
    expect_eq "$f framemd5 lines" "$(grep -vc '^#' "$fmd5")" "$frames"
  else
    raw_md5=-
  fi
  expect_eq "$f frames vs packets" "$frames" "$npackets"

  local notes="profile=$profile;has_b_frames=$has_b;sync_samples=$nsync;first_dts=$first_dts"
  notes+=";first_pts=$first_pts;last_pts=$last_pts;sizes=$sizes"
  [[ -n $extra_notes ]] && notes+=";$extra_notes"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$codec" "$container" \
    "$width" "$height" "$pix_fmt" "$frames" "$raw_md5" "$timescale" "$duration" "$notes"
}

write_references() {
  local w=$DATA_DIR tsv=$WORK_DIR/clips.tsv
  rm -f "$DATA_DIR"/*.framemd5
  printf 'name\tcodec\tcontainer\twidth\theight\tpix_fmt\tframes\traw_md5\ttimescale\tduration_ticks\tnotes\n' >"$tsv"
  {
    reference "$w/h264_high_bframes.mp4" h264 mp4 "about=bundled sample clip, 3 B-frames, b-pyramid"
    reference "$w/h264_mkv.mkv" h264 mkv "about=Matroska keeps pts only, so the first packets have no dts"
    reference "$w/hevc_main_bframes.mp4" hevc mp4 "about=coded 320x184, conformance window crops to 320x180, open GOP (CRA with RASL at frame 25)"
    reference "$w/hevc_main10.mp4" hevc mp4 "about=10-bit, decodes to yuv420p10le"
    reference "$w/hevc_422.mp4" hevc mp4 "about=4:2:2, decoding must fail at the first picture with Unexpected AVPixelFormat 4" no-md5
    reference "$w/h264_fullrange.mp4" h264 mp4 "about=full range (color_range pc), decodes to yuvj420p"
    reference "$w/h264_size_change.mp4" h264 mp4 "about=two encodes joined, no B-frames, SPS and PPS in band at every IDR"
    reference "$w/h264_annexb.h264" h264 annexb "about=raw Annex B, no timestamps, timescale and durations are the raw demuxer's (25 fps)"
  } >>"$tsv"
}

encode_clips
check_clips
# Clips go in place first: the references describe the committed files.
for f in "$WORK_DIR"/h264_high_bframes.mp4 "$WORK_DIR"/h264_mkv.mkv "$WORK_DIR"/hevc_*.mp4 \
  "$WORK_DIR"/h264_fullrange.mp4 "$WORK_DIR"/h264_size_change.mp4 "$WORK_DIR"/h264_annexb.h264; do
  cp "$f" "$DATA_DIR/"
done
write_references
cp "$WORK_DIR/clips.tsv" "$DATA_DIR/clips.tsv"
echo "make_clips.sh: clips and references written to $DATA_DIR"
