// The resize filter: placement and black border in every format, the size
// and geometry checks, and what happens when the source changes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ffmpeg_utils/exports.hpp"
#include "support/capture_log.hpp"
#include "support/expect_failure.hpp"
#include "support/frames.hpp"

namespace vantor::testing {
namespace {

using video::create_swscale_resize_filter;
using format_t = frame_t::format_t;

constexpr check_site_t kConstructor = {
    "ffmpeg_utils/video_filter_resize_swscale.cpp",
    "vantor::video::{anonymous}::swscale_resize_filter_t::swscale_resize_filter_t("
    "vantor::log_context_t&, std::unique_ptr<vantor::video::frame_source_t>, uint32_t, uint32_t, "
    "uint32_t, uint32_t, uint32_t, uint32_t)"};

struct colour_t {
  uint16_t y, u, v;
};

// 8-bit colours; 10-bit frames get them at four times the value.
constexpr colour_t kLeft{180, 90, 200};
constexpr colour_t kRight{60, 170, 70};

uint16_t depth(format_t format) { return is_ten_bit(format) ? 4 : 1; }

colour_t at_depth(colour_t c, format_t format) {
  const uint16_t k = depth(format);
  return {static_cast<uint16_t>(c.y * k), static_cast<uint16_t>(c.u * k),
          static_cast<uint16_t>(c.v * k)};
}

// A picture whose left half is `left` and right half `right`.
frame_t halves(uint32_t width, uint32_t height, format_t format, colour_t left, colour_t right,
               uint64_t pts = 0) {
  left = at_depth(left, format);
  right = at_depth(right, format);
  planes_t p{width, height, {}, {}, {}};
  for (uint32_t r = 0; r < height; ++r)
    for (uint32_t c = 0; c < width; ++c) p.y.push_back(c < width / 2 ? left.y : right.y);
  for (uint32_t r = 0; r < height / 2; ++r) {
    for (uint32_t c = 0; c < width / 2; ++c) {
      p.u.push_back(c < width / 4 ? left.u : right.u);
      p.v.push_back(c < width / 4 ? left.v : right.v);
    }
  }
  return pack_frame(p, format, pts);
}

// Every sample of columns [x0, x1) (luma columns) equals `c`, within `tolerance`.
void expect_columns(const planes_t& p, uint32_t x0, uint32_t x1, colour_t c, int tolerance) {
  int bad = 0;
  for (uint32_t r = 0; r < p.height; ++r)
    for (uint32_t x = x0; x < x1; ++x) bad += std::abs(p.y[r * p.width + x] - c.y) > tolerance;
  const uint32_t cw = p.width / 2;
  for (uint32_t r = 0; r < p.height / 2; ++r) {
    for (uint32_t x = x0 / 2; x < x1 / 2; ++x) {
      bad += std::abs(p.u[r * cw + x] - c.u) > tolerance;
      bad += std::abs(p.v[r * cw + x] - c.v) > tolerance;
    }
  }
  EXPECT_EQ(bad, 0) << "columns " << x0 << ".." << x1 - 1 << " differ from " << c.y << "/"
                    << c.u << "/" << c.v;
}

colour_t black(format_t format) {
  const video::yuv_t b = video::black_of(format);
  return {b.y, b.u, b.v};
}

class resize_geometry_per_format : public ::testing::TestWithParam<format_t> {};

TEST_P(resize_geometry_per_format, pillarbox_leaves_exact_black_columns_around_the_picture) {
  const format_t format = GetParam();
  capture_log_t log(0);
  auto filter = create_swscale_resize_filter(
      log.context, play({halves(640, 360, format, kLeft, kRight)}, end_frame(40)), 1280, 720, 160,
      0, 960, 720);
  const frame_t out = (*filter)();
  ASSERT_EQ(out.width_, 1280u);
  ASSERT_EQ(out.height_, 720u);
  ASSERT_EQ(out.format_, format);
  const planes_t p = unpack_frame(out);
  expect_columns(p, 0, 160, black(format), 0);
  expect_columns(p, 1120, 1280, black(format), 0);
  // The halves meet at output column 640; bilinear blending stays near it.
  const int tolerance = depth(format);
  expect_columns(p, 160, 636, at_depth(kLeft, format), tolerance);
  expect_columns(p, 644, 1120, at_depth(kRight, format), tolerance);
}

TEST_P(resize_geometry_per_format, zero_rectangle_fills_the_whole_frame) {
  const format_t format = GetParam();
  capture_log_t log(0);
  auto filter = create_swscale_resize_filter(
      log.context, play({halves(1280, 720, format, kLeft, kLeft)}, end_frame(40)), 640, 360, 0, 0,
      0, 0);
  const frame_t out = (*filter)();
  ASSERT_EQ(out.width_, 640u);
  ASSERT_EQ(out.height_, 360u);
  expect_columns(unpack_frame(out), 0, 640, at_depth(kLeft, format), depth(format));
}

INSTANTIATE_TEST_SUITE_P(formats, resize_geometry_per_format,
                         ::testing::Values(format_t::nv12, format_t::yuv420p,
                                           format_t::yuv420p10le));

TEST(resize_geometry, impossible_output_geometry_fails_at_the_first_pull) {
  capture_log_t log(0);
  const frame_t source = halves(640, 360, format_t::yuv420p, kLeft, kRight);
  // An x offset with a zero width: the rectangle becomes 1280 wide and overflows.
  auto overflowing = create_swscale_resize_filter(log.context, play({source}, end_frame(40)),
                                                  1280, 720, 160, 0, 0, 0);
  expect_check_failure([&] { (*overflowing)(); }, "dst_crop_x + dst_crop_w <= width");

  auto odd = create_swscale_resize_filter(log.context, play({source}, end_frame(40)), 641, 360,
                                          0, 0, 0, 0);
  expect_check_failure([&] { (*odd)(); }, "width % 2 == 0");
}

TEST(resize_geometry, creation_checks_input_then_width_then_height) {
  capture_log_t log(0);
  auto source = [] { return play({}, end_frame(0)); };
  const std::string width_check = "dst_width_ > 0 && \"Output width must be larger than 0\"";
  const std::string height_check = "dst_height_ > 0 && \"Output height must be larger than 0\"";
  struct {
    bool with_input;
    uint32_t width, height;
    std::string expression;
  } const cases[] = {{false, 0, 0, "input"},
                     {true, 0, 0, width_check},
                     {true, 0, 720, width_check},
                     {true, 1280, 0, height_check}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expression);
    expect_check_failure_at(
        [&] {
          create_swscale_resize_filter(log.context, c.with_input ? source() : nullptr, c.width,
                                       c.height, 0, 0, 0, 0);
        },
        kConstructor, c.expression);
  }
}

TEST(resize_changes, end_of_stream_passes_through_untouched_and_upstream_is_pulled_again) {
  capture_log_t log(vantor_log_trace);
  auto pulls = std::make_shared<int>(0);
  auto filter = create_swscale_resize_filter(log.context, play({}, end_frame(777, 90000), pulls),
                                             1280, 720, 0, 0, 0, 0);
  const frame_t out = (*filter)();
  EXPECT_TRUE(out.data_.empty());
  EXPECT_EQ(out.pts_, 777u);
  EXPECT_EQ(out.timescale_, 90000u);
  EXPECT_EQ(out.width_, 0u);
  (*filter)();
  EXPECT_EQ(*pulls, 2);
  EXPECT_TRUE(log.lines.empty());
}

TEST(resize_changes, size_change_logs_one_new_context_and_keeps_the_output_size) {
  capture_log_t log(vantor_log_info);
  std::vector<frame_t> frames;
  for (int i = 0; i < 2; ++i) frames.push_back(halves(640, 360, format_t::yuv420p, kLeft, kLeft));
  for (int i = 0; i < 2; ++i) frames.push_back(halves(320, 240, format_t::yuv420p, kLeft, kLeft));
  auto filter = create_swscale_resize_filter(log.context, play(frames, end_frame(200)), 1280,
                                             720, 160, 0, 960, 720);
  for (int i = 0; i < 4; ++i) {
    const frame_t out = (*filter)();
    ASSERT_EQ(out.width_, 1280u);
    ASSERT_EQ(out.height_, 720u);
    expect_columns(unpack_frame(out), 160, 1120, kLeft, 1);
  }
  const auto lines = log.starting_with("video_filter_resize_swscale: resize from ");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "video_filter_resize_swscale: resize from yuv420p [640,360] to [1280,720], "
            "crop [960x720], @[160,0]");
  EXPECT_EQ(lines[1],
            "video_filter_resize_swscale: resize from yuv420p [320,240] to [1280,720], "
            "crop [960x720], @[160,0]");
}

