# Section "hdr": HDR video as phones and masters make it, on flat patches of
# known display light (hdr_patches.py; their table is hdr_patches.txt:
# index, name, BT.2020 light in nits), encoded losslessly with Debian's
# x265 so that the decoded samples are exactly the computed ones:
#   hdr_pq.mp4          PQ, BT.2020, mastering display 1000 nits, MaxCLL 1000
#   hdr_pq_bare.mp4     the same pictures without any HDR metadata
#   hdr_pq_4000.mp4     the same pictures claiming a 4000-nit master (MaxCLL 4000)
#   hdr_hlg.mp4         HLG by the VUI (arib-std-b67), as an iPhone writes it
#   hdr_hlg_atc.mp4     HLG by the alternative transfer SEI, VUI saying BT.2020-10
#   hdr_hlg_cw90.mp4    hdr_hlg.mp4 shown turned 90 degrees clockwise
#   hdr_dv5.mp4         hdr_pq_bare.mp4 labelled Dolby Vision profile 5 (dvcC)
#   hdr_dv84.mp4        hdr_hlg.mp4 labelled Dolby Vision profile 8.4 (dvvC)
# The references are Debian's ffmpeg decoding the planes as they are; the
# profile 5 file has none, since the tool refuses it (tests/tool checks that).

corpus_table_begin hdr

frames=10
x265_hdr() { # IN.yuv OUT.mp4 X265-ARGS...
  local in=$1 out=$2
  shift 2
  x265 --log-level error --no-progress --pools none --frame-threads 1 --input "$in" --input-res 512x256 --fps 25 --input-depth 10 \
    --output-depth 10 --profile main10 --lossless --keyint 5 --bframes 0 --repeat-headers \
    --colorprim bt2020 --colormatrix bt2020nc --range limited "$@" -o stream.hevc
  "$FFMPEG" -nostdin -v error -y -r 25 -i stream.hevc -c copy -tag:v hvc1 -fflags +bitexact "$out"
}

python3 "$CORPUS_DIR/hdr_patches.py" table > "$CORPUS_DIR/hdr_patches.txt"
python3 "$CORPUS_DIR/hdr_patches.py" pq "$frames" pq.yuv
python3 "$CORPUS_DIR/hdr_patches.py" hlg "$frames" hlg.yuv

master_display='G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)'
x265_hdr pq.yuv "$CORPUS_DIR/hdr_pq.mp4" --transfer smpte2084 \
  --master-display "${master_display}L(10000000,50)" --max-cll 1000,400 --hdr10
x265_hdr pq.yuv "$CORPUS_DIR/hdr_pq_bare.mp4" --transfer smpte2084
x265_hdr pq.yuv "$CORPUS_DIR/hdr_pq_4000.mp4" --transfer smpte2084 \
  --master-display "${master_display}L(40000000,50)" --max-cll 4000,400 --hdr10
x265_hdr hlg.yuv "$CORPUS_DIR/hdr_hlg.mp4" --transfer arib-std-b67
x265_hdr hlg.yuv "$CORPUS_DIR/hdr_hlg_atc.mp4" --transfer bt2020-10 --atc-sei 18

# Shown turned 90 degrees clockwise; ffmpeg's "rotate" tag counts the other way.
"$FFMPEG" -nostdin -v error -y -i "$CORPUS_DIR/hdr_hlg.mp4" -c copy -metadata:s:v:0 rotate=270 \
  -fflags +bitexact "$CORPUS_DIR/hdr_hlg_cw90.mp4"

