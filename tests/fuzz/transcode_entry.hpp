#pragma once

// Fuzz entry: the tool's whole run over arbitrary container bytes, as a
// thumbnailing service runs it on an upload:
//
//   vantor-transcode UPLOAD --every 1s --size 64x --max-pixels <service>
//                    --timeout 3s -o DIR
//   vantor-transcode UPLOAD --threads 2 --size 64x64 --max-pixels <service>
//                    --timeout 3s -o DIR
//
// The two runs share the 10 s an input may take; each stops at the first
// sample after its 3 s, and finishes the pictures already in flight. Under
// ASan a picture of a crafted aspect ratio (64x32640 of a 512x256 video)
// takes a second or more, so the every-picture run, which exercises the
// parts and not the sizing, has a size of both sides.
//
// The bytes are the whole file (a memfd opened by path); the components
// come from the plug-in modules next to the executable, as the tool loads
// them. Whatever the bytes, the run ends in a summary or an input_error_t,
// and the folder then holds exactly the pictures it reports, each a whole
// JPEG of the asked width.

#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "fuzz/file_source_entry.hpp"
#include "fuzz/fuzz_support.hpp"
#include "fuzz/service_limits.hpp"
#include "log_context.hpp"
#include "memory_ceiling.hpp"
#include "plugin_set.hpp"
#include "tool_locations.hpp"
#include "tool_options.hpp"
#include "transcode_job.hpp"

namespace vantor::fuzz {

inline constexpr uint32_t transcode_width = 64;

namespace detail {

struct jpeg_size_t {
  uint32_t width = 0;
  uint32_t height = 0;
};

// The frame size of a baseline or progressive JPEG; none when the bytes do
// not start with SOI, end with EOI and reach a SOF marker in between.
inline std::optional<jpeg_size_t> jpeg_size(const std::vector<uint8_t>& bytes) {
  size_t const n = bytes.size();
  if (n < 4 || bytes[0] != 0xff || bytes[1] != 0xd8 || bytes[n - 2] != 0xff || bytes[n - 1] != 0xd9) {
    return std::nullopt;
  }
  size_t at = 2;
  while (at + 4 <= n && bytes[at] == 0xff) {
    uint8_t const marker = bytes[at + 1];
    size_t const length = size_t{bytes[at + 2]} << 8 | bytes[at + 3];
    bool const sof = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
    if (sof) {
      if (at + 9 > n) return std::nullopt;
      return jpeg_size_t{uint32_t{bytes[at + 7]} << 8 | bytes[at + 8], uint32_t{bytes[at + 5]} << 8 | bytes[at + 6]};
    }
    if (length < 2) return std::nullopt;
    at += 2 + length;
  }
  return std::nullopt;
}

inline std::vector<uint8_t> file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The folder holds 000001.jpg ... the `written`th and nothing else (no file
// under a temporary name), each a complete JPEG `transcode_width` wide.
inline void check_pictures(const std::filesystem::path& folder, uint64_t written) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  require(names.size() == written, "the folder holds " + std::to_string(names.size()) + " files, the run reports " +
                                       std::to_string(written) + " pictures");
  for (size_t i = 0; i < names.size(); ++i) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "%06zu.jpg", i + 1);
    require(names[i] == expected, "an unexpected file " + names[i] + " in the output folder");
    std::optional<jpeg_size_t> const size = jpeg_size(file_bytes(folder / names[i]));
    require(size.has_value(), names[i] + " is not a whole JPEG");
    require(size->width == transcode_width && size->height >= 2 && size->height % 2 == 0,
            names[i] + " is " + std::to_string(size->width) + "x" + std::to_string(size->height));
  }
}

// What every input shares: the input file, the output folder, the loaded
// modules and the parsed command line.
class transcode_fixture_t {
 public:
  transcode_fixture_t() : modules_(tools::default_plugins_folder()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantor-fuzz-XXXXXX").string();
    require(mkdtemp(pattern.data()) != nullptr, "mkdtemp failed");
    folder_ = pattern;
    input_ = file_.write(nullptr, 0);
    std::string const max_pixels = service_max_pixels_text();
    std::string const width = std::to_string(transcode_width) + "x";
    std::string const folder = folder_.string();
    // Pictures chosen (seeks, fresh decoders), then every picture in parts
    // decoded at once from one shared file.
    const char* const choosing[] = {"vantor-transcode", input_.c_str(), "--every",   "1s",
                                    "--size",           width.c_str(),  "--max-pixels", max_pixels.c_str(),
                                    "--timeout",        "3s",           "-o",        folder.c_str()};
    std::string const square = width + std::to_string(transcode_width);
    const char* const every[] = {"vantor-transcode", input_.c_str(), "--threads", "2",
                                 "--size",           square.c_str(),  "--max-pixels", max_pixels.c_str(),
                                 "--timeout",        "3s",           "-o",        folder.c_str()};
    options_ = {tools::parse_tool_options(static_cast<int>(std::size(choosing)), choosing),
                 tools::parse_tool_options(static_cast<int>(std::size(every)), every)};
    // As main() does before anything is opened.
    tools::bound_libav_allocations(options_[0]);
    // Loaded once, up front, so that their coverage is known from the start.
    (void)modules_.avc_decoder();
    (void)modules_.hvc_decoder();
    (void)modules_.resize_filter();
    (void)modules_.jpeg_encoder();
  }
  ~transcode_fixture_t() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  transcode_fixture_t(const transcode_fixture_t&) = delete;
  transcode_fixture_t& operator=(const transcode_fixture_t&) = delete;

  void run(const uint8_t* data, size_t size) {
    require(file_.write(data, size) == input_, "the input moved");
    for (const tools::tool_options_t& options : options_) run_job(options);
  }

  const std::filesystem::path& folder() const noexcept { return folder_; }

 private:
  void run_job(const tools::tool_options_t& options) {
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) std::filesystem::remove_all(entry.path());
    tools::transcode_job_t job;
    job.input = input_;
    job.options = options;
    job.decode_threads = options.threads.value_or(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    // Every line is composed, then dropped.
    size_t logged = 0;
    log_context_t log(options.log_level, [&logged](vantor_log_level_t, std::string_view text) {
      logged += text.size();
    });
    uint64_t written = 0;
    try {
      tools::transcode_summary_t const summary = tools::run_transcode(job, log, modules_, &written);
      require(summary.pictures == written, "the summary counts " + std::to_string(summary.pictures) +
                                               " pictures, the files " + std::to_string(written));
      require(!summary.interrupted, "interrupted without a Ctrl-C");
    } catch (const tools::input_error_t&) {
      // What a damaged or refused upload is meant to get.
    }
    check_pictures(folder_, written);
  }

  memory_file_t file_;
  std::filesystem::path folder_;
  std::string input_;
  std::array<tools::tool_options_t, 2> options_;
  tools::plugin_set_t modules_;
};

}  // namespace detail

inline detail::transcode_fixture_t& transcode_fixture() {
  static detail::transcode_fixture_t fixture;
  return fixture;
}

inline void fuzz_transcode(const uint8_t* data, size_t size) { transcode_fixture().run(data, size); }

}  // namespace vantor::fuzz
