# Section "timing": trimmed clips (edit lists, negative Matroska block times,
# a start delay), stream segments (fragmented MP4, MPEG-TS with and without
# its clock's wrap, a TS cut mid-GOP, FLV) and truncated files. The notes
# give what Debian's ffprobe reports of the decoded pictures: the first and
# last presentation time in the stream's time base, and the time base.

timing_notes() {
  local file=$1 what=$2
  local times
  times=$("$FFPROBE" -v quiet -select_streams v:0 -show_entries frame=pts -of csv=p=0 "$CORPUS_DIR/$file" |
    grep -v '^$' | tr -d ,)
  local time_base
  time_base=$("$FFPROBE" -v quiet -select_streams v:0 -show_entries stream=time_base -of csv=p=0 \
    "$CORPUS_DIR/$file" | grep -v "^$" | head -1)
  if [[ -z $times ]]; then
    echo "$what; no pictures; time_base=$time_base"
  else
    echo "$what; first_pts=$(head -1 <<<"$times") last_pts=$(tail -1 <<<"$times") time_base=$time_base"
  fi
}

timing_row() {
  local file=$1 exit_status=$2 what=$3
  corpus_reference timing "$file" yuv420p "$exit_status" - "$(timing_notes "$file" "$what")"
}

# Cuts FILE to its first BYTES bytes.
timing_cut() {
  head -c "$2" "$1" > "$3"
}

corpus_table_begin timing

corpus_testsrc 6 320x240 long.mp4 -c:v libx264 -bf 2 -g 50 -crf 30
# Keeps the GOP from the keyframe at 2 s and an edit list starting at 3.4 s.
"$FFMPEG" -nostdin -v error -y -ss 3.4 -i long.mp4 -c copy "$CORPUS_DIR/timing_edit_list_bframes.mp4"
timing_row timing_edit_list_bframes.mp4 0 "edit list from 3.4 s; 1.4 s of decoded-only pictures"

# An empty edit: presentation starts 1 s late.
"$FFMPEG" -nostdin -v error -y -itsoffset 1 -i long.mp4 -c copy "$CORPUS_DIR/timing_start_delay.mp4"
timing_row timing_start_delay.mp4 0 "empty edit of 1 s"

# x265 makes open GOPs: a cut at a CRA leaves its leading pictures with
# negative block times, which the Matroska demuxer gives no time.
corpus_testsrc 5 320x240 hevc.mp4 -c:v libx265 -x265-params log-level=none:keyint=50 -crf 32
"$FFMPEG" -nostdin -v error -y -ss 2.5 -i hevc.mp4 -c copy -fflags +bitexact "$CORPUS_DIR/timing_negative_hevc.mkv"
timing_row timing_negative_hevc.mkv 0 "HEVC cut at a CRA; leading blocks before time 0"

# HLS in fragmented MP4: the initialization segment with a later segment,
# and the initialization segment alone.
mkdir -p hls
"$FFMPEG" -nostdin -v error -y -i long.mp4 -c copy -f hls -hls_time 2 -hls_segment_type fmp4 \
  -hls_fmp4_init_filename init.mp4 hls/list.m3u8
cat hls/init.mp4 hls/list2.m4s > "$CORPUS_DIR/timing_fmp4_later_segment.mp4"
timing_row timing_fmp4_later_segment.mp4 0 "init segment + third media segment"
cp hls/init.mp4 "$CORPUS_DIR/timing_fmp4_init_only.mp4"
# Debian's ffmpeg fails on it too, so the reference decode cannot run:
# no pictures, the MD5 of no bytes.
printf 'timing_fmp4_init_only.mp4\t-\t1\tyuv420p\t0\t%s\t%s\n' "$(md5sum </dev/null | cut -d' ' -f1)" \
  "$(timing_notes timing_fmp4_init_only.mp4 "init segment alone: no samples")" >> "$CORPUS_DIR/timing.tsv"

