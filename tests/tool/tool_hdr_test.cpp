#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/jpeg_decode.hpp"
#include "support/oklab.hpp"
#include "support/tool_runner.hpp"

// HDR video through the real tool, judged as a viewer sees the JPEGs: the
// flat patches of tests/data/corpus/hdr_*.mp4, whose display light
// hdr_patches.txt gives, decoded by libjpeg-turbo to sRGB and measured for
// brightness, neutrality and Oklab hue.
namespace {

namespace fs = std::filesystem;
using vantor::testing::read_file;
using vantor::testing::hue_error;
using vantor::testing::oklab;
using vantor::testing::rgb_picture_t;

std::string corpus(const std::string& name) { return std::string(VANTOR_TEST_DATA_DIR) + "/corpus/" + name; }

struct patch_t {
  std::string name;
  std::array<double, 3> bt2020;  // display light, nits
  bool neutral() const { return bt2020[0] == bt2020[1] && bt2020[1] == bt2020[2]; }
};

std::vector<patch_t> read_patches() {
  std::istringstream in(read_file(corpus("hdr_patches.txt")));
  std::vector<patch_t> patches;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string index, name;
    std::getline(fields, index, '\t');
    std::getline(fields, name, '\t');
    patch_t patch{name, {}};
    for (double& c : patch.bt2020) fields >> c;
    patches.push_back(patch);
  }
  return patches;
}

// The mean sRGB values of the middle half of each 8 x 4 patch, in the
// order of the table; `turned` for pictures shown a quarter turn clockwise.
std::vector<std::array<double, 3>> measure(const rgb_picture_t& picture, bool turned) {
  int const columns = turned ? 4 : 8;
  int const side = picture.width / columns;
  std::vector<std::array<double, 3>> means;
  for (int patch = 0; patch < 32; ++patch) {
    int const row = patch / 8, column = patch % 8;
    int const x0 = (turned ? 3 - row : column) * side, y0 = (turned ? column : row) * side;
    std::array<double, 3> sum{};
    int count = 0;
    for (int y = y0 + side / 4; y < y0 + 3 * side / 4; ++y)
      for (int x = x0 + side / 4; x < x0 + 3 * side / 4; ++x, ++count)
        for (int k = 0; k < 3; ++k) sum[k] += picture.rgb[(size_t(y) * picture.width + x) * 3 + k];
    for (double& c : sum) c /= count;
    means.push_back(sum);
  }
  return means;
}

// What an SDR rendering of the patches must look like; every failure names
// the patch and the clip. Returns the neutral values by name.
std::map<std::string, double> expect_sdr_rendering(const std::vector<std::array<double, 3>>& measured,
                                                   const std::string& what) {
  SCOPED_TRACE(what);
  std::vector<patch_t> const patches = read_patches();
  EXPECT_EQ(patches.size(), measured.size());
  std::map<std::string, double> grey;
  std::vector<std::pair<double, double>> ladder;  // nits, value
  for (size_t i = 0; i < patches.size() && i < measured.size(); ++i) {
    const patch_t& patch = patches[i];
    const std::array<double, 3>& v = measured[i];
    if (patch.neutral()) {
      double const spread = *std::max_element(v.begin(), v.end()) - *std::min_element(v.begin(), v.end());
      EXPECT_LE(spread, 4) << patch.name;
      grey[patch.name] = (v[0] + v[1] + v[2]) / 3;
      ladder.emplace_back(patch.bt2020[0], grey[patch.name]);
      continue;
    }
    vantor::testing::lch_t const source = oklab(vantor::testing::bt709_of_bt2020(patch.bt2020));
    vantor::testing::lch_t const shown = vantor::testing::oklab_of_srgb(v[0], v[1], v[2]);
    double const limit = patch.name == "orange" ? 8 : patch.name.rfind("bt2020", 0) == 0 ? 12 : 6;
    if (patch.name == "skin" || patch.name == "bt709 red" || patch.name == "orange" ||
        patch.name == "bt2020 red" || patch.name == "bt2020 green") {
      EXPECT_LE(hue_error(shown.h, source.h), limit) << patch.name << ": hue " << shown.h << " for " << source.h;
    }
    if (patch.name == "orange") {
      EXPECT_GE(shown.c / shown.l, 0.55 * source.c / source.l) << "orange keeps too little of its colour";
    }
  }
  EXPECT_LE(measured.at(0)[0] + measured.at(0)[1] + measured.at(0)[2], 3 * 4) << "black";
  EXPECT_GE(grey["grey 26"], 80);
  EXPECT_LE(grey["grey 26"], 110);
  EXPECT_GE(grey["grey 203"], 185);
  EXPECT_LE(grey["grey 203"], 230);
  EXPECT_GE(grey["grey 1000"], 240);
  EXPECT_GE(grey["grey 1000"], grey["grey 203"] + 20);
  EXPECT_GE(grey["grey 1000"], grey["grey 500"] + 5);
  std::sort(ladder.begin(), ladder.end());
  for (size_t i = 1; i < ladder.size(); ++i) {
    EXPECT_GT(ladder[i].second, ladder[i - 1].second) << ladder[i].first << " nits against " << ladder[i - 1].first;
  }
  return grey;
}

