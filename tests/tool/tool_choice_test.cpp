#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/md5.hpp"
#include "support/paths.hpp"
#include "support/tool_runner.hpp"
#include "time_value.hpp"
#include "tool_options.hpp"

// Chosen pictures against ffmpeg's own decode of the clip: its framemd5 lists
// every picture's time and checksum, so the expected picks follow from it.
namespace {

namespace fs = std::filesystem;

struct reference_picture_t {
  int64_t pts = 0;  // in the listed time base
  std::string md5;
};

// The pictures of a framemd5 file, and its time base denominator.
std::vector<reference_picture_t> read_framemd5(const std::string& path, int64_t& timescale) {
  std::ifstream input(path);
  std::vector<reference_picture_t> pictures;
  for (std::string line; std::getline(input, line);) {
    if (line.rfind("#tb 0: 1/", 0) == 0) timescale = std::stoll(line.substr(9));
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string stream, dts, pts, duration, size, md5;
    std::getline(fields, stream, ',');
    std::getline(fields, dts, ',');
    std::getline(fields, pts, ',');
    std::getline(fields, duration, ',');
    std::getline(fields, size, ',');
    fields >> md5;
    pictures.push_back({std::stoll(pts), md5});
  }
  return pictures;
}

// The md5 of each `frame_bytes` piece of a raw file.
std::vector<std::string> raw_picture_md5s(const fs::path& path, size_t frame_bytes) {
  std::string const bytes = vantor::testing::read_file(path);
  std::vector<std::string> md5s;
  for (size_t at = 0; at + frame_bytes <= bytes.size(); at += frame_bytes) {
    md5s.push_back(vantor::testing::md5_t::of(bytes.substr(at, frame_bytes)));
  }
  return md5s;
}

class tool_choice : public ::testing::Test {
 protected:
  vantor::testing::scratch_folder_t scratch_{"vantor_choice"};
  fs::path const& work_ = scratch_.path();
};

TEST_F(tool_choice, marks_pick_the_pictures_an_independent_decode_places_there) {
  int64_t timescale = 0;
  std::vector<reference_picture_t> const reference =
      read_framemd5(vantor::testing::clip_path("h264_high_bframes.framemd5"), timescale);
  ASSERT_EQ(reference.size(), 75u);
  ASSERT_EQ(timescale, 12800);
  int64_t const length_us = 3'000'000;  // 75 pictures at 25 fps

  // The first picture at or after each mark, each picture once.
  auto const expected = [&](const std::vector<int64_t>& marks_us) {
    std::vector<std::string> md5s;
    size_t next = 0;
    for (int64_t const mark : marks_us) {
      while (next < reference.size() && reference[next].pts * 1'000'000 < mark * timescale) ++next;
      if (next < reference.size()) md5s.push_back(reference[next++].md5);
    }
    return md5s;
  };
  std::vector<int64_t> every_700ms;
  for (int64_t mark = 0; mark < length_us; mark += 700'000) every_700ms.push_back(mark);
  std::vector<int64_t> count_4;
  for (int64_t i = 0; i < 4; ++i) count_4.push_back((2 * i + 1) * length_us / 8);
  std::vector<int64_t> ranged;
  for (int64_t mark = 1'010'000; mark < 2'000'000; mark += 250'000) ranged.push_back(mark);

  struct case_t {
    std::vector<std::string> arguments;
    std::vector<std::string> md5s;
  };
  std::vector<case_t> const cases{
      {{"--every", "700ms"}, expected(every_700ms)},
      {{"--count", "4"}, expected(count_4)},
      {{"--every", "0.25", "--start", "00:00:01.010", "--end", "2s"}, expected(ranged)},
  };
  for (const case_t& c : cases) {
    std::vector<std::string> arguments{vantor::testing::clip_path("h264_high_bframes.mp4"), "--raw", "raw.yuv"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    SCOPED_TRACE(c.arguments[0] + " " + c.arguments[1]);
    auto const result = vantor::testing::run_tool_in(work_, arguments);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(raw_picture_md5s(work_ / "raw.yuv", 320 * 240 * 3 / 2), c.md5s);
  }
}

TEST_F(tool_choice, one_side_of_size_follows_the_aspect_ratio_and_bad_values_are_refused) {
  auto const result = vantor::testing::run_tool_in(
      work_, {vantor::testing::clip_path("h264_high_bframes.mp4"), "--count", "1", "--size", "x180", "--raw", "p.yuv"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(fs::file_size(work_ / "p.yuv"), 240u * 180 * 3 / 2);  // 4:3

  auto const beyond = vantor::testing::run_tool_in(
      work_, {vantor::testing::clip_path("h264_high_bframes.mp4"), "--start", "5s", "-o", "x"});
  EXPECT_EQ(beyond.status, 1);
  EXPECT_NE(beyond.err.find("--start 0:00:05.000 lies beyond the end of the video (0:00:03.000)"),
            std::string::npos)
      << beyond.err;

  for (std::vector<std::string> const& bad :
       {std::vector<std::string>{"--every", "0"}, {"--count", "0"}, {"--start", "2", "--end", "1"},
        {"--every", "ten"}, {"--every", "1s", "--count", "3"}, {"--size", "x181"},
        {"--size", "320x", "--fit"}}) {
    auto const refused = vantor::testing::run_tool_in(work_, bad);
    EXPECT_EQ(refused.status, 2) << bad[0] << " " << bad[1] << ": " << refused.err;
  }
}

TEST(time_value, units_clock_times_and_nonsense) {
  using vantor::tools::parse_time_value;
  struct case_t {
    const char* text;
    std::optional<int64_t> microseconds;
  };
  for (const case_t& c : std::vector<case_t>{{"10s", 10'000'000},
                                             {"2.5s", 2'500'000},
                                             {"500ms", 500'000},
                                             {"1m", 60'000'000},
                                             {"1.5h", 5'400'000'000},
                                             {"7", 7'000'000},
                                             {".25", 250'000},
                                             {"0.0000019", 1},
                                             {"01:02:03.5", 3'723'500'000},
                                             {"2:30", 150'000'000},
                                             {"00:00:00.001", 1'000},
                                             {"", std::nullopt},
                                             {"s", std::nullopt},
                                             {"-1s", std::nullopt},
                                             {"1:60", std::nullopt},
                                             {"1:2:3:4", std::nullopt},
                                             {"1.5:00", std::nullopt},
                                             {"10 s", std::nullopt},
                                             {"99999999999999999999", std::nullopt}}) {
    EXPECT_EQ(parse_time_value(c.text), c.microseconds) << c.text;
  }
  EXPECT_EQ(vantor::tools::time_text(3'723'500'000), "1:02:03.500");
}

}  // namespace
