#include "option_table.hpp"

#include "option_values.hpp"

namespace vantor::tools {

namespace {

using value_t = std::string_view;

constexpr option_relation_t places_inside_size{
    "--size", "places the picture inside --size WxH; give --size as well"};
constexpr option_relation_t jpeg_only{"--raw", "goes with JPEG output, not with --raw"};
constexpr option_relation_t one_file_only{"--batch", "names one file and does not combine with --batch"};
// Players lay a thumbnail track on an even grid from the video's first picture.
constexpr char whole_video[] =
    "covers the whole video from its first picture, as players show it; give no --start or --end";

}  // namespace

const std::vector<option_row_t>& option_table() {
  static const std::vector<option_row_t> table{
      {nullptr, nullptr, "INPUT", "media file to read",
       "the bundled sample clip h264_high_bframes.mp4", nullptr, {}, {}},
      {"-o", "--output", "DIR",
       "folder for the JPEG files DIR/000001.jpg, DIR/000002.jpg, ...; created if missing. A folder "
       "that holds pictures of an earlier run (NNNNNN.jpg, sheet-NNNN.jpg) is refused, so that old "
       "and new pictures never mix; give --overwrite to remove them first",
       "out",
       [](tool_options_t& o, value_t v) {
         o.output_dir = non_empty(v, "-o needs a folder name");
         o.output_dir_given = true;
       },
       {}, {{"--raw", "names the JPEG folder and has no effect with --raw"}}},
      {nullptr, "--overwrite", nullptr,
       "replace the pictures of an earlier run in DIR, and an existing --vtt or --mp4 file", nullptr,
       [](tool_options_t& o, value_t) { o.overwrite = true; }, {}, {}},
      {nullptr, "--size", "WxH",
       "scale every picture to W x H pixels; both even. One side alone (320x or x180) sets that "
       "side, and the other follows the display aspect ratio, rounded to even",
       "keep the decoded size", [](tool_options_t& o, value_t v) { o.size = parse_size(v); }, {}, {}},
      {nullptr, "--rect", "X,Y,W,H",
       "with --size: scale the picture to W x H and place it at X,Y in a black frame of --size; all "
       "even, inside the frame",
       "the picture fills the frame", [](tool_options_t& o, value_t v) { o.rect = parse_rect(v); },
       {places_inside_size}, {{"--fit", "and --fit both place the picture; give only one of them"}}},
      {nullptr, "--fit", nullptr,
       "with --size: the largest centred rectangle that keeps the picture's display aspect ratio "
       "(letterbox or pillarbox)",
       "off, the picture is stretched to --size", [](tool_options_t& o, value_t) { o.fit = true; },
       {places_inside_size}, {}},
      {nullptr, "--no-autorotate", nullptr,
       "keep the pictures as they are stored. By default pictures are turned upright as the file's "
       "display matrix says (phone videos are often stored sideways): rotated by 90, 180 or 270 "
       "degrees and mirrored; --size, --fit and the aspect ratio then apply to the upright picture",
       nullptr, [](tool_options_t& o, value_t) { o.autorotate = false; }, {}, {}},
      {nullptr, "--every", "DURATION",
       "one picture per interval: for each mark start, start+D, ... the first picture at or after "
       "it. DURATION: 10s, 2.5s, 500ms, 1m, or plain seconds",
       nullptr,
       [](tool_options_t& o, value_t v) {
         o.every = parse_time("--every", v);
         if (*o.every == 0) throw usage_error_t("--every 0: the interval must be above 0");
       },
       {}, {{"--count", "and --count both set the marks; give only one of them"}}},
      {nullptr, "--count", "N",
       "N pictures spread evenly over the range, at the marks (i + 0.5) * length / N; --count 1 is "
       "a poster from the middle",
       nullptr, [](tool_options_t& o, value_t v) { o.count = parse_count(v); }, {}, {}},
      {nullptr, "--keyframes", nullptr,
       "only keyframes: alone, every keyframe; with --every or --count, each mark takes the first "
       "keyframe at or after it",
       nullptr, [](tool_options_t& o, value_t) { o.keyframes = true; }, {}, {}},
      {nullptr, "--start", "T",
       "where the range to take pictures from begins, in the units of --every or as hh:mm:ss.mmm, "
       "counted from the video's first picture, as in ffmpeg. Only what the chosen pictures need is "
       "decoded: MP4, MOV and Matroska files are sought by their index",
       "the video's first picture", [](tool_options_t& o, value_t v) { o.start = parse_time("--start", v); },
       {}, {}},
      {nullptr, "--end", "T", "where the range ends (exclusive), in the same units as --start",
       "the end of the video", [](tool_options_t& o, value_t v) { o.end = parse_time("--end", v); },
       {}, {}},
      {nullptr, "--keep-flat", nullptr,
       "with --every or --count, take the picture at the mark even when it is nearly one colour. By "
       "default such a picture (a black fade, a plain title card: its luma spread between the 1st "
       "and 99th percentile is at most 16 of 255 levels) gives way to the next one before the next "
       "mark",
       nullptr, [](tool_options_t& o, value_t) { o.keep_flat = true; }, {}, {}},
      {nullptr, "--sprite", "CxR",
       "put the pictures on sprite sheets of C columns by R rows of --size WxH tiles, in reading "
       "order: DIR/sheet-0001.jpg, ...; the last sheet's unused tiles are black",
       nullptr, [](tool_options_t& o, value_t v) { o.sprite = parse_sprite(v); },
       {{"--size", "needs the tile size: give --size WxH as well"}}, {jpeg_only}},
      {nullptr, "--vtt", "FILE",
       "also write a WebVTT index for players' scrub bars: one cue per picture, from its time until "
       "the next picture's, pointing at its JPEG by a path relative to FILE (with --sprite at its "
       "tile, #xywh=x,y,w,h)",
       nullptr, [](tool_options_t& o, value_t v) { o.vtt = non_empty(v, "--vtt needs a file name"); },
       {}, {jpeg_only, one_file_only}},
      {nullptr, "--mp4", "FILE",
       "also write the JPEGs as the MJPEG video track of an MP4 file, with each picture's time and "
       "duration",
       nullptr, [](tool_options_t& o, value_t v) { o.mp4 = non_empty(v, "--mp4 needs a file name"); },
       {}, {jpeg_only, one_file_only}},
      {nullptr, "--dash", "FILE.mpd",
       "also write the sheets (with --sprite; else one picture per segment) as a DASH-IF thumbnail "
       "track: an image adaptation set in a minimal MPD, for packagers that merge adaptation sets. "
       "Players lay the tiles on an even grid of time from the video's first picture: give --every "
       "or --count (not --keyframes alone). Refused when FILE.mpd exists, unless --overwrite",
       nullptr, [](tool_options_t& o, value_t v) { o.dash = non_empty(v, "--dash needs a file name"); },
       {}, {jpeg_only, one_file_only, {"--start", whole_video}, {"--end", whole_video}}},
      {nullptr, "--dash-into", "VIDEO.mpd",
       "with --dash: FILE.mpd becomes a copy of VIDEO.mpd (from ffmpeg's dash muxer, say) with the "
       "image adaptation set in its period; in another folder it gets a BaseURL, so that the "
       "video's relative URLs still resolve",
       nullptr, [](tool_options_t& o, value_t v) { o.dash_into = non_empty(v, "--dash-into needs a file name"); },
       {{"--dash", "VIDEO.mpd is copied, with the thumbnail track added, to the file of --dash FILE.mpd; "
                   "give --dash as well"}},
       {}},
      {nullptr, "--hls", "FILE.m3u8",
       "also write the sheets as an HLS image playlist (#EXT-X-IMAGES-ONLY, #EXT-X-TILES before "
       "every sheet), on the grid of --dash. Refused when FILE.m3u8 exists, unless --overwrite",
       nullptr, [](tool_options_t& o, value_t v) { o.hls = non_empty(v, "--hls needs a file name"); },
       {}, {jpeg_only, one_file_only, {"--start", whole_video}, {"--end", whole_video}}},
      {nullptr, "--hls-into", "MASTER.m3u8",
       "with --hls: also write MASTER-thumbs.m3u8 beside MASTER.m3u8, a copy of it with an "
       "#EXT-X-IMAGE-STREAM-INF line for FILE.m3u8, so that its relative URIs keep working",
       nullptr, [](tool_options_t& o, value_t v) { o.hls_into = non_empty(v, "--hls-into needs a file name"); },
       {{"--hls", "MASTER.m3u8 gets a copy that lists the image playlist of --hls FILE.m3u8; give --hls "
                  "as well"}},
       {}},
      {nullptr, "--quality", "N", "JPEG quality from 0 (smallest files) to 100 (best pictures)",
       "the JPEG module's own, 30", [](tool_options_t& o, value_t v) { o.quality = parse_quality(v); },
       {}, {{"--raw", "sets the JPEG quality and has no effect with --raw"}}},
      {nullptr, "--raw", "FILE",
       "write the decoded (and scaled) pictures' planes back to back to FILE instead of JPEG files; "
       "- writes to standard output. 8-bit video gives yuv420p, 10-bit video yuv420p10le",
       "off, JPEG files are written",
       [](tool_options_t& o, value_t v) {
         o.raw = non_empty(v, "--raw needs a file name, or - for standard output");
       },
       {},
       // Every input has a folder of its own; one raw stream cannot hold them.
       {{"--batch", "writes one file and does not combine with --batch; batch mode writes JPEG "
                    "folders under -o DIR"}}},
      {nullptr, "--tonemap", "auto|off",
       "HDR video (PQ, HLG): auto maps its light and colours to what JPEG viewers show (SDR, "
       "BT.709 primaries), highlights rolled off toward the brightest part of each picture; off "
       "keeps the decoded values, which look dark and pale. Given with --raw, auto maps HDR "
       "pictures to 8-bit yuv420p (limited-range BT.709)",
       "auto; --raw keeps the decoded planes",
       [](tool_options_t& o, value_t v) {
         if (v != "auto" && v != "off") {
           throw usage_error_t("--tonemap '" + std::string(v) + "' is neither auto nor off");
         }
         o.tonemap = v == "auto";
       },
       {}, {}},
      {nullptr, "--log-level", "N",
       "detail of the components' log on standard error: 0 errors, 1 warnings, 2 configuration, 3 "
       "every packet and picture, 4 also every sample read from the file",
       "1", [](tool_options_t& o, value_t v) { o.log_level = parse_log_level(v); }, {}, {}},
      {nullptr, "--plugins", "DIR", "folder of the plug-in modules", "../plugins next to the executable",
       [](tool_options_t& o, value_t v) { o.plugins_dir = std::string(v); }, {}, {}},
      {nullptr, "--batch", "LIST",
       "convert every file LIST names, one path per line (blank lines are skipped; - reads the list "
       "from standard input), each into the folder DIR/NAME of -o DIR, NAME being the input's file "
       "name; a NAME met again in the list gets ~2, ~3, ... (a/x.mp4 and b/x.mp4 go to DIR/x.mp4 "
       "and DIR/x.mp4~2). Not with INPUT, nor with --raw (one file cannot hold the pictures of "
       "several inputs)",
       nullptr,
       [](tool_options_t& o, value_t v) {
         o.batch_list = non_empty(v, "--batch needs a list file, or - for standard input");
       },
       {}, {}},
      {nullptr, "--jobs", "N", "with --batch: convert N inputs at once, each on its own thread",
       "the number of cores", [](tool_options_t& o, value_t v) { o.jobs = parse_jobs(v); },
       {{"--batch", "sets how many inputs of --batch LIST run at once; give --batch"}}, {}},
      {nullptr, "--threads", "N",
       "without --batch: decode one input on N threads at once. A job that wants every picture of "
       "an MP4 or MOV with --size has its stream cut at keyframes into parts, each decoded, scaled "
       "and encoded on its own thread (the pictures are the same); other jobs decode on one thread, "
       "beside scaling and encoding. 1 runs decoding as one stream; each part needs a decoder's "
       "memory",
       "the number of cores, at most 4", [](tool_options_t& o, value_t v) { o.threads = parse_threads(v); },
       {}, {{"--batch", "is for one input; --batch runs --jobs inputs at once"}}},
      {nullptr, "--timeout", "DURATION",
       "stop an input that takes longer than DURATION (as for --every): its files are finished with "
       "the pictures so far, and it fails with a message (exit 1). With --batch, each input has its "
       "own", "no limit", [](tool_options_t& o, value_t v) { o.timeout = parse_timeout(v); }, {}, {}},
      {nullptr, "--max-pixels", "N",
       "refuse, before decoding, video whose pictures have more than N pixels, and stop the decoder "
       "from allocating pictures larger than that: a crafted header cannot make a run take gigabytes",
       "35389440 (8192x4320)", [](tool_options_t& o, value_t v) { o.max_pixels = parse_max_pixels(v); },
       {}, {}},
      {nullptr, "--version", nullptr, "show the version and the FFmpeg libraries in use", nullptr,
       [](tool_options_t& o, value_t) { o.version = true; }, {}, {}},
      {"-h", "--help", nullptr, "show this text", nullptr,
       [](tool_options_t& o, value_t) { o.help = true; }, {}, {}},
  };
  return table;
}

}  // namespace vantor::tools