# Adds a Dolby Vision configuration box to the one video sample entry of an
# MP4 whose moov follows its mdat (so no chunk offset moves), renames the
# entry to dvh1, and grows every box around it. Usage: dolby_vision IN OUT
# PROFILE LEVEL COMPATIBILITY
dolby_vision() {
  python3 - "$@" <<'PY'
import struct, sys
src, dst, profile, level, compatibility = sys.argv[1], sys.argv[2], *map(int, sys.argv[3:])
data = bytearray(open(src, "rb").read())

def boxes(start, end):
    at = start
    while at + 8 <= end:
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        assert size >= 8, "no 64-bit or open-ended boxes here"
        yield at, size, kind
        at += size

def find(start, end, path):
    """Offsets of the boxes along `path` (names), each inside the one before."""
    found = []
    for name in path:
        for at, size, kind in boxes(start, end):
            if kind == name:
                found.append(at)
                # stsd has a version and an entry count before its entries.
                start, end = at + 8 + (8 if name == b"stsd" else 0), at + size
                break
        else:
            raise SystemExit("no %s box" % name)
    return found

moov = [at for at, _, kind in boxes(0, len(data)) if kind == b"moov"][0]
mdat = [at for at, _, kind in boxes(0, len(data)) if kind == b"mdat"][0]
assert mdat < moov, "the moov must follow the mdat"
path = find(0, len(data), [b"moov", b"trak", b"mdia", b"minf", b"stbl", b"stsd", b"hvc1"])
entry = path[-1]
# dv_version 1.0; profile (7 bits), level (6), rpu, el and bl present
# flags; the base layer's signal compatibility (4 bits); zeros.
bits = profile << 9 | level << 3 | 1 << 2 | 0 << 1 | 1
record = struct.pack(">BBHB", 1, 0, bits, compatibility << 4) + bytes(19)
box = struct.pack(">I4s", 8 + len(record), b"dvcC" if profile <= 7 else b"dvvC") + record
entry_end = entry + struct.unpack(">I", data[entry:entry + 4])[0]
data[entry_end:entry_end] = box
for at in path:
    size = struct.unpack(">I", data[at:at + 4])[0]
    data[at:at + 4] = struct.pack(">I", size + len(box))
data[entry + 4:entry + 8] = b"dvh1"
open(dst, "wb").write(data)
PY
}
dolby_vision "$CORPUS_DIR/hdr_pq_bare.mp4" "$CORPUS_DIR/hdr_dv5.mp4" 5 1 0
dolby_vision "$CORPUS_DIR/hdr_hlg.mp4" "$CORPUS_DIR/hdr_dv84.mp4" 8 1 4

# The files must say what they are meant to say, or they test nothing.
frame_field() { # FILE FIELD: of the first picture
  "$FFPROBE" -v error -select_streams v:0 -read_intervals '%+#1' -show_entries "frame=$2" \
    -of default=nw=1:nk=1 "$1" | head -n 1
}
[[ $(frame_field "$CORPUS_DIR/hdr_pq.mp4" color_transfer) == smpte2084 ]] ||
  corpus_die "hdr_pq.mp4 is not PQ"
[[ $(frame_field "$CORPUS_DIR/hdr_hlg.mp4" color_transfer) == arib-std-b67 ]] ||
  corpus_die "hdr_hlg.mp4 is not HLG"
[[ $("$FFPROBE" -v error -select_streams v:0 -show_entries stream=color_transfer \
  -of default=nw=1:nk=1 "$CORPUS_DIR/hdr_hlg_atc.mp4") == bt2020-10 ]] ||
  corpus_die "hdr_hlg_atc.mp4 does not say BT.2020-10 in its VUI"
for clip in hdr_dv5:5 hdr_dv84:8; do
  [[ $("$FFPROBE" -v error -select_streams v:0 -show_entries stream_side_data=dv_profile \
    -of default=nw=1:nk=1 "$CORPUS_DIR/${clip%:*}.mp4") == "${clip#*:}" ]] ||
    corpus_die "${clip%:*}.mp4 does not say Dolby Vision profile ${clip#*:}"
done

for clip in hdr_pq hdr_pq_bare hdr_pq_4000 hdr_hlg hdr_hlg_atc hdr_hlg_cw90 hdr_dv84; do
  corpus_reference hdr "$clip.mp4" yuv420p10le 0 - "HDR flat patches ($clip), planes as decoded"
done
