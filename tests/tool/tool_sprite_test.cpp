#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/jpeg_decode.hpp"
#include "support/picture_quality.hpp"
#include "support/tool_runner.hpp"

// Sprite sheets and their WebVTT index as a player's scrub bar uses them:
// read the cues, crop each tile from its sheet, and compare it with the
// picture an independent decoder (Debian's ffmpeg) gives at the cue's time.
namespace {

namespace fs = std::filesystem;

struct cue_t {
  uint64_t start_ms = 0;
  uint64_t end_ms = 0;
  std::string file;
  int x = 0, y = 0, w = 0, h = 0;
};

uint64_t parse_ms(const std::string& text) {
  unsigned h = 0, m = 0, s = 0, ms = 0;
  EXPECT_EQ(std::sscanf(text.c_str(), "%2u:%2u:%2u.%3u", &h, &m, &s, &ms), 4) << text;
  EXPECT_EQ(text.size(), 12u) << text;
  return ((h * 60ull + m) * 60 + s) * 1000 + ms;
}

// The cues of a WebVTT file; fails the test on anything a browser would not take.
std::vector<cue_t> read_vtt(const fs::path& path) {
  std::istringstream in(vantor::testing::read_file(path));
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "WEBVTT");
  std::vector<cue_t> cues;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    cue_t cue;
    auto const arrow = line.find(" --> ");
    EXPECT_NE(arrow, std::string::npos) << line;
    if (arrow == std::string::npos) break;
    cue.start_ms = parse_ms(line.substr(0, arrow));
    cue.end_ms = parse_ms(line.substr(arrow + 5));
    std::getline(in, line);
    auto const hash = line.find("#xywh=");
    cue.file = line.substr(0, hash);
    if (hash != std::string::npos) {
      EXPECT_EQ(std::sscanf(line.c_str() + hash + 6, "%d,%d,%d,%d", &cue.x, &cue.y, &cue.w, &cue.h), 4);
    }
    cues.push_back(cue);
  }
  return cues;
}

TEST(tool_sprite, every_tile_shows_the_picture_of_its_cue) {
  vantor::testing::scratch_folder_t scratch{"vantor_sprite"};
  std::string const clip = std::string(VANTOR_TEST_DATA_DIR) + "/corpus/choice_h264_bframes.mp4";
  auto const result = vantor::testing::run_tool_in(
      scratch.path(), {clip, "--every", "2s", "--keep-flat", "--size", "128x72", "--sprite", "2x2",
                       "--quality", "75", "-o", "thumbs/sheets", "--vtt", "thumbs/index.vtt"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.err.find("6 pictures in "), std::string::npos) << result.err;  // not 2 sheets

  // Six pictures on two sheets of four; the last two tiles stay black.
  std::vector<cue_t> const cues = read_vtt(scratch.path() / "thumbs/index.vtt");
  ASSERT_EQ(cues.size(), 6u);
  std::string const reference_bytes = vantor::testing::read_file(
      std::string(VANTOR_TEST_DATA_DIR) + "/corpus/choice_every_2s_128x72.yuv");
  size_t const picture_bytes = 128 * 72 * 3 / 2;
  ASSERT_EQ(reference_bytes.size(), 6 * picture_bytes);
  for (size_t i = 0; i < cues.size(); ++i) {
    const cue_t& cue = cues[i];
    SCOPED_TRACE("cue " + std::to_string(i));
    EXPECT_EQ(cue.start_ms, 2000 * i);
    EXPECT_EQ(cue.end_ms, i + 1 < cues.size() ? cues[i + 1].start_ms : 12000u);  // the video's end
    EXPECT_EQ(cue.file, i < 4 ? "sheets/sheet-0001.jpg" : "sheets/sheet-0002.jpg");
    EXPECT_EQ(cue.x, int(i % 2) * 128);
    EXPECT_EQ(cue.y, int(i % 4 / 2) * 72);
    ASSERT_EQ(cue.w, 128);
    ASSERT_EQ(cue.h, 72);

    std::string const jpeg = vantor::testing::read_file(scratch.path() / "thumbs" / cue.file);
    vantor::testing::decoded_jpeg_t const sheet =
        vantor::testing::decode_jpeg(std::vector<uint8_t>(jpeg.begin(), jpeg.end()));
    ASSERT_EQ(sheet.width, 256);
    ASSERT_EQ(sheet.height, 144);
    std::vector<uint8_t> tile;
    for (int y = 0; y < cue.h; ++y) {
      for (int x = 0; x < cue.w; ++x) tile.push_back(sheet.y[size_t(cue.y + y) * sheet.width + cue.x + x]);
    }
    vantor::testing::planes_t reference{128, 72, {}, {}, {}};
    for (size_t k = 0; k < 128 * 72; ++k) {
      reference.y.push_back(static_cast<uint8_t>(reference_bytes[i * picture_bytes + k]));
    }
    EXPECT_GE(vantor::testing::psnr(tile, vantor::testing::to_full_range(reference, false).y), 35.0);
  }
  // The unused tiles of the last sheet: black, full-range luma 0.
  std::string const last = vantor::testing::read_file(scratch.path() / "thumbs/sheets/sheet-0002.jpg");
  vantor::testing::decoded_jpeg_t const sheet =
      vantor::testing::decode_jpeg(std::vector<uint8_t>(last.begin(), last.end()));
  unsigned brightest = 0;
  for (int y = 76; y < 144; ++y) {
    for (int x = 0; x < 256; ++x) brightest = std::max<unsigned>(brightest, sheet.y[size_t(y) * 256 + x]);
  }
  EXPECT_LE(brightest, 8u);
}

}  // namespace
