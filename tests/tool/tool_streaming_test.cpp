#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/tool_runner.hpp"

// What the tool refuses of --dash and --hls, before and while it decodes.
// tests/players checks the manifests it writes in shaka-player and dash.js.
namespace {

namespace fs = std::filesystem;

std::string const clip = std::string(VANTOR_TEST_DATA_DIR) + "/corpus/choice_h264_bframes.mp4";  // 12 s, 25 fps

class tool_streaming : public ::testing::Test {
 protected:
  vantor::testing::scratch_folder_t scratch_{"vantor_streaming"};
  fs::path const& work_ = scratch_.path();

  vantor::testing::tool_result_t run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), clip);
    return vantor::testing::run_tool_in(work_, arguments);
  }
};

TEST_F(tool_streaming, choices_off_an_even_grid_are_refused_naming_one_that_fits) {
  struct refusal_t {
    std::vector<std::string> arguments;
    std::string message;
  };
  for (const refusal_t& refusal : std::vector<refusal_t>{
           {{"--dash", "t.mpd", "--keyframes"},
            "--dash lays the thumbnails on an even grid of time, and --keyframes alone takes keyframes wherever "
            "they fall; give --every D (with --keyframes, the first keyframe after each mark) or --count N as "
            "well"},
           {{"--hls", "t.m3u8"},
            "--hls lays the thumbnails on an even grid of time, which every picture fits only at a constant "
            "frame rate; give --every D (--every 40ms takes every picture of a 25 fps video) or --count N"},
           {{"--dash", "t.mpd", "--every", "1s", "--end", "5s"},
            "--dash covers the whole video from its first picture, as players show it; give no --start or "
            "--end"},
           {{"--dash-into", "v.mpd", "--every", "1s"},
            "--dash-into VIDEO.mpd is copied, with the thumbnail track added, to the file of --dash FILE.mpd; "
            "give --dash as well"},
           {{"--hls", "t.m3u8", "--count", "3", "--raw", "-"}, "--hls goes with JPEG output, not with --raw"},
       }) {
    auto const result = run(refusal.arguments);
    EXPECT_EQ(result.status, 2) << refusal.message;
    EXPECT_EQ(result.err, "vantor-transcode: " + refusal.message +
                              "\nTry 'vantor-transcode --help' for more information.\n");
  }
  EXPECT_FALSE(fs::exists(work_ / "out")) << "nothing is decoded for a refused choice";
}

TEST_F(tool_streaming, pictures_off_the_grid_and_earlier_manifests_stop_the_run) {
  // Pictures every 40 ms: the one at 40 ms is taken for the mark at 20 ms,
  // and the tile from 20 to 40 ms has none of its own.
  auto const off_grid = run({"--every", "20ms", "--size", "64x36", "--dash", "t.mpd", "--hls", "t.m3u8"});
  EXPECT_EQ(off_grid.status, 1);
  EXPECT_NE(off_grid.err.find("vantor-transcode: t.mpd: players show a thumbnail track on an even grid of 0.020 "
                              "s tiles, and no picture was chosen for the tile from 0:00:00.020 to 0:00:00.040"),
            std::string::npos)
      << off_grid.err;
  EXPECT_FALSE(fs::exists(work_ / "t.mpd"));
  EXPECT_FALSE(fs::exists(work_ / "t.m3u8"));

  // A manifest of an earlier run stays unless --overwrite.
  std::vector<std::string> const job = {"--every", "4s", "--size", "64x36", "--hls", "t.m3u8", "--overwrite"};
  ASSERT_EQ(run(job).status, 0);
  auto const again = run({"--every", "4s", "-o", "other", "--hls", "t.m3u8"});
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err, "vantor-transcode: t.m3u8: exists already; give --overwrite to replace it\n");
  EXPECT_EQ(run(job).status, 0);
}

}  // namespace