std::vector<uint8_t> bytes_of(const fs::path& path) {
  std::string const text = read_file(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

// The first JPEG stored in a file (an MP4's MJPEG track): from its SOI to
// its EOI, which entropy-coded data cannot hold.
std::vector<uint8_t> first_jpeg_in(const fs::path& path) {
  std::vector<uint8_t> const bytes = bytes_of(path);
  static const uint8_t soi[] = {0xFF, 0xD8, 0xFF}, eoi[] = {0xFF, 0xD9};
  auto const start = std::search(bytes.begin(), bytes.end(), std::begin(soi), std::end(soi));
  auto const end = std::search(start, bytes.end(), std::begin(eoi), std::end(eoi));
  if (end == bytes.end()) return {};
  return std::vector<uint8_t>(start, end + 2);
}

class tool_hdr : public ::testing::Test {
 protected:
  vantor::testing::tool_result_t run(std::vector<std::string> arguments) {
    return vantor::testing::run_tool_in(scratch_.path(), arguments);
  }
  // The first picture of a clip as a JPEG of the tool at quality 95.
  std::vector<std::array<double, 3>> first_picture(const std::string& clip, bool turned = false) {
    fs::path const folder = scratch_.path() / clip;
    auto const result = run({corpus(clip), "--count", "1", "--quality", "95", "-o", folder.string()});
    EXPECT_EQ(result.status, 0) << result.err;
    return measure(vantor::testing::decode_jpeg_rgb(bytes_of(folder / "000001.jpg")), turned);
  }

  vantor::testing::scratch_folder_t scratch_{"vantor_hdr"};
};

TEST_F(tool_hdr, pq_and_hlg_pictures_come_out_as_sdr_with_their_hues) {
  std::map<std::string, std::map<std::string, double>> greys;
  std::map<std::string, std::vector<std::array<double, 3>>> all;
  for (const char* clip : {"hdr_pq.mp4", "hdr_pq_bare.mp4", "hdr_pq_4000.mp4", "hdr_hlg.mp4", "hdr_hlg_atc.mp4",
                           "hdr_hlg_cw90.mp4", "hdr_dv84.mp4"}) {
    all[clip] = first_picture(clip, std::string(clip) == "hdr_hlg_cw90.mp4");
    greys[clip] = expect_sdr_rendering(all[clip], clip);
  }
  // The same scene in PQ and in HLG looks the same; HLG by the SEI is HLG
  // by the VUI; PQ without metadata is PQ mastered at the 1000 nits its
  // pictures reach; turning the picture changes none of it.
  for (const auto& [name, value] : greys["hdr_pq.mp4"]) {
    EXPECT_NEAR(greys["hdr_hlg.mp4"][name], value, 6) << name;
  }
  EXPECT_EQ(all["hdr_hlg_atc.mp4"], all["hdr_hlg.mp4"]);
  EXPECT_EQ(all["hdr_hlg_cw90.mp4"], all["hdr_hlg.mp4"]);
  EXPECT_EQ(all["hdr_pq_bare.mp4"], all["hdr_pq.mp4"]);
}

TEST_F(tool_hdr, sprite_sheets_and_the_mp4_track_are_mapped_too) {
  std::map<std::string, std::vector<std::array<double, 3>>> tiles;
  for (std::string const clip : {"hdr_pq.mp4", "hdr_pq_bare.mp4", "hdr_pq_4000.mp4", "hdr_hlg.mp4",
                                 "hdr_hlg_atc.mp4", "hdr_hlg_cw90.mp4"}) {
    bool const turned = clip == "hdr_hlg_cw90.mp4";
    int const width = turned ? 128 : 256, height = turned ? 256 : 128;
    fs::path const folder = scratch_.path() / clip;
    std::vector<std::string> const job{corpus(clip), "--every", "0.2s", "--size",
                                       std::to_string(width) + "x" + std::to_string(height), "--quality", "95",
                                       "--log-level", "2"};
    std::vector<std::string> with_sheets = job, with_track = job;
    with_sheets.insert(with_sheets.end(), {"--sprite", "2x1", "-o", (folder / "sheets").string()});
    with_track.insert(with_track.end(), {"-o", (folder / "files").string(), "--mp4", (folder / "track.mp4").string()});
    auto const result = run(with_sheets);
    ASSERT_EQ(result.status, 0) << result.err;
    ASSERT_EQ(run(with_track).status, 0);
    // Two pictures, a little apart, side by side on one sheet.
    rgb_picture_t const sheet = vantor::testing::decode_jpeg_rgb(bytes_of(folder / "sheets/sheet-0001.jpg"));
    ASSERT_EQ(sheet.width, 2 * width);
    for (int tile = 0; tile < 2; ++tile) {
      rgb_picture_t one{width, height, {}};
      for (int y = 0; y < height; ++y) {
        auto const row = sheet.rgb.begin() + (size_t(y) * sheet.width + tile * width) * 3;
        one.rgb.insert(one.rgb.end(), row, row + width * 3);
      }
      tiles[clip + " tile " + std::to_string(tile)] = measure(one, turned);
      expect_sdr_rendering(tiles[clip + " tile " + std::to_string(tile)], clip + " sheet tile " + std::to_string(tile));
    }
    std::vector<uint8_t> const sample = first_jpeg_in(folder / "track.mp4");
    expect_sdr_rendering(measure(vantor::testing::decode_jpeg_rgb(sample), turned), clip + " MP4 track");
    EXPECT_EQ(sample, bytes_of(folder / "files/000001.jpg")) << "the track holds the picture files' JPEGs";
    if (clip == "hdr_pq_4000.mp4") {
      // The log says what was mapped, with which peak and why that one.
      EXPECT_NE(result.err.find("colour: mapping PQ with BT.2020 primaries to SDR BT.709, peak 100"), std::string::npos)
          << result.err;
      EXPECT_NE(result.err.find(" nits from the picture (metadata: mastering display 4000 nits MaxCLL 4000 nits)"),
                std::string::npos)
          << result.err;
    }
  }
  EXPECT_EQ(tiles["hdr_pq_bare.mp4 tile 0"], tiles["hdr_pq.mp4 tile 0"]);
  EXPECT_EQ(tiles["hdr_hlg_atc.mp4 tile 0"], tiles["hdr_hlg.mp4 tile 0"]);
  // Scaled upright, the turned clip's chroma lines up a little otherwise.
  for (size_t i = 0; i < tiles["hdr_hlg.mp4 tile 1"].size(); ++i) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(tiles["hdr_hlg_cw90.mp4 tile 1"][i][k], tiles["hdr_hlg.mp4 tile 1"][i][k], 2) << "patch " << i;
    }
  }
}

