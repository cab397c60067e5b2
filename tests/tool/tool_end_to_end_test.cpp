#include <gtest/gtest.h>
#include <sys/wait.h>
#include <turbojpeg.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "plugins/plugin_test_support.hpp"
#include "support/clip_table.hpp"
#include "support/md5.hpp"
#include "support/tool_runner.hpp"

namespace {

namespace fs = std::filesystem;

using run_result_t = vantor::testing::tool_result_t;
using vantor::testing::read_file;

std::string quoted(const std::string& text) { return vantor::testing::shell_quoted(text); }

class tool_end_to_end : public ::testing::Test {
 protected:
  static std::string tool_command() { return vantor::testing::tool_command(); }

  // Runs the tool in the work folder with stdout and stderr in files, and
  // `input` on stdin.
  run_result_t run(const std::vector<std::string>& arguments, const std::string& input = "") {
    std::string command = tool_command();
    for (const std::string& argument : arguments) command += " " + quoted(argument);
    std::ofstream(work_ / "stdin.txt", std::ios::binary) << input;
    return run_shell(command + " <stdin.txt");
  }

  // Runs a shell command in the work folder with stdout and stderr in files.
  run_result_t run_shell(const std::string& command) { return vantor::testing::run_shell_in(work_, command); }

  std::vector<fs::path> jpegs(const std::string& folder) {
    std::vector<fs::path> files;
    if (!fs::is_directory(work_ / folder)) return files;
    for (const auto& entry : fs::directory_iterator(work_ / folder)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
  }

  vantor::testing::scratch_folder_t scratch_{"vantor_tool"};
  fs::path const& work_ = scratch_.path();
};

struct jpeg_info_t {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> luma;  // decoded grey picture
};

// Decodes with libjpeg-turbo, independent of the encoder under test.
jpeg_info_t decode_jpeg(const fs::path& path) {
  std::string const bytes = read_file(path);
  jpeg_info_t info;
  tjhandle const handle = tjInitDecompress();
  int subsampling = 0, colorspace = 0;
  auto* const data = reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data()));
  if (tjDecompressHeader3(handle, data, bytes.size(), &info.width, &info.height, &subsampling,
                          &colorspace) == 0) {
    info.luma.resize(size_t(info.width) * info.height);
    if (tjDecompress2(handle, data, bytes.size(), info.luma.data(), info.width, 0, info.height,
                      TJPF_GRAY, 0) != 0) {
      info.luma.clear();
    }
  }
  tjDestroy(handle);
  return info;
}

std::string clip(const std::string& name) { return vantor::testing::clip_path(name); }

std::string md5_of_file(const fs::path& path) {
  std::string const bytes = read_file(path);
  vantor::testing::md5_t md5;
  md5.update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return md5.hex();
}

TEST_F(tool_end_to_end, default_run_converts_the_bundled_clip_into_out) {
  run_result_t const result = run({});
  ASSERT_EQ(result.status, 0) << result.err;
  std::vector<fs::path> const files = jpegs("out");
  ASSERT_EQ(files.size(), 75u) << result.err;
  EXPECT_EQ(files.front().filename(), "000001.jpg");
  EXPECT_EQ(files.back().filename(), "000075.jpg");
  for (const fs::path& file : files) {
    jpeg_info_t const info = decode_jpeg(file);
    EXPECT_EQ(info.width, 320) << file;
    EXPECT_EQ(info.height, 240) << file;
    EXPECT_FALSE(info.luma.empty()) << file << " does not decode";
  }
  EXPECT_TRUE(result.out.empty()) << "standard output is for data: " << result.out;
  EXPECT_EQ(result.err.rfind("vantor-transcode: 75 pictures in ", 0), 0u) << result.err;
  EXPECT_NE(result.err.find("out/000075.jpg"), std::string::npos) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1)
      << "progress on a non-terminal: " << result.err;
}

TEST_F(tool_end_to_end, raw_output_matches_the_reference_decoder) {
  for (const char* name : {"h264_high_bframes.mp4", "h264_mkv.mkv", "hevc_main_bframes.mp4",
                           "hevc_main10.mp4", "h264_fullrange.mp4", "h264_size_change.mp4"}) {
    run_result_t const result = run({clip(name), "--raw", "frames.yuv"});
    ASSERT_EQ(result.status, 0) << name << ": " << result.err;
    EXPECT_EQ(md5_of_file(work_ / "frames.yuv"), vantor::testing::find_clip(name).raw_md5)
        << name;
  }
}

