#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "stages/fit_rect.hpp"

namespace vantor::tools {

// A command line that cannot be run; main() prints it with a hint to --help
// and exits with status 2.
class usage_error_t : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// 8192x4320: every camera we know, and a bound on what a crafted header
// can make the decoder allocate.
inline constexpr uint64_t default_max_pixels = 8192ull * 4320;

// What vantor-transcode was asked to do. Empty `input` and `plugins_dir`
// mean the bundled clip and the plug-in folder next to the executable.
struct tool_options_t {
  bool help = false;
  std::string input;
  std::string output_dir = "out";
  bool output_dir_given = false;
  // One side may be 0: it then follows the display aspect ratio.
  std::optional<stages::picture_size_t> size;
  std::optional<stages::picture_rect_t> rect;
  bool fit = false;
  bool autorotate = true;  // turn pictures upright as the file's display matrix says
  std::optional<std::string> quality;  // passed to the JPEG module as given
  std::optional<std::string> raw;      // a file name, or "-" for standard output
  std::optional<bool> tonemap;         // --tonemap auto (true) or off (false); none: not given
  int log_level = 1;
  std::string plugins_dir;
  bool version = false;
  std::optional<std::string> batch_list;  // a file of input paths, or "-" for standard input
  std::optional<unsigned> jobs;           // with batch_list; none: one per core
  std::optional<unsigned> threads;        // without batch_list; none: one per core, at most 4

  // What one input may cost: time (none: no limit) and the largest picture.
  std::optional<int64_t> timeout;  // microseconds
  uint64_t max_pixels = default_max_pixels;

  // Which pictures to write; times in microseconds.
  std::optional<int64_t> every;
  std::optional<uint32_t> count;
  bool keyframes = false;
  std::optional<int64_t> start;
  std::optional<int64_t> end;
  bool keep_flat = false;

  // Where else the JPEGs go.
  std::optional<std::string> vtt;       // a WebVTT index of the pictures
  std::optional<std::string> mp4;       // the JPEG samples as an MP4 track
  std::optional<std::string> dash;       // the sheets as a DASH-IF thumbnail track (an MPD)
  std::optional<std::string> dash_into;  // the video's MPD that --dash copies, the track added
  std::optional<std::string> hls;        // the sheets as an HLS image playlist
  std::optional<std::string> hls_into;   // a master playlist whose copy lists --hls
  std::optional<std::pair<uint32_t, uint32_t>> sprite;  // columns, rows of a sheet
  bool overwrite = false;               // replace an earlier run's series and files

  bool chooses_pictures() const noexcept { return every || count || keyframes || start || end; }
};

// The most chains --jobs runs at once.
inline constexpr unsigned max_jobs = 256;

// Parses argv[1..argc) and checks everything that can be checked without
// reading the input. Throws usage_error_t.
tool_options_t parse_tool_options(int argc, const char* const* argv);

// The text of --help.
std::string tool_help_text();

}  // namespace vantor::tools