TEST(resize_changes, format_switch_builds_a_new_context_and_the_output_follows) {
  capture_log_t log(vantor_log_info);
  const format_t formats[] = {format_t::nv12, format_t::nv12, format_t::yuv420p, format_t::nv12};
  std::vector<frame_t> frames;
  for (format_t f : formats) frames.push_back(halves(640, 360, f, kLeft, kRight));
  auto filter =
      create_swscale_resize_filter(log.context, play(frames, end_frame(40)), 640, 360, 0, 0, 0, 0);
  for (format_t f : formats) {
    const frame_t out = (*filter)();
    ASSERT_EQ(out.format_, f);
    // A context left over from the other format would scramble the chroma;
    // so would libswscale's unscaled NV12 copy, which skips the chroma plane.
    const planes_t p = unpack_frame(out);
    expect_columns(p, 0, 316, kLeft, 1);
    expect_columns(p, 324, 640, kRight, 1);
  }
  EXPECT_EQ(log.starting_with("video_filter_resize_swscale: resize from ").size(), 3u);
}

TEST(resize_changes, timing_and_key_flag_pass_through) {
  capture_log_t log(0);
  std::vector<frame_t> frames;
  const bool keys[] = {true, false, false};
  for (int i = 0; i < 3; ++i) {
    frame_t f = halves(320, 240, format_t::yuv420p, kLeft, kRight, 3003u * i);
    f.timescale_ = 30000;
    f.keyframe_ = keys[i];
    frames.push_back(std::move(f));
  }
  auto filter = create_swscale_resize_filter(log.context, play(frames, end_frame(9009, 30000)),
                                             640, 480, 0, 0, 0, 0);
  for (int i = 0; i < 3; ++i) {
    const frame_t out = (*filter)();
    EXPECT_EQ(out.pts_, 3003u * i);
    EXPECT_EQ(out.timescale_, 30000u);
    EXPECT_EQ(out.keyframe_, keys[i]);
  }
  EXPECT_EQ((*filter)().pts_, 9009u);
}

