// The filter scales every picture into one reused image, and below the
// trace level it reads the source frame's planes in place instead of from a
// copy; the pictures must not change by a single byte.

#include <gtest/gtest.h>

#include <vector>

#include "ffmpeg_utils/exports.hpp"
#include "support/capture_log.hpp"
#include "support/frames.hpp"

namespace vantor::testing {
namespace {

using format_t = frame_t::format_t;

// One picture per entry of `formats`, each with its own pattern; the
// pictures are numbered from `first` on.
std::vector<frame_t> resized(int log_level, const std::vector<format_t>& formats, uint32_t src_w,
                             uint32_t src_h, uint32_t dst_w, uint32_t dst_h, uint32_t crop_x,
                             uint32_t crop_w, int first = 0) {
  std::vector<frame_t> frames;
  for (size_t i = 0; i < formats.size(); ++i) {
    int const n = first + static_cast<int>(i);
    frames.push_back(pack_frame(make_pattern(src_w, src_h, is_ten_bit(formats[i]), n), formats[i], 40 * n));
  }
  capture_log_t log(log_level);
  frame_t end = end_frame(40 * (first + formats.size()));
  auto filter = video::create_swscale_resize_filter(
      log.context, play(std::move(frames), std::move(end)), dst_w, dst_h, crop_x, 0, crop_w, 0);
  std::vector<frame_t> out;
  for (frame_t frame = (*filter)(); !frame.data_.empty(); frame = (*filter)())
    out.push_back(std::move(frame));
  return out;
}

class resize_in_place : public ::testing::TestWithParam<format_t> {};

TEST_P(resize_in_place, gives_the_same_bytes_as_the_traced_copy) {
  struct geometry_t {
    uint32_t src_w, src_h, dst_w, dst_h, crop_x, crop_w;
  };
  for (geometry_t g : {geometry_t{320, 240, 160, 120, 0, 0}, geometry_t{320, 180, 320, 240, 32, 256},
                       geometry_t{176, 144, 176, 144, 0, 0}, geometry_t{64, 48, 640, 360, 80, 480}}) {
    SCOPED_TRACE(::testing::Message() << g.src_w << "x" << g.src_h << " -> " << g.dst_w << "x" << g.dst_h);
    std::vector<format_t> const formats(3, GetParam());
    std::vector<frame_t> const in_place =
        resized(vantor_log_info, formats, g.src_w, g.src_h, g.dst_w, g.dst_h, g.crop_x, g.crop_w);
    std::vector<frame_t> const copied =
        resized(vantor_log_debug, formats, g.src_w, g.src_h, g.dst_w, g.dst_h, g.crop_x, g.crop_w);
    ASSERT_EQ(in_place.size(), 3u);
    ASSERT_EQ(copied.size(), 3u);
    for (size_t i = 0; i < in_place.size(); ++i) {
      EXPECT_EQ(in_place[i].width_, g.dst_w);
      EXPECT_TRUE(in_place[i].data_ == copied[i].data_) << "picture " << i;
    }
  }
}

// The reused image has the pixel format's plane layout; a picture of another
// format must not be scaled into it. Each picture must come out as from a
// filter of its own, whose image is new.
TEST(resize_reused_image, follows_a_pixel_format_change) {
  std::vector<format_t> const formats = {format_t::yuv420p, format_t::yuv420p10le, format_t::nv12,
                                         format_t::yuv420p};
  for (int level : {vantor_log_info, vantor_log_debug}) {
    std::vector<frame_t> const reused = resized(level, formats, 320, 180, 160, 120, 0, 0);
    ASSERT_EQ(reused.size(), formats.size());
    for (size_t i = 0; i < formats.size(); ++i) {
      std::vector<frame_t> const alone =
          resized(level, {formats[i]}, 320, 180, 160, 120, 0, 0, static_cast<int>(i));
      ASSERT_EQ(alone.size(), 1u);
      EXPECT_EQ(reused[i].format_, formats[i]);
      EXPECT_TRUE(reused[i].data_ == alone[0].data_) << "level " << level << " picture " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(formats, resize_in_place,
                         ::testing::Values(format_t::nv12, format_t::yuv420p, format_t::yuv420p10le));

}  // namespace
}  // namespace vantor::testing