TEST_F(tool_end_to_end, raw_to_standard_output_keeps_the_summary_off_it) {
  run_result_t const result = run({clip("h264_mkv.mkv"), "--raw", "-"});
  ASSERT_EQ(result.status, 0) << result.err;
  vantor::testing::md5_t md5;
  md5.update(reinterpret_cast<const uint8_t*>(result.out.data()), result.out.size());
  EXPECT_EQ(md5.hex(), vantor::testing::find_clip("h264_mkv.mkv").raw_md5);
  EXPECT_NE(result.err.find("50 pictures"), std::string::npos) << result.err;
}

// Level 4 adds one line per sample read from the file; the samples it
// shows are the ones ffprobe counted, with their durations and sync flags.
TEST_F(tool_end_to_end, log_level_four_traces_every_sample_level_three_none) {
  std::string const name = "h264_high_bframes.mp4";
  vantor::testing::clip_t const reference = vantor::testing::find_clip(name);
  run_result_t const debug = run({clip(name), "--raw", "frames.yuv", "--log-level", "3"});
  ASSERT_EQ(debug.status, 0) << debug.err;
  EXPECT_EQ(debug.err.find("vantor-transcode: sample "), std::string::npos);

  run_result_t const trace = run({clip(name), "--raw", "frames.yuv", "--log-level", "4"});
  ASSERT_EQ(trace.status, 0) << trace.err;
  size_t samples = 0, sync = 0;
  uint64_t duration = 0;
  std::istringstream lines(trace.err);
  for (std::string line; std::getline(lines, line);) {
    size_t const at = line.find("vantor-transcode: sample ");
    if (at == std::string::npos) continue;
    EXPECT_NE(line.find("vantor-transcode: sample " + std::to_string(samples) + ": dts "),
              std::string::npos) << line;
    size_t const duration_at = line.find(", duration ");
    ASSERT_NE(duration_at, std::string::npos) << line;
    duration += std::stoull(line.substr(duration_at + 11));
    sync += line.find(", sync") != std::string::npos;
    ++samples;
  }
  EXPECT_EQ(samples, reference.frames);
  EXPECT_EQ(duration, reference.duration_ticks);
  EXPECT_EQ(std::to_string(sync), reference.notes.at("sync_samples"));
}

TEST_F(tool_end_to_end, size_scales_every_jpeg) {
  run_result_t const result = run({clip("hevc_main_bframes.mp4"), "-o", "small/sub", "--size", "160x90"});
  ASSERT_EQ(result.status, 0) << result.err;
  std::vector<fs::path> const files = jpegs("small/sub");
  ASSERT_EQ(files.size(), 50u);
  jpeg_info_t const info = decode_jpeg(files[10]);
  EXPECT_EQ(info.width, 160);
  EXPECT_EQ(info.height, 90);
}

struct box_t {
  uint32_t x0, y0, x1, y1;  // inclusive-exclusive
  bool operator==(const box_t& o) const {
    return x0 == o.x0 && y0 == o.y0 && x1 == o.x1 && y1 == o.y1;
  }
};

// The bounding box of the luma samples that are not black (16) in the first
// picture of a raw yuv420p file of `width` x `height` pictures.
box_t picture_box(const fs::path& raw, uint32_t width, uint32_t height) {
  std::string const bytes = read_file(raw);
  box_t box{width, height, 0, 0};
  if (bytes.size() < size_t(width) * height * 3 / 2) return box;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      if (static_cast<uint8_t>(bytes[size_t(y) * width + x]) == 16) continue;
      box.x0 = std::min(box.x0, x);
      box.y0 = std::min(box.y0, y);
      box.x1 = std::max(box.x1, x + 1);
      box.y1 = std::max(box.y1, y + 1);
    }
  }
  return box;
}

