// Below the trace level the filter reads the source frame's planes in place
// instead of from a copy; the pictures must not change by a single byte.

#include <gtest/gtest.h>

#include <vector>

#include "ffmpeg_utils/exports.hpp"
#include "support/capture_log.hpp"
#include "support/frames.hpp"

namespace vantor::testing {
namespace {

using format_t = frame_t::format_t;

std::vector<frame_t> resized(int log_level, format_t format, uint32_t src_w, uint32_t src_h,
                             uint32_t dst_w, uint32_t dst_h, uint32_t crop_x, uint32_t crop_w) {
  std::vector<frame_t> frames;
  for (int i = 0; i < 3; ++i)
    frames.push_back(pack_frame(make_pattern(src_w, src_h, is_ten_bit(format), i), format, 40 * i));
  capture_log_t log(log_level);
  auto filter = video::create_swscale_resize_filter(log.context, play(std::move(frames), end_frame(120)),
                                                    dst_w, dst_h, crop_x, 0, crop_w, 0);
  std::vector<frame_t> out;
  for (frame_t frame = (*filter)(); !frame.data_.empty(); frame = (*filter)())
    out.push_back(std::move(frame));
  return out;
}

class resize_in_place_test : public ::testing::TestWithParam<format_t> {};

TEST_P(resize_in_place_test, gives_the_same_bytes_as_the_traced_copy) {
  struct geometry_t {
    uint32_t src_w, src_h, dst_w, dst_h, crop_x, crop_w;
  };
  for (geometry_t g : {geometry_t{320, 240, 160, 120, 0, 0}, geometry_t{320, 180, 320, 240, 32, 256},
                       geometry_t{176, 144, 176, 144, 0, 0}, geometry_t{64, 48, 640, 360, 80, 480}}) {
    SCOPED_TRACE(::testing::Message() << g.src_w << "x" << g.src_h << " -> " << g.dst_w << "x" << g.dst_h);
    std::vector<frame_t> const in_place =
        resized(vantor_log_info, GetParam(), g.src_w, g.src_h, g.dst_w, g.dst_h, g.crop_x, g.crop_w);
    std::vector<frame_t> const copied =
        resized(vantor_log_debug, GetParam(), g.src_w, g.src_h, g.dst_w, g.dst_h, g.crop_x, g.crop_w);
    ASSERT_EQ(in_place.size(), 3u);
    ASSERT_EQ(copied.size(), 3u);
    for (size_t i = 0; i < in_place.size(); ++i) {
      EXPECT_EQ(in_place[i].width_, g.dst_w);
      EXPECT_TRUE(in_place[i].data_ == copied[i].data_) << "picture " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(formats, resize_in_place_test,
                         ::testing::Values(format_t::nv12, format_t::yuv420p, format_t::yuv420p10le));

}  // namespace
}  // namespace vantor::testing