TEST_F(tool_hdr, tonemap_off_keeps_the_decoded_values_and_raw_planes_are_mapped_only_when_asked) {
  std::string const clip = corpus("hdr_pq.mp4");
  ASSERT_EQ(run({clip, "--count", "1", "--quality", "95", "--tonemap", "off", "-o", "off"}).status, 0);
  auto const off = measure(vantor::testing::decode_jpeg_rgb(bytes_of(scratch_.path() / "off/000001.jpg")), false);
  EXPECT_LT(off[8][1], 170) << "PQ's reference white read as SDR is a dull grey";

  // Luma at the middle of patch `index` of a raw picture, 8 or 10 bits.
  auto const raw_luma = [](const std::string& bytes, int index, bool ten_bit) {
    size_t const at = size_t(index / 8 * 64 + 32) * 512 + index % 8 * 64 + 32;
    return ten_bit ? uint8_t(bytes[2 * at]) | uint8_t(bytes[2 * at + 1]) << 8 : int(uint8_t(bytes[at]));
  };
  auto const kept = run({clip, "--count", "1", "--raw", "kept.yuv"});
  ASSERT_EQ(kept.status, 0) << kept.err;
  EXPECT_NE(kept.err.find("yuv420p10le)"), std::string::npos) << kept.err;
  std::string const kept_bytes = read_file(scratch_.path() / "kept.yuv");
  EXPECT_EQ(kept_bytes.size(), 512u * 256 * 3);
  EXPECT_NEAR(raw_luma(kept_bytes, 8, true), 64 + 876 * 0.58, 4) << "203 nits in PQ";
  auto const mapped = run({clip, "--count", "1", "--raw", "mapped.yuv", "--tonemap", "auto"});
  ASSERT_EQ(mapped.status, 0) << mapped.err;
  EXPECT_NE(mapped.err.find(" yuv420p)"), std::string::npos) << mapped.err;
  std::string const mapped_bytes = read_file(scratch_.path() / "mapped.yuv");
  EXPECT_EQ(mapped_bytes.size(), 512u * 256 * 3 / 2);
  EXPECT_NEAR(raw_luma(mapped_bytes, 8, false), 16 + 219 * 0.75, 4) << "reference white near 75 %";

  auto const wrong = run({clip, "--tonemap", "maybe"});
  EXPECT_EQ(wrong.status, 2);
  EXPECT_NE(wrong.err.find("--tonemap 'maybe' is neither auto nor off"), std::string::npos) << wrong.err;
}

TEST_F(tool_hdr, dolby_vision_without_a_compatible_base_layer_is_refused) {
  auto const result = run({corpus("hdr_dv5.mp4"), "-o", "dv5"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("Dolby Vision profile 5"), std::string::npos) << result.err;
  EXPECT_FALSE(fs::exists(scratch_.path() / "dv5/000001.jpg"));
}

}  // namespace