"$FFMPEG" -nostdin -v error -y -i long.mp4 -c copy -f mpegts "$CORPUS_DIR/timing_whole.ts"
timing_row timing_whole.ts 0 "MPEG-TS, pts and dts"
# 95441 s is 2.4 s before the 33-bit 90 kHz clock wraps.
"$FFMPEG" -nostdin -v error -y -i long.mp4 -c copy -output_ts_offset 95441 -f mpegts \
  "$CORPUS_DIR/timing_clock_wrap.ts"
timing_row timing_clock_wrap.ts 0 "MPEG-TS whose clock wraps 2.4 s in"
# A third of the way in, at a packet boundary: mid-GOP.
ts_packets=$(($(stat -c %s "$CORPUS_DIR/timing_whole.ts") / 188))
dd if="$CORPUS_DIR/timing_whole.ts" of="$CORPUS_DIR/timing_cut_mid_gop.ts" bs=188 \
  skip=$((ts_packets / 3)) status=none
timing_row timing_cut_mid_gop.ts 0 "MPEG-TS starting mid-GOP"
"$FFMPEG" -nostdin -v error -y -i long.mp4 -c copy -f flv "$CORPUS_DIR/timing_whole.flv"
timing_row timing_whole.flv 0 "FLV"

# Truncated files: every decodable picture, then exit 1.
corpus_testsrc 4 320x240 faststart.mp4 -c:v libx264 -bf 2 -g 25 -crf 30 -movflags +faststart
timing_cut faststart.mp4 $(($(stat -c %s faststart.mp4) * 7 / 10)) "$CORPUS_DIR/timing_cut_faststart.mp4"
timing_row timing_cut_faststart.mp4 1 "faststart MP4 cut at 70%"
"$FFMPEG" -nostdin -v error -y -i faststart.mp4 -c copy -fflags +bitexact cut.mkv
timing_cut cut.mkv $(($(stat -c %s cut.mkv) * 7 / 10)) "$CORPUS_DIR/timing_cut.mkv"
timing_row timing_cut.mkv 1 "Matroska cut at 70%"
# Cut inside the first transport packet of a picture: the demuxer drops
# that picture whole (a cut deeper into it leaves a damaged picture whose
# concealment differs between FFmpeg versions).
"$FFMPEG" -nostdin -v error -y -i faststart.mp4 -c copy -f mpegts cut.ts
cut_at=$("$FFPROBE" -v error -select_streams v:0 -show_entries packet=pos -of csv=p=0 cut.ts |
  grep -v '^$' | tr -d , | sed -n 70p)
timing_cut cut.ts $((cut_at + 150)) "$CORPUS_DIR/timing_cut.ts"
timing_row timing_cut.ts 1 "MPEG-TS cut inside a transport packet"

# Two edits (0-1 s and 3-4 s of the media): the tool refuses it, so the clip
# has no row (Debian's ffmpeg shows the pictures of both edits); the source's
# tests check the refusal. The moov is at the end, so growing the elst box
# moves no sample.
python3 - long.mp4 "$CORPUS_DIR/timing_two_edits.mp4" <<'PYTHON'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
def find(start, end, names, path):
    at = start
    while at < end:
        size, kind = struct.unpack('>I4s', data[at:at + 8])
        if kind == names[0]:
            path.append(at)
            return at if len(names) == 1 else find(at + 8, at + size, names[1:], path)
        at += size
    sys.exit('no ' + names[0].decode())
path = []
elst = find(0, len(data), [b'moov', b'trak', b'edts', b'elst'], path)
old_size = struct.unpack('>I', data[elst:elst + 4])[0]
# Movie timescale 1000, media timescale 12800, 1024 ticks of B-frame delay.
edits = [(1000, 1024), (1000, 1024 + 3 * 12800)]
body = struct.pack('>4sII', b'elst', 0, len(edits))
for duration, media_time in edits:
    body += struct.pack('>IiHH', duration, media_time, 1, 0)
body = struct.pack('>I', len(body) + 4) + body
data[elst:elst + old_size] = body
for at in path[:-1]:
    struct.pack_into('>I', data, at, struct.unpack('>I', data[at:at + 4])[0] + len(body) - old_size)
open(sys.argv[2], 'wb').write(data)
PYTHON
