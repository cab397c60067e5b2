#include <gtest/gtest.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/paths.hpp"
#include "tool_options.hpp"

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The clips stored 320x240 and shown turned a quarter turn (240x320).
std::string corpus_clip(const std::string& name) {
  return vantor::testing::clip_path("corpus/" + name);
}

class tool_rotation : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = fs::path(::testing::TempDir()) /
            ("vantor_rotation_" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
             std::to_string(getpid()));
    fs::remove_all(work_);
    fs::create_directories(work_);
  }
  void TearDown() override { fs::remove_all(work_); }

  // The tool's exit status; its standard error is kept in `err_`.
  int run(const std::vector<std::string>& arguments) {
    const char* wrapper = std::getenv("VANTOR_TEST_EMULATOR");
    if (wrapper == nullptr) wrapper = VANTOR_TEST_EMULATOR;
    std::string command = "cd '" + work_.string() + "' && " +
                          (*wrapper ? std::string(wrapper) + " " : std::string()) +
                          vantor::testing::build_path("bin/vantor-transcode");
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    int const status = std::system((command + " >stdout.txt 2>stderr.txt").c_str());
    err_ = read_file(work_ / "stderr.txt");
    out_ = read_file(work_ / "stdout.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  fs::path work_;
  std::string err_, out_;
};

struct box_t {
  uint32_t x0, y0, x1, y1;
  bool operator==(const box_t& o) const {
    return x0 == o.x0 && y0 == o.y0 && x1 == o.x1 && y1 == o.y1;
  }
};

std::ostream& operator<<(std::ostream& out, const box_t& b) {
  return out << b.x0 << "," << b.y0 << " - " << b.x1 << "," << b.y1;
}

// Where the first yuv420p picture of a raw file is not the black (16) of
// the bars.
box_t picture_box(const fs::path& raw, uint32_t width, uint32_t height) {
  std::string const bytes = read_file(raw);
  box_t box{width, height, 0, 0};
  if (bytes.size() < size_t{width} * height * 3 / 2) return box;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      if (static_cast<uint8_t>(bytes[size_t{y} * width + x]) == 16) continue;
      box = {std::min(box.x0, x), std::min(box.y0, y), std::max(box.x1, x + 1),
             std::max(box.y1, y + 1)};
    }
  }
  return box;
}

TEST_F(tool_rotation, fit_and_the_default_size_use_the_upright_picture) {
  // Upright 240x320 in a square frame is pillarboxed; as stored, letterboxed.
  ASSERT_EQ(
      run({corpus_clip("rotation_h264_cw90.mp4"), "--size", "320x320", "--fit", "--raw", "up.yuv"}),
      0)
      << err_;
  EXPECT_EQ(picture_box(work_ / "up.yuv", 320, 320), (box_t{40, 0, 280, 320}));
  // 160x240 stored of 2:1 pixels is 320x240 shown; upright, the pixels are 1:2.
  ASSERT_EQ(run({corpus_clip("rotation_h264_sar2_cw90.mp4"), "--size", "320x320", "--fit", "--raw",
                 "sar.yuv"}),
            0)
      << err_;
  EXPECT_EQ(picture_box(work_ / "sar.yuv", 320, 320), (box_t{40, 0, 280, 320}));
  ASSERT_EQ(run({corpus_clip("rotation_h264_cw90_mirror.mp4"), "--size", "320x320", "--fit",
                 "--no-autorotate", "--raw", "stored.yuv"}),
            0)
      << err_;
  EXPECT_EQ(picture_box(work_ / "stored.yuv", 320, 320), (box_t{0, 40, 320, 280}));

  ASSERT_EQ(run({corpus_clip("rotation_hevc10_cw270.mp4"), "-o", "jpegs", "--log-level", "2"}), 0)
      << err_;
  EXPECT_NE(err_.find("orientation: rotating pictures 270 degrees clockwise"), std::string::npos)
      << err_;
  std::string const jpeg = read_file(work_ / "jpegs" / "000001.jpg");
  tjhandle const handle = tjInitDecompress();
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  auto* const data = reinterpret_cast<unsigned char*>(const_cast<char*>(jpeg.data()));
  int const header =
      tjDecompressHeader3(handle, data, jpeg.size(), &width, &height, &subsampling, &colorspace);
  tjDestroy(handle);
  ASSERT_EQ(header, 0);
  EXPECT_EQ(width, 240);
  EXPECT_EQ(height, 320);
}

TEST_F(tool_rotation, help_says_pictures_turn_upright_unless_no_autorotate) {
  ASSERT_EQ(run({"--help"}), 0);
  EXPECT_NE(out_.find("--no-autorotate"), std::string::npos);
  EXPECT_NE(out_.find("By default pictures\n                      are turned upright"),
            std::string::npos)
      << out_;
  std::vector<const char*> arguments{"vantor-transcode", "in.mp4", "--no-autorotate"};
  EXPECT_TRUE(vantor::tools::parse_tool_options(2, arguments.data()).autorotate);
  EXPECT_FALSE(vantor::tools::parse_tool_options(3, arguments.data()).autorotate);
}

}  // namespace
