# Section "choice": thumbnail jobs (--every, --count, --keyframes, a range)
# on clips of several GOPs, where the tool seeks, decodes with fresh decoders
# and leaves out unreferenced pictures. The reference is Debian's ffmpeg with
# a select filter that takes the first picture (with -skip_frame nokey: the
# first keyframe) at or after each mark, each picture once: a picture is
# taken when a mark lies after the picture before it and at or before it.
# Marks count from the stream's first picture, as in ffmpeg.

# The stream's time base denominator and duration in its ticks.
choice_time_base() {
  "$FFPROBE" -v error -select_streams v:0 -show_entries stream=time_base -of csv=p=0 "$CORPUS_DIR/$1" |
    grep -v '^$' | head -1 | cut -d/ -f2
}
choice_duration_ticks() {
  "$FFPROBE" -v error -select_streams v:0 -show_entries stream=duration_ts -of csv=p=0 "$CORPUS_DIR/$1" |
    grep -v '^$' | head -1
}

# select= for marks at OFFSET + k * PERIOD before END (all in ticks after the
# first picture).
choice_select() {
  local period=$1 offset=$2 end=$3
  local at="(pts-start_pts-$offset)" before="(prev_pts-start_pts-$offset)"
  echo "select=if(isnan(prev_pts)\,1\,gt(floor($at/$period)\,floor($before/$period)))*gte($at\,0)*lt(pts-start_pts\,$end)"
}

# Usage: choice_row FILE KEYFRAMES(0/1) TOOL_ARGS PERIOD_S OFFSET_S END_S NOTES
# (times in seconds, turned into the file's ticks; END_S "-" is the end;
# a PERIOD_S shorter than a picture takes every candidate).
choice_row() {
  local file=$1 keyframes=$2 tool_args=$3 period=$4 offset=$5 end=$6 notes=$7
  local tb
  tb=$(choice_time_base "$file")
  local end_ticks
  if [[ $end == - ]]; then end_ticks=1000000000000; else end_ticks=$(echo "$end * $tb" | bc); fi
  local filter
  filter=$(choice_select "$(echo "$period * $tb" | bc)" "$(echo "$offset * $tb" | bc)" "$end_ticks")
  local input_args=""
  ((keyframes)) && input_args="-skip_frame nokey"
  CORPUS_INPUT_ARGS=$input_args corpus_reference choice "$file" yuv420p 0 "--keep-flat $tool_args" \
    "$notes" -vf "$filter"
}

# --count N over the whole clip: marks at (i + 0.5) * length / N.
choice_count_row() {
  local file=$1 keyframes=$2 count=$3 notes=$4
  local tb length
  tb=$(choice_time_base "$file")
  length=$(choice_duration_ticks "$file")
  local period
  period=$(echo "scale=6; $length / $count" | bc)
  local filter
  filter=$(choice_select "$period" "$(echo "scale=6; $period / 2" | bc)" "$length")
  local input_args="" tool_args="--keep-flat --count $count"
  ((keyframes)) && input_args="-skip_frame nokey" && tool_args+=" --keyframes"
  CORPUS_INPUT_ARGS=$input_args corpus_reference choice "$file" yuv420p 0 "$tool_args" "$notes" -vf "$filter"
}

ensure_packages corpus bc
corpus_table_begin choice

# 12 s with 1-s GOPs and three B-frames (x264 makes the middle one a
# reference: the others are left out before a mark).
corpus_testsrc 12 256x144 "$CORPUS_DIR/choice_h264_bframes.mp4" -c:v libx264 -bf 3 -g 25 \
  -keyint_min 25 -sc_threshold 0 -crf 36
choice_row choice_h264_bframes.mp4 0 "--every 0.7s" 0.7 0 - "every 0.7 s, marks on pictures every 1.4 s"
choice_row choice_h264_bframes.mp4 0 "--every 2.9s" 2.9 0 - "every 2.9 s: a seek per mark"
choice_row choice_h264_bframes.mp4 1 "--every 1.3s --keyframes" 1.3 0 - "keyframes every 1.3 s"
choice_row choice_h264_bframes.mp4 1 "--keyframes --start 3.5s" 0.0001 3.5 - "every keyframe from 3.5 s"
choice_row choice_h264_bframes.mp4 0 "--every 0.5s --start 3.1s --end 7.5s" 0.5 3.1 7.5 "a range"
choice_count_row choice_h264_bframes.mp4 0 3 "three evenly spread"
choice_count_row choice_h264_bframes.mp4 1 4 "four keyframes evenly spread"

"$FFMPEG" -nostdin -v error -y -i "$CORPUS_DIR/choice_h264_bframes.mp4" -c copy -fflags +bitexact \
  "$CORPUS_DIR/choice_h264.mkv"
choice_row choice_h264.mkv 0 "--every 2.9s" 2.9 0 - "Matroska: seeks by its cues"
choice_row choice_h264.mkv 1 "--every 1.3s --keyframes" 1.3 0 - "Matroska keyframes"

"$FFMPEG" -nostdin -v error -y -i "$CORPUS_DIR/choice_h264_bframes.mp4" -t 8 -c copy -f mpegts \
  "$CORPUS_DIR/choice_h264.ts"
choice_row choice_h264.ts 0 "--every 2.9s" 2.9 0 - "MPEG-TS: no index, decoded on; marks from its first picture"

# Trimmed: an edit list from 2.3 s, so the first GOP's pictures before it are
# decoded but not shown.
"$FFMPEG" -nostdin -v error -y -ss 2.3 -i "$CORPUS_DIR/choice_h264_bframes.mp4" -c copy \
  "$CORPUS_DIR/choice_edit_list.mp4"
choice_row choice_edit_list.mp4 0 "--every 1.7s" 1.7 0 - "edit list from 2.3 s"

# x265's open GOPs: a mark among the leading pictures of a CRA needs the GOP
# before it.
corpus_testsrc 12 256x144 "$CORPUS_DIR/choice_hevc_open_gop.mp4" -c:v libx265 \
  -x265-params log-level=none:keyint=25:min-keyint=25:scenecut=0:open-gop=1:bframes=4 -crf 34
choice_row choice_hevc_open_gop.mp4 0 "--every 0.9s" 0.9 0 - "HEVC open GOPs every 0.9 s"
choice_row choice_hevc_open_gop.mp4 0 "--every 2.96s" 2.96 0 - "HEVC, marks among leading pictures"
choice_row choice_hevc_open_gop.mp4 1 "--every 1.3s --keyframes" 1.3 0 - "HEVC keyframes"
choice_count_row choice_hevc_open_gop.mp4 0 5 "HEVC, five evenly spread"

# What a player's scrub bar should show: the pictures at 0, 2, ... 10 s, as
# Debian's ffmpeg decodes and scales them (bilinear, as the resize filter
# does, to 128x72 yuv420p), for the sprite
# sheet test to compare each tile of the tool's sheets with.
"$FFMPEG" -nostdin -v error -y -i "$CORPUS_DIR/choice_h264_bframes.mp4" \
  -vf "select=not(mod(n\,50)),scale=128:72:flags=bilinear" -fps_mode passthrough -pix_fmt yuv420p -f rawvideo \
  "$CORPUS_DIR/choice_every_2s_128x72.yuv"