TEST(resize_changes, trace_lines_describe_each_step_and_only_at_their_level) {
  auto run = [](int level) {
    auto log = std::make_unique<capture_log_t>(level);
    frame_t f = halves(640, 360, format_t::yuv420p, kLeft, kRight, 40);
    auto filter = create_swscale_resize_filter(log->context, play({f}, end_frame(80)), 1280, 720,
                                               160, 0, 960, 720);
    (*filter)();
    return log;
  };
  EXPECT_TRUE(run(vantor_log_warning)->lines.empty());
  EXPECT_EQ(run(vantor_log_info)->lines.size(), 1u);

  const auto log = run(vantor_log_debug);
  const std::string prefix = "video_filter_resize_swscale: ";
  ASSERT_EQ(log->lines.size(), 5u);
  EXPECT_EQ(log->lines[1].text, prefix + "making src avimage,  w=640 h=360 fmt=YUV420P");
  EXPECT_EQ(log->lines[2].text, prefix + "making dst avimage,  w=960 h=720 fmt=YUV420P");
  const std::string& scale = log->lines[3].text;
  EXPECT_EQ(scale.rfind(prefix + "calling swscale_context_->scale(swscale_context_=0x", 0), 0u)
      << scale;
  EXPECT_NE(scale.find(" src image=wrap_avimage_t at "), std::string::npos) << scale;
  EXPECT_NE(scale.find(" src_slice_y=0 src_height=360 dst image=wrap_avimage_t at "),
            std::string::npos)
      << scale;
  EXPECT_EQ(log->lines[4].text,
            prefix +
                "calling avimage_to_frame(dw=1280 dh=720 fmt=yuv420p dcx=160 dcy=0 dcw=960 "
                "dch=720 pts=40 timescale=1000 keyframe=1)");
  for (size_t i = 1; i < 5; ++i) EXPECT_EQ(log->lines[i].level, vantor_log_debug);
}

// A source whose context cannot be made must not leave the previous
// context in place for a picture of that same new size.
TEST(resize_changes, a_failed_context_is_never_replaced_by_the_previous_one) {
  capture_log_t log(vantor_log_info);
  frame_t huge = halves(4, 2, format_t::yuv420p, kLeft, kLeft);
  huge.width_ = 2147483648u;  // too wide for libswscale; never read
  std::vector<frame_t> frames = {halves(640, 360, format_t::yuv420p, kLeft, kRight), huge, huge,
                                 halves(640, 360, format_t::yuv420p, kLeft, kRight)};
  auto filter =
      create_swscale_resize_filter(log.context, play(frames, end_frame(40)), 640, 360, 0, 0, 0, 0);
  (*filter)();
  const std::string size_check = "src_width <= static_cast<uint32_t>(std::numeric_limits<int>::max())";
  expect_check_failure([&] { (*filter)(); }, size_check);
  expect_check_failure([&] { (*filter)(); }, size_check);
  const planes_t p = unpack_frame((*filter)());
  expect_columns(p, 0, 316, kLeft, 1);
  expect_columns(p, 324, 640, kRight, 1);
  EXPECT_EQ(log.starting_with("video_filter_resize_swscale: resize from ").size(), 4u);
}

}  // namespace
}  // namespace vantor::testing
