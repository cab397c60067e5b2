# Helpers for the section scripts of make_corpus.sh. Each section makes its
# clips with Debian's ffmpeg, x264 and x265 and records, for every clip, what
# Debian's ffmpeg decodes from it: the picture count and the MD5 of all
# pictures as raw planes. Those rows are the independent reference that
# tests/corpus checks the tool against.

FFMPEG=/usr/bin/ffmpeg
FFPROBE=/usr/bin/ffprobe
CORPUS_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# Keep the corpus small: it is committed.
MAX_CORPUS_CLIP_BYTES=$((200 * 1024))

corpus_die() {
  echo "make_corpus.sh: $*" >&2
  exit 1
}

# Synthetic 25 fps pictures as lavfi sources them; extra arguments go to the
# encoder side. Usage: corpus_testsrc SECONDS WxH OUT ARGS...
corpus_testsrc() {
  local seconds=$1 size=$2 out=$3
  shift 3
  "$FFMPEG" -nostdin -v error -y -f lavfi -i "testsrc2=size=$size:rate=25:duration=$seconds" \
    -threads 1 -fflags +bitexact -flags:v +bitexact "$@" "$out"
}

# Starts a section's table (tests/data/corpus/SECTION.tsv) anew.
corpus_table_begin() {
  local section=$1
  printf 'file\targs\texit\tpix_fmt\tframes\traw_md5\tnotes\n' > "$CORPUS_DIR/$section.tsv"
}

# Appends one row: what Debian's ffmpeg decodes from FILE as PIX_FMT raw
# planes, every picture passed through (-fps_mode passthrough).
# Usage: corpus_reference SECTION FILE PIX_FMT EXIT TOOL_ARGS NOTES [FFMPEG_ARGS...]
#   EXIT       the tool's expected exit status (1 for damaged files)
#   TOOL_ARGS  extra vantor-transcode arguments, or "-"
#   FFMPEG_ARGS extra output-side arguments of the reference decode, e.g.
#              -vf transpose=clock for a reference rotated explicitly
# CORPUS_INPUT_ARGS, when set, holds input-side arguments of the reference
# decode, split at blanks (e.g. CORPUS_INPUT_ARGS=-noautorotate).
corpus_reference() {
  local section=$1 file=$2 pix_fmt=$3 exit_status=$4 tool_args=$5 notes=$6
  shift 6
  local -a input_args=()
  read -ra input_args <<< "${CORPUS_INPUT_ARGS:-}"
  local path="$CORPUS_DIR/$file"
  [[ -f $path ]] || corpus_die "$file was not made"
  local bytes
  bytes=$(stat -c %s "$path")
  ((bytes <= MAX_CORPUS_CLIP_BYTES)) || corpus_die "$file is $bytes bytes, above $MAX_CORPUS_CLIP_BYTES"
  local frames md5
  frames=$("$FFMPEG" -nostdin -v error "${input_args[@]}" -i "$path" -map 0:v:0 -fps_mode passthrough "$@" \
    -pix_fmt "$pix_fmt" -f framemd5 - | grep -vc '^#' || true)
  md5=$("$FFMPEG" -nostdin -v error "${input_args[@]}" -i "$path" -map 0:v:0 -fps_mode passthrough "$@" \
    -pix_fmt "$pix_fmt" -f rawvideo - | md5sum | cut -d' ' -f1)
  # Where ffmpeg's choice of pictures is itself an artefact, only the count
  # is compared; the row's notes say why.
  [[ ${CORPUS_COUNT_ONLY:-0} == 1 ]] && md5=-
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$file" "$tool_args" "$exit_status" "$pix_fmt" \
    "$frames" "$md5" "$notes" >> "$CORPUS_DIR/$section.tsv"
}
