# Section colour: full-range phone video and the YUV matrix. Sourced by
# make_corpus.sh in a temporary folder.
#
# Full-range clips carry luma from 0 to 255 and are tagged BT.601, as many
# phones tag them, so that their luma reaches a JPEG unchanged by any matrix
# conversion and only the range shows; the patch clips show six flat
# RGB colours, three across and two down, converted with the matrix their
# tags name (the untagged HD clip is converted with BT.709, which players
# assume for untagged HD).

section=colour
corpus_table_begin "$section"

# The six patch colours, row by row; colour_test.cpp lists the same ones.
patch_colours=(0x20C040 0xC02040 0x2040C0 0x808080 0xF0F0F0 0x101010)

# Usage: colour_patches WxH MATRIX OUT ENCODER-ARGS...
# Pictures of the six patches, converted to limited-range YUV 4:2:0 with
# MATRIX, one second at 25 fps. The sources give RGB, so that the only YUV
# conversion is the one with MATRIX.
colour_patches() {
  local size=$1 matrix=$2 out=$3
  shift 3
  local width=${size%x*} height=${size#*x}
  # The third column takes what the division leaves over.
  local side=$((width / 3 / 2 * 2))
  local widths=("$side" "$side" "$((width - 2 * side))")
  local inputs=() i
  for i in "${!patch_colours[@]}"; do
    inputs+=(-f lavfi -i "color=c=${patch_colours[$i]}:s=${widths[$((i % 3))]}x$((height / 2)):r=25:d=1,format=rgb24")
  done
  "$FFMPEG" -nostdin -v error -y "${inputs[@]}" -filter_complex \
    "[0][1][2]hstack=3[top];[3][4][5]hstack=3[bottom];[top][bottom]vstack,scale=out_color_matrix=$matrix:out_range=tv,format=yuv420p" \
    -threads 1 -fflags +bitexact -flags:v +bitexact "$@" "$out"
}

# Full-range H.264 as phones record it: decodes as yuvj420p, whose raw bytes
# are laid out as yuv420p; asking for yuvj420p keeps them unconverted.
corpus_testsrc 1 320x240 "$CORPUS_DIR/colour_h264_full.mp4" \
  -vf scale=out_range=pc,format=yuvj420p -c:v libx264 -preset veryfast -crf 20 \
  -color_range pc -colorspace bt470bg -color_primaries bt470bg -color_trc gamma28
corpus_reference "$section" colour_h264_full.mp4 yuvj420p 0 - "full-range H.264 (yuvj420p)"

# Full-range HEVC, 8 and 10 bits: decodes as yuv420p / yuv420p10le tagged pc.
corpus_testsrc 1 320x240 "$CORPUS_DIR/colour_hevc_full.mp4" \
  -vf scale=out_range=pc,format=yuv420p -c:v libx265 -preset veryfast -crf 22 \
  -x265-params log-level=error:range=full:colormatrix=smpte170m:colorprim=smpte170m:transfer=smpte170m \
  -color_range pc -tag:v hvc1
# Debian's ffmpeg decodes it as yuvj420p, the same bytes as our yuv420p.
corpus_reference "$section" colour_hevc_full.mp4 yuvj420p 0 - "full-range HEVC 8-bit"

corpus_testsrc 1 320x240 "$CORPUS_DIR/colour_hevc10_full.mp4" \
  -vf scale=out_range=pc,format=yuv420p10le -c:v libx265 -preset veryfast -crf 22 \
  -x265-params log-level=error:range=full:colormatrix=smpte170m:colorprim=smpte170m:transfer=smpte170m \
  -color_range pc -tag:v hvc1
corpus_reference "$section" colour_hevc10_full.mp4 yuv420p10le 0 - "full-range HEVC 10-bit"

# Flat patches, limited range: SD tagged BT.601, HD tagged BT.709, HD untagged.
colour_patches 320x240 bt601 "$CORPUS_DIR/colour_patches_bt601_sd.mp4" \
  -c:v libx264 -preset veryfast -crf 12 \
  -colorspace smpte170m -color_primaries smpte170m -color_trc smpte170m -color_range tv
corpus_reference "$section" colour_patches_bt601_sd.mp4 yuv420p 0 - \
  "flat RGB patches, BT.601 tagged, 320x240"

colour_patches 1280x720 bt709 "$CORPUS_DIR/colour_patches_bt709_hd.mp4" \
  -c:v libx264 -preset veryfast -crf 12 \
  -colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv
corpus_reference "$section" colour_patches_bt709_hd.mp4 yuv420p 0 - \
  "flat RGB patches, BT.709 tagged, 1280x720"

colour_patches 1280x720 bt709 "$CORPUS_DIR/colour_patches_untagged_hd.mp4" \
  -c:v libx264 -preset veryfast -crf 12
corpus_reference "$section" colour_patches_untagged_hd.mp4 yuv420p 0 - \
  "flat RGB patches, BT.709 without tags, 1280x720"

# The untagged clip must really carry no matrix, or it tests nothing.
untagged_space=$("$FFPROBE" -v error -select_streams v:0 -show_entries stream=color_space \
  -of default=nw=1:nk=1 "$CORPUS_DIR/colour_patches_untagged_hd.mp4")
[[ $untagged_space == unknown ]] || corpus_die "colour_patches_untagged_hd.mp4 is tagged $untagged_space"
