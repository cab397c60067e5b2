#include "stages/orientation_stage.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "exception.hpp"
#include "support/capture_log.hpp"
#include "support/frames.hpp"

namespace {

using vantor::orientation_t;
using vantor::testing::planes_t;
using vantor::video::frame_t;

// Turns a plane one sample at a time: a quarter turn clockwise moves (x, y)
// of a W x H plane to (H-1-y, x), repeated; the mirror then takes x to W-1-x.
std::vector<uint16_t> turn_naively(const std::vector<uint16_t>& in, uint32_t width, uint32_t height,
                                   orientation_t orientation) {
  std::vector<uint16_t> plane = in;
  for (int turn = 0; turn < orientation.rotation / 90; ++turn) {
    std::vector<uint16_t> turned(plane.size());
    for (uint32_t y = 0; y < height; ++y)
      for (uint32_t x = 0; x < width; ++x)
        turned[size_t{x} * height + (height - 1 - y)] = plane[size_t{y} * width + x];
    plane.swap(turned);
    std::swap(width, height);
  }
  if (orientation.mirror) {
    for (uint32_t y = 0; y < height; ++y)
      std::reverse(plane.begin() + size_t{y} * width, plane.begin() + size_t{y + 1} * width);
  }
  return plane;
}

planes_t turn_naively(const planes_t& in, orientation_t orientation) {
  bool const swap = orientation.swaps_axes();
  return planes_t{swap ? in.height : in.width, swap ? in.width : in.height,
                  turn_naively(in.y, in.width, in.height, orientation),
                  turn_naively(in.u, in.width / 2, in.height / 2, orientation),
                  turn_naively(in.v, in.width / 2, in.height / 2, orientation)};
}

const orientation_t all_orientations[] = {{0, false}, {90, false}, {180, false}, {270, false},
                                          {0, true},  {90, true},  {180, true},  {270, true}};
const frame_t::format_t all_formats[] = {frame_t::format_t::nv12, frame_t::format_t::yuv420p,
                                         frame_t::format_t::yuv420p10le};

std::string name_of(orientation_t orientation, frame_t::format_t format, uint32_t width,
                    uint32_t height) {
  return vantor::stages::describe_orientation(orientation) + ", " + to_string(format) + " " +
         std::to_string(width) + "x" + std::to_string(height);
}

// Sizes with whole tiles and partial ones, in luma and in chroma (odd
// chroma widths and heights), several 64-byte blocks, and a picture smaller
// than one tile.
TEST(orientation_stage, turns_every_format_as_a_naive_turn_does) {
  struct size_t_ {
    uint32_t width, height;
  };
  for (auto const [width, height] :
       {size_t_{38, 22}, size_t_{16, 48}, size_t_{136, 72}, size_t_{2, 6}}) {
    for (frame_t::format_t const format : all_formats) {
      bool const ten_bit = vantor::testing::is_ten_bit(format);
      planes_t const first = vantor::testing::make_pattern(width, height, ten_bit, 1);
      planes_t const second = vantor::testing::make_pattern(width, height, ten_bit, 7);
      for (orientation_t const orientation : all_orientations) {
        SCOPED_TRACE(name_of(orientation, format, width, height));
        // Two pictures: the second is turned into the first one's buffer.
        vantor::testing::capture_log_t log(1);
        vantor::stages::orientation_stage_t stage(
            log.context,
            vantor::testing::play({vantor::testing::pack_frame(first, format, 0),
                                   vantor::testing::pack_frame(second, format, 40)},
                                  vantor::testing::end_frame(80)),
            orientation);
        for (planes_t const* picture : {&first, &second}) {
          frame_t const out = stage();
          planes_t const expected = turn_naively(*picture, orientation);
          ASSERT_EQ(out.width_, expected.width);
          ASSERT_EQ(out.height_, expected.height);
          ASSERT_EQ(out.data_.size(), vantor::video::frame_data_size(width, height, format));
          planes_t const got = vantor::testing::unpack_frame(out);
          EXPECT_EQ(got.y, expected.y);
          EXPECT_EQ(got.u, expected.u);
          EXPECT_EQ(got.v, expected.v);
        }
      }
    }
  }
}

TEST(orientation_stage, passes_every_other_field_and_the_end_frame_through) {
  planes_t const pattern = vantor::testing::make_pattern(8, 4, false);
  frame_t picture =
      vantor::testing::pack_frame(pattern, frame_t::format_t::yuv420p, 1234, 90000, false);
  picture.range_ = frame_t::range_t::full;
  picture.matrix_ = frame_t::matrix_t::bt709;
  frame_t const end = vantor::testing::end_frame(5678, 90000);
  vantor::testing::capture_log_t log(1);
  vantor::stages::orientation_stage_t stage(log.context, vantor::testing::play({picture}, end),
                                           orientation_t{270, true});
  frame_t const out = stage();
  EXPECT_EQ(out.format_, picture.format_);
  EXPECT_EQ(out.pts_, 1234u);
  EXPECT_EQ(out.timescale_, 90000u);
  EXPECT_FALSE(out.keyframe_);
  EXPECT_EQ(out.range_, frame_t::range_t::full);
  EXPECT_EQ(out.matrix_, frame_t::matrix_t::bt709);
  for (int pull = 0; pull < 2; ++pull) {
    frame_t const after = stage();
    EXPECT_TRUE(after.is_end_of_stream());
    EXPECT_EQ(after.pts_, 5678u);
    EXPECT_EQ(after.timescale_, 90000u);
  }
}

TEST(orientation_stage, refuses_odd_sizes_and_names_the_turn_at_level_two) {
  frame_t picture;
  picture.width_ = 9;
  picture.height_ = 4;
  picture.format_ = frame_t::format_t::yuv420p;
  picture.timescale_ = 1000;
  picture.data_ =
      vantor::video::create_frame_data(9, 4, frame_t::format_t::yuv420p, {16, 128, 128});
  vantor::testing::capture_log_t log(2);
  vantor::stages::orientation_stage_t stage(
      log.context, vantor::testing::play({picture}, vantor::testing::end_frame(40)),
      orientation_t{90, true});
  EXPECT_EQ(log.starting_with("orientation: "),
            std::vector<std::string>{
                "orientation: rotating pictures 90 degrees clockwise and mirroring"});
  try {
    stage();
    ADD_FAILURE() << "a 9x4 picture was turned";
  } catch (const vantor::exception& e) {
    EXPECT_NE(std::string(e.what()).find("9x4"), std::string::npos) << e.what();
  }

  vantor::testing::capture_log_t quiet(1);
  vantor::stages::orientation_stage_t unlogged(
      quiet.context, vantor::testing::play({}, vantor::testing::end_frame(0)),
      orientation_t{180, false});
  EXPECT_TRUE(quiet.lines.empty());
}

}  // namespace
