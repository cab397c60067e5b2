// The scaling context wrapper.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "ffmpeg_utils/ffmpeg_utils.hpp"
#include "support/expect_failure.hpp"

namespace vantor::video {
namespace {

using vantor::testing::expect_check_failure_at;
using vantor::testing::expect_message;

constexpr check_site_t create_site = {
    "ffmpeg_utils/ffmpeg_utils.cpp",
    "static SwsContext* vantor::video::wrap_swscale_context_t::create_sws_context(uint32_t, "
    "uint32_t, AVPixelFormat, uint32_t, uint32_t, AVPixelFormat)"};

TEST(wrap_swscale_context, scales_full_hd_yuv420p_to_yuvj420p) {
  wrap_avimage_t source(1920, 1080, AV_PIX_FMT_YUV420P);
  wrap_avimage_t target(1920, 1080, AV_PIX_FMT_YUVJ420P);
  std::fill_n(source.planes[0], static_cast<size_t>(source.strides[0]) * 1080, 235);
  std::fill_n(source.planes[1], static_cast<size_t>(source.strides[1]) * 540, 128);
  std::fill_n(source.planes[2], static_cast<size_t>(source.strides[2]) * 540, 128);
  wrap_swscale_context_t context(1920, 1080, AV_PIX_FMT_YUV420P, 1920, 1080, AV_PIX_FMT_YUVJ420P);
  ASSERT_NE(context.get(), nullptr);
  EXPECT_EQ(context.scale(source.planes, source.strides, 0, 1080, target.planes, target.strides),
            1080);
  // Video-level white becomes full-range white.
  EXPECT_EQ(target.planes[0][0], 255);
  EXPECT_EQ(target.planes[0][1919 + 1079 * static_cast<size_t>(target.strides[0])], 255);
}

TEST(wrap_swscale_context, scales_to_another_size) {
  wrap_avimage_t source(64, 32, AV_PIX_FMT_NV12);
  wrap_avimage_t target(32, 16, AV_PIX_FMT_NV12);
  std::fill_n(source.planes[0], static_cast<size_t>(source.strides[0]) * 32, 16);
  std::fill_n(source.planes[1], static_cast<size_t>(source.strides[1]) * 16, 128);
  wrap_swscale_context_t context(64, 32, AV_PIX_FMT_NV12, 32, 16, AV_PIX_FMT_NV12);
  EXPECT_EQ(context.scale(source.planes, source.strides, 0, 32, target.planes, target.strides), 16);
}

TEST(wrap_swscale_context, sizes_must_fit_in_an_int) {
  uint32_t const too_big = 2147483648u;
  uint32_t const largest = 2147483647u;
  AVPixelFormat const f = AV_PIX_FMT_YUV420P;
  expect_check_failure_at(
      [&] { wrap_swscale_context_t::create_sws_context(too_big, 16, f, 16, 16, f); },
      create_site, "src_width <= static_cast<uint32_t>(std::numeric_limits<int>::max())");
  expect_check_failure_at(
      [&] { wrap_swscale_context_t::create_sws_context(16, too_big, f, 16, 16, f); },
      create_site, "src_height <= static_cast<uint32_t>(std::numeric_limits<int>::max())");
  expect_check_failure_at(
      [&] { wrap_swscale_context_t::create_sws_context(16, 16, f, too_big, 16, f); },
      create_site, "dst_width <= static_cast<uint32_t>(std::numeric_limits<int>::max())");
  expect_check_failure_at([&] { wrap_swscale_context_t(16, 16, f, 16, too_big, f); },
                          create_site,
                          "dst_height <= static_cast<uint32_t>(std::numeric_limits<int>::max())");
  // In order: every size is too big, the source width is named.
  expect_check_failure_at(
      [&] { wrap_swscale_context_t::create_sws_context(~0u, ~0u, f, ~0u, ~0u, f); },
      create_site, "src_width <= static_cast<uint32_t>(std::numeric_limits<int>::max())");
  // The largest int passes the check; libswscale itself refuses it.
  expect_message([&] { wrap_swscale_context_t(largest, 16, f, 16, 16, f); },
                 vantor_result_libav_failure,
                 "swscale_context: libswscale failed to initialize a rescaling context");
}

TEST(wrap_swscale_context, libswscale_refusal_is_a_libav_failure) {
  std::string const message =
      "swscale_context: libswscale failed to initialize a rescaling context";
  AVPixelFormat const f = AV_PIX_FMT_YUV420P;
  expect_message([&] { wrap_swscale_context_t(16, 16, f, 0, 16, f); }, vantor_result_libav_failure,
                 message);
  // libswscale would abort on these instead of failing.
  expect_message([&] { wrap_swscale_context_t(16, 16, AV_PIX_FMT_NONE, 16, 16, f); },
                 vantor_result_libav_failure, message);
  expect_message(
      [&] { wrap_swscale_context_t(16, 16, f, 16, 16, static_cast<AVPixelFormat>(250)); },
      vantor_result_libav_failure, message);
  // A known format libswscale cannot write.
  expect_message([&] { wrap_swscale_context_t(16, 16, f, 16, 16, AV_PIX_FMT_VAAPI); },
                 vantor_result_libav_failure, message);
}

}  // namespace
}  // namespace vantor::video