TEST_F(tool_end_to_end, fit_letterboxes_wide_video_in_a_narrow_frame) {
  run_result_t const result = run({clip("h264_mkv.mkv"), "--size", "320x240", "--fit", "--raw", "f.yuv"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(fs::file_size(work_ / "f.yuv"), 50u * 320 * 240 * 3 / 2);
  EXPECT_EQ(picture_box(work_ / "f.yuv", 320, 240), (box_t{0, 30, 320, 210}));
}

TEST_F(tool_end_to_end, fit_pillarboxes_narrow_video_in_a_wide_frame) {
  run_result_t const result =
      run({clip("h264_high_bframes.mp4"), "--size", "640x360", "--fit", "--raw", "f.yuv"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(picture_box(work_ / "f.yuv", 640, 360), (box_t{80, 0, 560, 360}));
}

TEST_F(tool_end_to_end, fit_jpegs_have_the_frame_size_and_black_bars) {
  run_result_t const result = run({clip("h264_mkv.mkv"), "--size", "320x240", "--fit", "-o", "fit"});
  ASSERT_EQ(result.status, 0) << result.err;
  std::vector<fs::path> const files = jpegs("fit");
  ASSERT_EQ(files.size(), 50u);
  jpeg_info_t const info = decode_jpeg(files[0]);
  ASSERT_EQ(info.width, 320);
  ASSERT_EQ(info.height, 240);
  ASSERT_EQ(info.luma.size(), 320u * 240);
  // Rows 0-23 and 216-239 are whole 8x8 blocks of bar (the bars end at 30
  // and 210), untouched by ringing from the picture.
  int bright_in_picture = 0;
  int lit_bar_samples = 0;
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 320; ++x) {
      uint8_t const luma = info.luma[size_t(y) * 320 + x];
      if ((y < 24 || y >= 216) && luma > 4) ++lit_bar_samples;
      if (y >= 30 && y < 210 && luma > 64) ++bright_in_picture;
    }
  }
  EXPECT_EQ(lit_bar_samples, 0);
  EXPECT_GT(bright_in_picture, 320 * 180 / 4) << "the picture area is mostly dark";
}

TEST_F(tool_end_to_end, rect_places_the_picture_exactly) {
  run_result_t const result =
      run({clip("h264_mkv.mkv"), "--size", "320x240", "--rect", "40,20,160,90", "--raw", "r.yuv"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(picture_box(work_ / "r.yuv", 320, 240), (box_t{40, 20, 200, 110}));
}

TEST_F(tool_end_to_end, higher_quality_makes_larger_files) {
  auto total_size = [&](const char* quality, const char* folder) {
    run_result_t const result = run({clip("h264_mkv.mkv"), "--quality", quality, "-o", folder});
    EXPECT_EQ(result.status, 0) << result.err;
    uintmax_t total = 0;
    for (const fs::path& file : jpegs(folder)) total += fs::file_size(file);
    return total;
  };
  uintmax_t const low = total_size("5", "low");
  uintmax_t const high = total_size("95", "high");
  EXPECT_GT(high, low * 2) << "--quality does not reach the encoder";
}

TEST_F(tool_end_to_end, help_lists_options_and_exits_zero) {
  run_result_t const result = run({"--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("Usage: vantor-transcode"), std::string::npos);
  EXPECT_NE(result.out.find("--plugins DIR"), std::string::npos);
  EXPECT_FALSE(fs::exists(work_ / "out")) << "--help must not convert anything";
}

// One line on stderr, "vantor-transcode: <file>: ..." containing `cause`.
void expect_input_error(const run_result_t& result, const std::string& file, const std::string& cause) {
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(result.err.rfind("vantor-transcode: " + file + ": ", 0), 0u) << result.err;
  EXPECT_NE(result.err.find(cause), std::string::npos) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
}

TEST_F(tool_end_to_end, bad_inputs_exit_one_naming_file_and_cause) {
  expect_input_error(run({clip("README.md")}), clip("README.md"), "cannot open");
  expect_input_error(run({"missing.mp4"}), "missing.mp4", "No such file");
  expect_input_error(run({clip("hevc_422.mp4")}), clip("hevc_422.mp4"),
                     "unsupported pixel format yuv422p");

  // A JPEG picture is a video to libavformat's image demuxer, which no
  // upload may reach.
  ASSERT_EQ(run({clip("h264_mkv.mkv"), "-o", "j"}).status, 0);
  std::string const picture = (work_ / "j" / "000001.jpg").string();
  expect_input_error(run({picture, "-o", "k"}), picture, "cannot open the file");

  std::string const bytes = read_file(clip("h264_high_bframes.mp4"));
  std::string const truncated = (work_ / "truncated.mp4").string();
  std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  run_result_t const result = run({truncated, "-o", "t"});
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_EQ(result.err.rfind("vantor-transcode: " + truncated + ": ", 0), 0u) << result.err;
}

TEST_F(tool_end_to_end, corrupted_data_never_crashes) {
  std::string bytes = read_file(clip("h264_high_bframes.mp4"));
  for (size_t i = bytes.size() / 4; i < bytes.size() * 3 / 4; i += 7) bytes[i] = char(bytes[i] ^ 0x5a);
  std::string const corrupted = (work_ / "corrupted.mp4").string();
  std::ofstream(corrupted, std::ios::binary) << bytes;
  run_result_t const result = run({corrupted, "-o", "c"});
  ASSERT_TRUE(result.status == 0 || result.status == 1) << result.status << " " << result.err;
  if (result.status == 1) {
    EXPECT_EQ(result.err.rfind("vantor-transcode: " + corrupted + ": ", 0), 0u) << result.err;
  }
}

TEST_F(tool_end_to_end, size_change_stops_jpegs_with_a_hint_and_keeps_those_written) {
  run_result_t const result = run({clip("h264_size_change.mp4"), "-o", "sc"});
  expect_input_error(result, clip("h264_size_change.mp4"), "from 320x240 to 176x144 at picture 26");
  EXPECT_NE(result.err.find("--size"), std::string::npos);
  EXPECT_EQ(jpegs("sc").size(), 25u);

  run_result_t const scaled = run({clip("h264_size_change.mp4"), "-o", "sc2", "--size", "176x144"});
  EXPECT_EQ(scaled.status, 0) << scaled.err;
  EXPECT_EQ(jpegs("sc2").size(), 50u);
}

TEST_F(tool_end_to_end, bad_arguments_exit_two_with_a_hint) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--size", "0x240"}, {"--size", "321x240"}, {"--size", "320by240"},
        {"--size", "320x240", "--rect", "0,0,322,240"}, {"--quality", "101"}, {"--frobnicate"}}) {
    run_result_t const result = run(arguments);
    EXPECT_EQ(result.status, 2) << arguments[0] << " " << result.err;
    EXPECT_NE(result.err.find("Try 'vantor-transcode --help'"), std::string::npos) << result.err;
  }
  EXPECT_FALSE(fs::exists(work_ / "out")) << "bad arguments must not start a conversion";
}

TEST_F(tool_end_to_end, missing_plugins_are_reported) {
  run_result_t const result = run({"--plugins", (work_ / "nowhere").string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("cannot load plug-in module"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("--plugins"), std::string::npos) << result.err;
}

TEST_F(tool_end_to_end, version_names_the_project_and_the_ffmpeg_libraries) {
  run_result_t const result = run({"--version"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out.rfind("vantor-transcode " VANTOR_EXPECTED_VERSION " (FFmpeg ", 0), 0u)
      << result.out;
  // The versions pkg-config gave CMake: the libraries are looked up, not guessed.
  for (const char* library : {"libavcodec " VANTOR_EXPECTED_LIBAVCODEC ",",
                              "libavutil " VANTOR_EXPECTED_LIBAVUTIL ",",
                              "libswscale " VANTOR_EXPECTED_LIBSWSCALE ")\n"}) {
    EXPECT_NE(result.out.find(library), std::string::npos) << library << " in " << result.out;
  }
  EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1) << result.out;
  EXPECT_TRUE(result.err.empty()) << result.err;
  EXPECT_FALSE(fs::exists(work_ / "out")) << "--version must not convert anything";

  // Without the modules, the version still shows, and stderr says what is missing.
  run_result_t const bare = run({"--version", "--plugins", (work_ / "nowhere").string()});
  EXPECT_EQ(bare.status, 0);
  EXPECT_EQ(bare.out.rfind("vantor-transcode " VANTOR_EXPECTED_VERSION, 0), 0u) << bare.out;
  EXPECT_NE(bare.err.find("cannot load plug-in module"), std::string::npos) << bare.err;
}

// One flat JSON object, as batch mode writes one per line: keys to values,
// strings unescaped, numbers and null as written. Empty when the text is not
// such an object (or has a \u escape, which none of the names here needs).
std::map<std::string, std::string> parse_json_object(const std::string& text) {
  std::map<std::string, std::string> object;
  size_t at = 0;
  auto const string_at = [&](std::string& value) {
    if (at >= text.size() || text[at] != '"') return false;
    for (++at; at < text.size() && text[at] != '"'; ++at) {
      unsigned char const c = static_cast<unsigned char>(text[at]);
      if (c < 0x20) return false;
      if (c != '\\') {
        value += text[at];
        continue;
      }
      if (++at >= text.size()) return false;
      switch (text[at]) {
        case '"': case '\\': case '/': value += text[at]; break;
        case 'b': value += '\b'; break;
        case 'f': value += '\f'; break;
        case 'n': value += '\n'; break;
        case 'r': value += '\r'; break;
        case 't': value += '\t'; break;
        default: return false;
      }
    }
    return at++ < text.size();
  };
  if (text.empty() || text[at++] != '{') return {};
  while (true) {
    std::string key, value;
    if (!string_at(key) || at >= text.size() || text[at++] != ':') return {};
    if (text[at] == '"') {
      if (!string_at(value)) return {};
    } else {
      size_t const end = text.find_first_of(",}", at);
      if (end == std::string::npos) return {};
      value = text.substr(at, end - at);
      at = end;
    }
    if (!object.emplace(key, value).second) return {};
    if (at >= text.size()) return {};
    char const next = text[at++];
    if (next == '}') return at == text.size() ? object : std::map<std::string, std::string>{};
    if (next != ',') return {};
  }
}

// The JSON lines of a batch run by "path"; each must parse and name a path once.
std::map<std::string, std::map<std::string, std::string>> batch_lines(const run_result_t& result) {
  std::map<std::string, std::map<std::string, std::string>> lines;
  std::istringstream stream(result.out);
  for (std::string line; std::getline(stream, line);) {
    std::map<std::string, std::string> object = parse_json_object(line);
    EXPECT_FALSE(object.empty()) << "not a JSON object: " << line;
    std::string const path = object["path"];
    EXPECT_TRUE(lines.emplace(path, std::move(object)).second) << "two lines for " << path;
  }
  return lines;
}

// Good and bad inputs together: every good one is converted completely, each
// bad one gets its own line with the cause, and the run ends with status 1.
TEST_F(tool_end_to_end, batch_converts_the_good_inputs_and_reports_the_bad_ones) {
  fs::create_directories(work_ / "copy");
  fs::copy_file(clip("h264_mkv.mkv"), work_ / "copy" / "h264_mkv.mkv");
  // A name JSON must escape, with a quote, a backslash and a tab in it.
  std::string const odd_name = "odd \"name\"\\\t.mp4";
  fs::copy_file(clip("hevc_main_bframes.mp4"), work_ / odd_name);
  std::ofstream(work_ / "notes.txt") << "not a video\n";
  struct expected_t {
    std::string path;
    std::string output;        // folder under -o
    std::string clip_or_cause; // a clip of clips.tsv, or the cause of the failure
    bool good;
  };
  std::vector<expected_t> const expected = {
      {clip("h264_high_bframes.mp4"), "thumbs/h264_high_bframes.mp4", "h264_high_bframes.mp4", true},
      {"missing.mp4", "thumbs/missing.mp4", "No such file or directory", false},
      {clip("h264_mkv.mkv"), "thumbs/h264_mkv.mkv", "h264_mkv.mkv", true},
      {"notes.txt", "thumbs/notes.txt", "Invalid data", false},
      {"copy/h264_mkv.mkv", "thumbs/h264_mkv.mkv~2", "h264_mkv.mkv", true},
      {odd_name, "thumbs/" + odd_name, "hevc_main_bframes.mp4", true},
      {clip("hevc_main10.mp4"), "thumbs/hevc_main10.mp4", "hevc_main10.mp4", true},
  };
  std::string list;
  for (const expected_t& input : expected) list += input.path + "\n";
  std::ofstream(work_ / "list.txt") << list;

  run_result_t const result = run({"--batch", "list.txt", "--jobs", "2", "-o", "thumbs"});
  EXPECT_EQ(result.status, 1) << result.err;
  EXPECT_NE(result.err.find("7 inputs, 2 failed"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("(2 at once)"), std::string::npos) << result.err;
  auto lines = batch_lines(result);
  EXPECT_EQ(lines.size(), expected.size()) << result.out;
  for (size_t i = 0; i < expected.size(); ++i) {
    const expected_t& input = expected[i];
    std::map<std::string, std::string>& line = lines[input.path];
    SCOPED_TRACE(input.path + " -> " + result.out);
    EXPECT_EQ(line["line"], std::to_string(i + 1));
    EXPECT_EQ(line["output"], input.output);
    if (input.good) {
      std::string const frames = std::to_string(vantor::testing::find_clip(input.clip_or_cause).frames);
      EXPECT_EQ(line["status"], "0");
      EXPECT_EQ(line["pictures"], frames);
      EXPECT_EQ(line["message"], "null");
      EXPECT_EQ(std::to_string(jpegs(input.output).size()), frames);
    } else {
      EXPECT_EQ(line["status"], "1");
      EXPECT_EQ(line["pictures"], "0");
      EXPECT_NE(line["message"].find(input.clip_or_cause), std::string::npos);
      EXPECT_EQ(line["message"].find(input.path + ":"), std::string::npos) << "the path is its own field";
    }
    EXPECT_GE(std::stod(line["seconds"]), 0.0);
  }
}

TEST_F(tool_end_to_end, batch_reads_the_list_from_standard_input) {
  std::string const list = "\n" + clip("h264_fullrange.mp4") + "\r\n  \n" + clip("hevc_main10.mp4");
  run_result_t const result = run({"--batch", "-", "-o", "in", "--size", "64x48"}, list);
  ASSERT_EQ(result.status, 0) << result.err;
  auto lines = batch_lines(result);
  ASSERT_EQ(lines.size(), 2u) << result.out;
  EXPECT_EQ(lines[clip("h264_fullrange.mp4")]["line"], "2");
  EXPECT_EQ(lines[clip("hevc_main10.mp4")]["line"], "4");
  for (const char* name : {"h264_fullrange.mp4", "hevc_main10.mp4"}) {
    std::vector<fs::path> const files = jpegs(std::string("in/") + name);
    ASSERT_EQ(files.size(), vantor::testing::find_clip(name).frames) << name;
    EXPECT_EQ(decode_jpeg(files.back()).width, 64) << "the other options apply to every input";
  }
}

TEST_F(tool_end_to_end, batch_bad_arguments_exit_two_before_converting) {
  std::ofstream(work_ / "list.txt") << clip("h264_mkv.mkv") << "\n";
  struct case_t {
    std::vector<std::string> arguments;
    std::string says;
  };
  for (const case_t& bad : std::vector<case_t>{
           {{"--batch", "list.txt", "--jobs", "0"}, "--jobs 0"},
           {{"--batch", "list.txt", clip("h264_mkv.mkv")}, "give no INPUT"},
           {{"--batch", "absent.txt"}, "--batch absent.txt: cannot read the list: No such file"},
           {{"--batch", "list.txt", "--raw", "all.yuv"}, "--raw"},
           {{clip("h264_mkv.mkv"), "--jobs", "2"}, "give --batch"}}) {
    run_result_t const result = run(bad.arguments);
    EXPECT_EQ(result.status, 2) << bad.says << ": " << result.err;
    EXPECT_NE(result.err.find(bad.says), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("Try 'vantor-transcode --help'"), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
  }
  EXPECT_FALSE(fs::exists(work_ / "out")) << "bad arguments must not start a conversion";
  EXPECT_FALSE(fs::exists(work_ / "all.yuv"));
}

// The scale-out form of the help and docs/batch.md, run locally: one tool
// per input under GNU parallel (which scripts/setup.sh installs).
TEST_F(tool_end_to_end, gnu_parallel_runs_one_tool_per_input) {
  ASSERT_EQ(run_shell("command -v parallel").status, 0)
      << "GNU parallel is not installed: run scripts/setup.sh (Debian package 'parallel')";
  std::vector<std::string> const names = {"h264_high_bframes.mp4", "hevc_main_bframes.mp4",
                                          "h264_mkv.mkv"};
  // -q keeps every word of the command as it is, blanks in paths included.
  std::string command = "parallel --will-cite --halt never -q -j2 " + tool_command() +
                        " {} -o " + quoted((work_ / "par").string()) + "/{/.} :::";
  for (const std::string& name : names) command += " " + quoted(clip(name));
  run_result_t const result = run_shell(command);
  ASSERT_EQ(result.status, 0) << result.err;
  for (const std::string& name : names) {
    std::string const stem = fs::path(name).stem().string();
    EXPECT_EQ(jpegs("par/" + stem).size(), vantor::testing::find_clip(name).frames) << name;
    EXPECT_NE(result.err.find("-> " + (work_ / "par" / stem / "000001.jpg").string()),
              std::string::npos)
        << result.err;
  }
}

}  // namespace
