# Raw elementary streams with reordered pictures (B-frames), put into MP4
# with -c copy. Raw streams carry no presentation times, so such files have
# presentation time = decode time on every sample.
section=remux
corpus_table_begin $section

corpus_testsrc 2 320x240 avc.h264 -c:v libx264 -preset medium -bf 3 -g 25 -pix_fmt yuv420p
corpus_testsrc 2 320x240 hevc.hevc -c:v libx265 -preset medium -x265-params bframes=4:keyint=25:log-level=error -pix_fmt yuv420p

# Without an edit list: every picture, times in decode order.
"$FFMPEG" -nostdin -v error -i avc.h264 -c copy -use_editlist 0 -fflags +bitexact "$CORPUS_DIR/remux_avc_pts_eq_dts.mp4"
"$FFMPEG" -nostdin -v error -i hevc.hevc -c copy -use_editlist 0 -fflags +bitexact "$CORPUS_DIR/remux_hevc_pts_eq_dts.mp4"
corpus_reference $section remux_avc_pts_eq_dts.mp4 yuv420p 0 - "H.264 3 B-frames, pts = dts, no edit list"
corpus_reference $section remux_hevc_pts_eq_dts.mp4 yuv420p 0 - "HEVC 4 B-frames, pts = dts, no edit list"

# The plain remux: the muxer also writes an edit list that hides the first
# two samples' times. ffmpeg drops the pictures decoded from those two
# samples (picture 0 and the first P-frame, shown fourth); the tool drops
# the first two in presentation order. The count agrees.
"$FFMPEG" -nostdin -v error -i avc.h264 -c copy -fflags +bitexact "$CORPUS_DIR/remux_avc_plain.mp4"
CORPUS_COUNT_ONLY=1 corpus_reference $section remux_avc_plain.mp4 yuv420p 0 - "H.264 3 B-frames, pts = dts, edit list over 2 samples; count only"
