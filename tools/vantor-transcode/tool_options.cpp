#include "tool_options.hpp"

#include <charconv>
#include <limits>
#include <string_view>

#include "time_value.hpp"

namespace vantor::tools {

namespace {

// A decimal number made of digits only (no sign, no blanks) that fits `max`.
std::optional<uint64_t> parse_number(std::string_view text, uint64_t max) {
  if (text.empty()) return std::nullopt;
  for (char const c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  uint64_t value = 0;
  auto const [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

// Splits "a<sep>b<sep>..." into exactly `count` numbers.
std::optional<std::vector<uint32_t>> parse_numbers(std::string_view text, char separator,
                                                   size_t count) {
  std::vector<uint32_t> numbers;
  while (true) {
    size_t const end = text.find(separator);
    auto const number = parse_number(text.substr(0, end), std::numeric_limits<uint32_t>::max());
    if (!number) return std::nullopt;
    numbers.push_back(static_cast<uint32_t>(*number));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  if (numbers.size() != count) return std::nullopt;
  return numbers;
}

// "320x" and "x180" give one side; the other follows the aspect ratio.
std::optional<stages::picture_size_t> parse_one_side(std::string_view text) {
  bool const width_only = text.size() > 1 && text.back() == 'x';
  bool const height_only = text.size() > 1 && text.front() == 'x';
  if (width_only == height_only) return std::nullopt;
  auto const side = parse_number(width_only ? text.substr(0, text.size() - 1) : text.substr(1),
                                 std::numeric_limits<uint32_t>::max());
  if (!side) return std::nullopt;
  uint32_t const value = static_cast<uint32_t>(*side);
  return width_only ? stages::picture_size_t{value, 0} : stages::picture_size_t{0, value};
}

stages::picture_size_t parse_size(std::string_view text) {
  if (std::optional<stages::picture_size_t> const one_side = parse_one_side(text)) {
    uint32_t const side = one_side->width ? one_side->width : one_side->height;
    if (side == 0 || side % 2 != 0) {
      throw usage_error_t("--size " + std::string(text) +
                          ": the side must be even and above 0 (4:2:0 pictures have half-size chroma)");
    }
    return *one_side;
  }
  auto const numbers = parse_numbers(text, 'x', 2);
  if (!numbers) {
    throw usage_error_t("--size '" + std::string(text) +
                        "' is not a size; write it as WIDTHxHEIGHT, e.g. --size 640x360, or give one "
                        "side, e.g. --size 320x");
  }
  stages::picture_size_t const size{(*numbers)[0], (*numbers)[1]};
  if (size.width == 0 || size.height == 0)
    throw usage_error_t("--size " + std::string(text) + ": width and height must be above 0");
  if (size.width % 2 != 0 || size.height % 2 != 0) {
    throw usage_error_t("--size " + std::string(text) +
                        ": width and height must be even (4:2:0 pictures have half-size chroma)");
  }
  return size;
}

stages::picture_rect_t parse_rect(std::string_view text) {
  auto const numbers = parse_numbers(text, ',', 4);
  if (!numbers) {
    throw usage_error_t("--rect '" + std::string(text) +
                        "' is not a rectangle; write it as X,Y,WIDTH,HEIGHT, e.g. --rect 0,60,640,360");
  }
  stages::picture_rect_t const rect{(*numbers)[0], (*numbers)[1], (*numbers)[2], (*numbers)[3]};
  if (rect.width == 0 || rect.height == 0)
    throw usage_error_t("--rect " + std::string(text) + ": width and height must be above 0");
  if (rect.x % 2 != 0 || rect.y % 2 != 0 || rect.width % 2 != 0 || rect.height % 2 != 0) {
    throw usage_error_t("--rect " + std::string(text) +
                        ": position and size must be even (4:2:0 pictures have half-size chroma)");
  }
  return rect;
}

std::string parse_quality(std::string_view text) {
  auto const quality = parse_number(text, std::numeric_limits<uint32_t>::max());
  if (!quality)
    throw usage_error_t("--quality '" + std::string(text) + "' is not a number from 0 to 100");
  if (*quality > 100)
    throw usage_error_t("--quality " + std::string(text) + " is above 100 (the best quality)");
  return std::string(text);
}

int parse_log_level(std::string_view text) {
  auto const level = parse_number(text, 4);
  if (!level) throw usage_error_t("--log-level '" + std::string(text) + "' is not a level from 0 to 4");
  return static_cast<int>(*level);
}

int64_t parse_time(std::string_view option, std::string_view text) {
  std::optional<int64_t> const time = parse_time_value(text);
  if (!time) {
    throw usage_error_t(std::string(option) + " '" + std::string(text) +
                        "' is not a time; write e.g. 10s, 2.5s, 500ms, 1m, 7 (seconds) or 00:01:30.500");
  }
  return *time;
}

uint32_t parse_count(std::string_view text) {
  auto const count = parse_number(text, std::numeric_limits<uint32_t>::max());
  if (!count) throw usage_error_t("--count '" + std::string(text) + "' is not a number of pictures");
  if (*count == 0) throw usage_error_t("--count 0: at least one picture must be asked for");
  return static_cast<uint32_t>(*count);
}

std::string non_empty(std::string_view option, std::string_view text) {
  if (text.empty()) throw usage_error_t(std::string(option) + " needs a file name");
  return std::string(text);
}

std::pair<uint32_t, uint32_t> parse_sprite(std::string_view text) {
  auto const numbers = parse_numbers(text, 'x', 2);
  if (!numbers || (*numbers)[0] == 0 || (*numbers)[1] == 0 || (*numbers)[0] > 1000 || (*numbers)[1] > 1000) {
    throw usage_error_t("--sprite '" + std::string(text) +
                        "' is not a grid; write it as COLUMNSxROWS, e.g. --sprite 5x5");
  }
  return {(*numbers)[0], (*numbers)[1]};
}

unsigned parse_threads(std::string_view text) {
  auto const threads = parse_number(text, std::numeric_limits<uint32_t>::max());
  if (!threads || *threads == 0 || *threads > max_jobs) {
    throw usage_error_t("--threads '" + std::string(text) + "' is not a number of threads from 1 to " +
                        std::to_string(max_jobs));
  }
  return static_cast<unsigned>(*threads);
}

unsigned parse_jobs(std::string_view text) {
  auto const jobs = parse_number(text, std::numeric_limits<uint32_t>::max());
  if (!jobs) throw usage_error_t("--jobs '" + std::string(text) + "' is not a number of chains");
  if (*jobs == 0) throw usage_error_t("--jobs 0: at least one chain must run");
  if (*jobs > max_jobs) {
    throw usage_error_t("--jobs " + std::string(text) + " is above " + std::to_string(max_jobs) +
                        " chains at once");
  }
  return static_cast<unsigned>(*jobs);
}

// Players lay a thumbnail track on an even grid of time from the video's
// first picture: a choice of pictures that does not fit it is refused.
void check_thumbnail_tracks(const tool_options_t& options) {
  if (options.dash_into && !options.dash) {
    throw usage_error_t("--dash-into VIDEO.mpd is copied, with the thumbnail track added, to the file of "
                        "--dash FILE.mpd; give --dash as well");
  }
  if (options.hls_into && !options.hls) {
    throw usage_error_t("--hls-into MASTER.m3u8 gets a copy that lists the image playlist of --hls "
                        "FILE.m3u8; give --hls as well");
  }
  if (!options.dash && !options.hls) return;
  std::string const option = options.dash ? "--dash" : "--hls";
  if (options.raw) throw usage_error_t(option + " goes with JPEG output, not with --raw");
  if (options.batch_list) throw usage_error_t(option + " names one file and does not combine with --batch");
  if (options.start || options.end) {
    throw usage_error_t(option + " covers the whole video from its first picture, as players show it; "
                        "give no --start or --end");
  }
  if (options.every || options.count) return;
  if (options.keyframes) {
    throw usage_error_t(option + " lays the thumbnails on an even grid of time, and --keyframes alone takes "
                        "keyframes wherever they fall; give --every D (with --keyframes, the first keyframe "
                        "after each mark) or --count N as well");
  }
  throw usage_error_t(option + " lays the thumbnails on an even grid of time, which every picture fits only "
                      "at a constant frame rate; give --every D (--every 40ms takes every picture of a 25 fps "
                      "video) or --count N");
}

}  // namespace

tool_options_t parse_tool_options(int argc, const char* const* argv) {
  tool_options_t options;
  bool input_given = false;
  bool options_ended = false;

  for (int i = 1; i < argc; ++i) {
    std::string_view const argument = argv[i];
    auto value = [&]() -> std::string_view {
      if (i + 1 >= argc) throw usage_error_t(std::string(argument) + " needs a value");
      return argv[++i];
    };

    if (options_ended || argument.empty() || argument[0] != '-' || argument == "-") {
      if (input_given) {
        throw usage_error_t("only one input file can be given ('" + options.input + "' and '" +
                            std::string(argument) + "')");
      }
      options.input = std::string(argument);
      input_given = true;
    } else if (argument == "--") {
      options_ended = true;
    } else if (argument == "-h" || argument == "--help") {
      options.help = true;
    } else if (argument == "--version") {
      options.version = true;
    } else if (argument == "-o" || argument == "--output") {
      options.output_dir = std::string(value());
      options.output_dir_given = true;
      if (options.output_dir.empty()) throw usage_error_t("-o needs a folder name");
    } else if (argument == "--size") {
      options.size = parse_size(value());
    } else if (argument == "--rect") {
      options.rect = parse_rect(value());
    } else if (argument == "--fit") {
      options.fit = true;
    } else if (argument == "--no-autorotate") {
      options.autorotate = false;
    } else if (argument == "--quality") {
      options.quality = parse_quality(value());
    } else if (argument == "--raw") {
      options.raw = std::string(value());
      if (options.raw->empty()) throw usage_error_t("--raw needs a file name, or - for standard output");
    } else if (argument == "--log-level") {
      options.log_level = parse_log_level(value());
    } else if (argument == "--plugins") {
      options.plugins_dir = std::string(value());
    } else if (argument == "--batch") {
      options.batch_list = std::string(value());
      if (options.batch_list->empty())
        throw usage_error_t("--batch needs a list file, or - for standard input");
    } else if (argument == "--jobs") {
      options.jobs = parse_jobs(value());
    } else if (argument == "--threads") {
      options.threads = parse_threads(value());
    } else if (argument == "--every") {
      options.every = parse_time(argument, value());
      if (*options.every == 0) throw usage_error_t("--every 0: the interval must be above 0");
    } else if (argument == "--count") {
      options.count = parse_count(value());
    } else if (argument == "--keyframes") {
      options.keyframes = true;
    } else if (argument == "--start") {
      options.start = parse_time(argument, value());
    } else if (argument == "--end") {
      options.end = parse_time(argument, value());
    } else if (argument == "--keep-flat") {
      options.keep_flat = true;
    } else if (argument == "--vtt") {
      options.vtt = non_empty(argument, value());
    } else if (argument == "--mp4") {
      options.mp4 = non_empty(argument, value());
    } else if (argument == "--dash") {
      options.dash = non_empty(argument, value());
    } else if (argument == "--dash-into") {
      options.dash_into = non_empty(argument, value());
    } else if (argument == "--hls") {
      options.hls = non_empty(argument, value());
    } else if (argument == "--hls-into") {
      options.hls_into = non_empty(argument, value());
    } else if (argument == "--sprite") {
      options.sprite = parse_sprite(value());
    } else if (argument == "--overwrite") {
      options.overwrite = true;
    } else {
      throw usage_error_t("unknown option '" + std::string(argument) + "'");
    }
  }
  if (options.help || options.version) return options;
  if (input_given && options.input.empty()) throw usage_error_t("the input file name is empty");
  if (options.batch_list) {
    if (input_given) {
      throw usage_error_t("--batch reads the input files from " + *options.batch_list +
                          "; give no INPUT ('" + options.input + "') as well");
    }
    // Every input has a folder of its own; one raw stream cannot hold them.
    if (options.raw)
      throw usage_error_t("--raw writes one file and does not combine with --batch; "
                          "batch mode writes JPEG folders under -o DIR");
    if (options.threads)
      throw usage_error_t("--threads is for one input; --batch runs --jobs inputs at once");
  } else if (options.jobs) {
    throw usage_error_t("--jobs sets how many inputs of --batch LIST run at once; give --batch");
  }

  if (options.every && options.count)
    throw usage_error_t("--every and --count both set the marks; give only one of them");
  if (options.start && options.end && *options.end <= *options.start) {
    throw usage_error_t("--end " + time_text(*options.end) + " is not after --start " +
                        time_text(*options.start));
  }
  if (options.size && (options.size->width == 0 || options.size->height == 0) &&
      (options.rect || options.fit)) {
    throw usage_error_t(std::string(options.fit ? "--fit" : "--rect") +
                        " needs both sides of --size; one side alone already keeps the aspect ratio");
  }
  if (options.rect && options.fit)
    throw usage_error_t("--rect and --fit both place the picture; give only one of them");
  if ((options.rect || options.fit) && !options.size)
    throw usage_error_t(std::string(options.fit ? "--fit" : "--rect") +
                        " places the picture inside --size WxH; give --size as well");
  if (options.rect) {
    stages::picture_rect_t const& rect = *options.rect;
    if (uint64_t{rect.x} + rect.width > options.size->width ||
        uint64_t{rect.y} + rect.height > options.size->height) {
      throw usage_error_t("--rect " + std::to_string(rect.x) + "," + std::to_string(rect.y) + "," +
                          std::to_string(rect.width) + "," + std::to_string(rect.height) +
                          " lies outside the " + std::to_string(options.size->width) + "x" +
                          std::to_string(options.size->height) + " frame of --size");
    }
  }
  if (options.raw && options.quality)
    throw usage_error_t("--quality sets the JPEG quality and has no effect with --raw");
  if (options.raw && (options.vtt || options.mp4 || options.sprite))
    throw usage_error_t(std::string(options.vtt ? "--vtt" : options.mp4 ? "--mp4" : "--sprite") +
                        " goes with JPEG output, not with --raw");
  if (options.sprite && (!options.size || options.size->width == 0 || options.size->height == 0))
    throw usage_error_t("--sprite needs the tile size: give --size WxH as well");
  if (options.batch_list && (options.vtt || options.mp4))
    throw usage_error_t(std::string(options.vtt ? "--vtt" : "--mp4") +
                        " names one file and does not combine with --batch");
  check_thumbnail_tracks(options);
  if (options.raw && options.output_dir_given)
    throw usage_error_t("-o names the JPEG folder and has no effect with --raw");
  return options;
}

std::string tool_help_text() {
  return R"(Usage: vantor-transcode [INPUT] [options]
       vantor-transcode --batch LIST [--jobs N] [-o DIR] [options]

Decodes the H.264 or HEVC video of INPUT (MP4, MOV, MKV, ...) and writes every
picture as a JPEG file, or all pictures as raw planes. The decoder, the resize
filter and the JPEG encoder are loaded from the plug-in modules.
Containers: MP4, MOV, fragmented MP4 segments, Matroska, MPEG-TS, FLV and raw
H.264/HEVC streams.

  INPUT               media file to read
                      (default: the bundled sample clip h264_high_bframes.mp4)
  -o, --output DIR    folder for the JPEG files DIR/000001.jpg, DIR/000002.jpg, ...;
                      created if missing (default: out). A folder that holds
                      pictures of an earlier run (NNNNNN.jpg, sheet-NNNN.jpg) is
                      refused, so that old and new pictures never mix; give
                      --overwrite to remove them first
  --overwrite         replace the pictures of an earlier run in DIR, and an
                      existing --vtt or --mp4 file
  --size WxH          scale every picture to W x H pixels; both even. One side
                      alone (320x or x180) sets that side, and the other follows
                      the display aspect ratio, rounded to even
                      (default: keep the decoded size)
  --rect X,Y,W,H      with --size: scale the picture to W x H and place it at X,Y in a
                      black frame of --size; all even, inside the frame
                      (default: the picture fills the frame)
  --fit               with --size: the largest centred rectangle that keeps the
                      picture's display aspect ratio (letterbox or pillarbox)
                      (default: off, the picture is stretched to --size)
  --no-autorotate     keep the pictures as they are stored. By default pictures
                      are turned upright as the file's display matrix says
                      (phone videos are often stored sideways): rotated by 90,
                      180 or 270 degrees and mirrored; --size, --fit and the
                      aspect ratio then apply to the upright picture
  --every DURATION    one picture per interval: for each mark start, start+D,
                      ... the first picture at or after it. DURATION: 10s, 2.5s,
                      500ms, 1m, or plain seconds
  --count N           N pictures spread evenly over the range, at the marks
                      (i + 0.5) * length / N; --count 1 is a poster from the
                      middle
  --keyframes         only keyframes: alone, every keyframe; with --every or
                      --count, each mark takes the first keyframe at or after it
  --start T, --end T  the time range to take pictures from (end exclusive), in
                      the same units or as hh:mm:ss.mmm, counted from the
                      video's first picture, as in ffmpeg (default: the whole
                      video). Only what the chosen pictures need is decoded:
                      MP4, MOV and Matroska files are sought by their index
  --keep-flat         with --every or --count, take the picture at the mark
                      even when it is nearly one colour. By default such a
                      picture (a black fade, a plain title card: its luma spread
                      between the 1st and 99th percentile is at most 16 of 255
                      levels) gives way to the next one before the next mark
  --sprite CxR        put the pictures on sprite sheets of C columns by R rows of
                      --size WxH tiles, in reading order: DIR/sheet-0001.jpg, ...;
                      the last sheet's unused tiles are black
  --vtt FILE          also write a WebVTT index for players' scrub bars: one cue
                      per picture, from its time until the next picture's,
                      pointing at its JPEG by a path relative to FILE (with
                      --sprite at its tile, #xywh=x,y,w,h)
  --mp4 FILE          also write the JPEGs as the MJPEG video track of an MP4 file,
                      with each picture's time and duration
  --dash FILE.mpd     also write the sheets (with --sprite; else one picture per
                      segment) as a DASH-IF thumbnail track: an image adaptation
                      set in a minimal MPD, for packagers that merge adaptation
                      sets. Players lay the tiles on an even grid of time from
                      the video's first picture: give --every or --count (not
                      --start, --end or --keyframes alone)
  --dash-into VIDEO.mpd
                      with --dash: FILE.mpd becomes a copy of VIDEO.mpd (from
                      ffmpeg's dash muxer, say) with the image adaptation set in
                      its period; in another folder it gets a BaseURL, so the
                      video's relative URLs still resolve
  --hls FILE.m3u8     also write the sheets as an HLS image playlist
                      (#EXT-X-IMAGES-ONLY, #EXT-X-TILES before every sheet), on
                      the grid of --dash
  --hls-into MASTER.m3u8
                      with --hls: also write MASTER-thumbs.m3u8 beside
                      MASTER.m3u8, a copy of it with an #EXT-X-IMAGE-STREAM-INF
                      line for FILE.m3u8. Every manifest is refused when it
                      exists, unless --overwrite
  --quality N         JPEG quality from 0 (smallest files) to 100 (best pictures)
                      (default: the JPEG module's own, 30)
  --raw FILE          write the decoded (and scaled) pictures' planes back to back to
                      FILE instead of JPEG files; - writes to standard output.
                      8-bit video gives yuv420p, 10-bit video yuv420p10le
                      (default: off, JPEG files are written)
  --log-level N       detail of the components' log on standard error: 0 errors,
                      1 warnings, 2 configuration, 3 every packet and picture,
                      4 also every sample read from the file (default: 1)
  --plugins DIR       folder of the plug-in modules (default: ../plugins next to
                      the executable)
  --batch LIST        convert every file LIST names, one path per line (blank
                      lines are skipped; - reads the list from standard input),
                      each into the folder DIR/NAME of -o DIR, NAME being the
                      input's file name; a NAME met again in the list gets ~2, ~3,
                      ... (a/x.mp4 and b/x.mp4 go to DIR/x.mp4 and DIR/x.mp4~2).
                      Not with INPUT, nor with --raw (one file cannot hold the
                      pictures of several inputs)
  --jobs N            with --batch: convert N inputs at once, each on its own
                      thread (default: the number of cores)
  --threads N         without --batch: decode one input on N threads at once.
                      A job that wants every picture of an MP4 or MOV with
                      --size has its stream cut at keyframes into parts, each
                      decoded, scaled and encoded on its own thread (the
                      pictures are the same); other jobs decode on one
                      thread, beside scaling and encoding. 1 runs decoding
                      as one stream; each part needs a decoder's memory
                      (default: the number of cores, at most 4)
  --version           show the version and the FFmpeg libraries in use
  -h, --help          show this text

Progress is shown on standard error while it is a terminal; a summary line
follows at the end. Every file is written under a temporary name and renamed
when complete, so no file is left cut short. Ctrl-C stops at the next picture,
finishes the files (JPEGs, sheet, VTT, MP4) with the pictures so far, prints
the summary and exits with 130. Exit status: 0 done, 1 the input or the output
failed (the JPEG files written before the failure are kept), 2 bad arguments,
130 interrupted.

Batch mode writes one JSON line per input to standard output as soon as the
input is done, so in the order the inputs finish, not in list order ("line" is
the input's line in LIST):
  {"path":"a/x.mp4","line":1,"output":"out/x.mp4","status":0,"pictures":75,"seconds":0.052,"message":null}
A failed input has status 1 and its cause in "message"; the other inputs go on.
Progress is off; a summary line follows on standard error. Exit status: 0 all
inputs done, 1 any input failed, 2 bad arguments or an unreadable LIST.

To spread a list over several machines, run one vantor-transcode per input
with GNU parallel (docs/batch.md has the details), e.g.
  parallel vantor-transcode {} -o out/{/} :::: LIST
  parallel --sshlogin 2/host1,2/host2 --workdir ... --transferfile {} \
    --return out/{/} --cleanup vantor-transcode {} -o out/{/} :::: LIST

Examples:
  vantor-transcode                                   thumbnails of the sample clip in out/
  vantor-transcode movie.mp4 -o thumbs --size 640x360 --fit --quality 75
  vantor-transcode movie.mp4 --size 640x480 --rect 0,60,640,360 -o letterboxed
  vantor-transcode movie.mp4 --raw - | ffplay -f rawvideo -pixel_format yuv420p -video_size 320x240 -
  vantor-transcode movie.mp4 --size 640x360 --raw - | ffmpeg -f rawvideo -pixel_format yuv420p -video_size 640x360 -framerate 25 -i - out.mkv
  find videos -name '*.mp4' | vantor-transcode --batch - --jobs 4 -o thumbs --size 320x180 --fit
)";
}

}  // namespace vantor::tools
