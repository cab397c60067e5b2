#include <gtest/gtest.h>

#include <string>

extern "C" {
#include <libavutil/display.h>
}

#include "sources/display_orientation.hpp"
#include "sources/file_sample_source.hpp"
#include "support/paths.hpp"

namespace {

using vantor::orientation_t;
using vantor::sources::orientation_of_display_matrix;

std::string text_of(orientation_t orientation) {
  return std::to_string(orientation.rotation) + (orientation.mirror ? " mirrored" : "");
}

// FFmpeg's own matrix makers: a clockwise turn, then flips of the shown
// picture (ffmpeg turns pictures clockwise by the angle); a left-right flip
// of the shown picture is our mirror.
TEST(display_orientation, reads_rotations_and_flips_of_ffmpeg_matrices) {
  struct case_t {
    double clockwise;
    bool hflip, vflip;
    orientation_t expected;
  };
  case_t const cases[] = {
      {0, false, false, {0, false}},
      {90, false, false, {90, false}},
      {-90, false, false, {270, false}},
      {180, false, false, {180, false}},
      {-180, false, false, {180, false}},
      {-270, false, false, {90, false}},
      {0, true, false, {0, true}},
      {90, true, false, {90, true}},
      {-90, true, false, {270, true}},
      {180, true, false, {180, true}},
      // A top-bottom flip is a half turn and a mirror.
      {0, false, true, {180, true}},
      {90, false, true, {270, true}},
      {0, true, true, {180, false}},
      {90, true, true, {270, false}},
      // Other angles go to the nearest quarter turn.
      {44, false, false, {0, false}},
      {46, false, false, {90, false}},
      {100, false, false, {90, false}},
      {350, false, false, {0, false}},
      {185, true, false, {180, true}},
  };
  for (case_t const& c : cases) {
    int32_t matrix[9];
    av_display_rotation_set(matrix, c.clockwise);
    av_display_matrix_flip(matrix, c.hflip, c.vflip);
    SCOPED_TRACE(std::to_string(c.clockwise) + (c.hflip ? " hflip" : "") +
                 (c.vflip ? " vflip" : ""));
    EXPECT_EQ(text_of(vantor::sources::orientation_of_display_matrix(matrix)), text_of(c.expected));
  }
  // A scaled matrix turns the same; one that flattens the picture does not turn it.
  int32_t scaled[9];
  av_display_rotation_set(scaled, 90);
  for (int i : {0, 1, 3, 4}) scaled[i] *= 2;
  EXPECT_EQ(text_of(vantor::sources::orientation_of_display_matrix(scaled)), "90");
  int32_t const flat[9] = {0x10000, 0x10000, 0, 0x10000, 0x10000, 0, 0, 0, 1 << 30};
  EXPECT_EQ(text_of(vantor::sources::orientation_of_display_matrix(flat)), "0");
}

// The corpus clips were tagged with Debian's ffmpeg and checked with ffprobe
// (tests/data/corpus/make_rotation.sh); the mirror is patched into tkhd.
TEST(display_orientation, the_file_source_reads_it_into_the_track) {
  struct case_t {
    const char* file;
    const char* expected;
  };
  for (case_t const c :
       {case_t{"rotation_h264_cw90.mp4", "90"}, case_t{"rotation_h264_cw180.mp4", "180"},
        case_t{"rotation_hevc10_cw270.mp4", "270"},
        case_t{"rotation_h264_cw90_mirror.mp4", "90 mirrored"},
        case_t{"h264_high_bframes.mp4", "0"}}) {
    std::string const dir = std::string(c.file).rfind("rotation_", 0) == 0 ? "corpus/" : "";
    auto const source =
        vantor::sources::file_sample_source_t::open(vantor::testing::clip_path(dir + c.file));
    EXPECT_EQ(text_of(source->trak().orientation), c.expected) << c.file;
  }
}

}  // namespace
