# Section "rotation": phone videos stored sideways with a display matrix.
# The references are Debian's ffmpeg turning the pictures upright; the
# mirrored clip and the --no-autorotate row are decoded with -noautorotate
# and turned explicitly, since ffmpeg 5.1 does not apply mirrors.

# Stores IN with a display matrix that shows it turned CLOCKWISE degrees,
# and checks what ffprobe reads back. ffmpeg's "rotate" tag counts the
# other way round. Usage: rotation_tag IN CLOCKWISE OUT
rotation_tag() {
  local in=$1 clockwise=$2 out=$3
  "$FFMPEG" -nostdin -v error -y -i "$in" -c copy -metadata:s:v:0 rotate=$(((360 - clockwise) % 360)) \
    -fflags +bitexact "$out"
  local shown
  shown=$("$FFPROBE" -v error -select_streams v:0 -show_entries stream_side_data=rotation \
    -of csv=p=0 "$out")
  (((-shown + 360) % 360 == clockwise)) || corpus_die "$out: ffprobe reads rotation $shown"
}

# Turns the rotation of a file tagged 90 degrees clockwise into a transpose
# (90 degrees clockwise, then mirrored): the tkhd matrix's c goes from -1 to 1.
mirror_tkhd() {
  python3 - "$1" <<'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
at = data.find(b"tkhd")
assert at > 0 and data.find(b"tkhd", at + 4) < 0, "one tkhd expected"
matrix = at + 4 + (52 if data[at + 4] == 1 else 40)
a, b, _, c, d = struct.unpack(">5i", data[matrix:matrix + 20])
assert (a, b, c, d) == (0, 0x10000, -0x10000, 0), (a, b, c, d)
data[matrix + 12:matrix + 16] = struct.pack(">i", 0x10000)
open(path, "wb").write(data)
PY
}

corpus_table_begin rotation

corpus_testsrc 0.4 320x240 h264.mp4 -c:v libx264 -preset veryfast -pix_fmt yuv420p
for clockwise in 90 180 270; do
  rotation_tag h264.mp4 "$clockwise" "$CORPUS_DIR/rotation_h264_cw$clockwise.mp4"
  corpus_reference rotation rotation_h264_cw$clockwise.mp4 yuv420p 0 - \
    "H.264 shown turned $clockwise degrees clockwise"
done
CORPUS_INPUT_ARGS=-noautorotate corpus_reference rotation rotation_h264_cw90.mp4 yuv420p 0 \
  --no-autorotate "H.264 shown turned 90 degrees clockwise, kept as stored"

corpus_testsrc 0.4 320x240 hevc.mp4 -c:v libx265 -preset veryfast -pix_fmt yuv420p \
  -x265-params log-level=error
rotation_tag hevc.mp4 90 "$CORPUS_DIR/rotation_hevc_cw90.mp4"
corpus_reference rotation rotation_hevc_cw90.mp4 yuv420p 0 - \
  "HEVC shown turned 90 degrees clockwise"

corpus_testsrc 0.4 320x240 hevc10.mp4 -c:v libx265 -preset veryfast -pix_fmt yuv420p10le \
  -x265-params log-level=error
rotation_tag hevc10.mp4 270 "$CORPUS_DIR/rotation_hevc10_cw270.mp4"
corpus_reference rotation rotation_hevc10_cw270.mp4 yuv420p10le 0 - \
  "10-bit HEVC shown turned 270 degrees clockwise"

# Pixels twice as wide as high: shown 320x240, upright 240x320.
corpus_testsrc 0.4 160x240 h264_sar.mp4 -vf setsar=2 -c:v libx264 -preset veryfast -pix_fmt yuv420p
rotation_tag h264_sar.mp4 90 "$CORPUS_DIR/rotation_h264_sar2_cw90.mp4"
corpus_reference rotation rotation_h264_sar2_cw90.mp4 yuv420p 0 - \
  "H.264 of 2:1 pixels shown turned 90 degrees clockwise"

rotation_tag h264.mp4 90 "$CORPUS_DIR/rotation_h264_cw90_mirror.mp4"
mirror_tkhd "$CORPUS_DIR/rotation_h264_cw90_mirror.mp4"
CORPUS_INPUT_ARGS=-noautorotate corpus_reference rotation rotation_h264_cw90_mirror.mp4 yuv420p 0 - \
  "H.264 shown turned 90 degrees clockwise, then mirrored" -vf transpose=clock,hflip
