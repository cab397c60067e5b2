#include <gtest/gtest.h>

#include "exception.hpp"
#include "stages/fit_rect.hpp"

namespace {

using vantor::fraction_t;
using vantor::stages::fit_rect;
using vantor::stages::picture_rect_t;
using vantor::stages::picture_size_t;

using sar_t = std::optional<fraction_t<unsigned int, unsigned int>>;

TEST(fit_rect, wide_into_narrow_letterboxes) {
  EXPECT_EQ(vantor::stages::fit_rect(1920, 1080, std::nullopt, {640, 480}), (vantor::stages::picture_rect_t{0, 60, 640, 360}));
  EXPECT_EQ(vantor::stages::fit_rect(320, 180, std::nullopt, {320, 240}), (vantor::stages::picture_rect_t{0, 30, 320, 180}));
}

TEST(fit_rect, narrow_into_wide_pillarboxes) {
  EXPECT_EQ(vantor::stages::fit_rect(640, 480, std::nullopt, {1280, 720}), (vantor::stages::picture_rect_t{160, 0, 960, 720}));
  EXPECT_EQ(vantor::stages::fit_rect(320, 240, std::nullopt, {640, 360}), (vantor::stages::picture_rect_t{80, 0, 480, 360}));
}

TEST(fit_rect, same_aspect_fills_the_frame) {
  EXPECT_EQ(vantor::stages::fit_rect(1280, 720, std::nullopt, {640, 360}), (vantor::stages::picture_rect_t{0, 0, 640, 360}));
  EXPECT_EQ(vantor::stages::fit_rect(2, 2, sar_t{{1, 1}}, {100, 100}), (vantor::stages::picture_rect_t{0, 0, 100, 100}));
}

TEST(fit_rect, sample_aspect_ratio_counts) {
  // Anamorphic 16:9 (1440x1080, pixels 4:3 wide) is as wide as 1920x1080.
  EXPECT_EQ(vantor::stages::fit_rect(1440, 1080, sar_t{{4, 3}}, {640, 480}), (vantor::stages::picture_rect_t{0, 60, 640, 360}));
  // PAL 4:3 (720x576, pixels 16:15) into 16:9.
  EXPECT_EQ(vantor::stages::fit_rect(720, 576, sar_t{{16, 15}}, {640, 360}), (vantor::stages::picture_rect_t{80, 0, 480, 360}));
  // Zero terms mean unknown: square pixels.
  EXPECT_EQ(vantor::stages::fit_rect(1920, 1080, sar_t{{0, 1}}, {640, 480}), (vantor::stages::picture_rect_t{0, 60, 640, 360}));
  EXPECT_EQ(vantor::stages::fit_rect(1920, 1080, sar_t{{1, 0}}, {640, 480}), (vantor::stages::picture_rect_t{0, 60, 640, 360}));
}

TEST(fit_rect, positions_and_sizes_are_even_and_inside) {
  for (uint32_t src_w : {1u, 3u, 176u, 321u, 1919u, 4096u}) {
    for (uint32_t src_h : {1u, 7u, 144u, 239u, 1080u}) {
      for (vantor::stages::picture_size_t frame : {vantor::stages::picture_size_t{2, 2}, vantor::stages::picture_size_t{642, 362},
                                   vantor::stages::picture_size_t{1000, 2}, vantor::stages::picture_size_t{64, 4000}}) {
        vantor::stages::picture_rect_t const r = vantor::stages::fit_rect(src_w, src_h, std::nullopt, frame);
        SCOPED_TRACE(std::to_string(src_w) + "x" + std::to_string(src_h) + " into " +
                     std::to_string(frame.width) + "x" + std::to_string(frame.height));
        EXPECT_EQ(r.x % 2, 0u);
        EXPECT_EQ(r.y % 2, 0u);
        EXPECT_EQ(r.width % 2, 0u);
        EXPECT_EQ(r.height % 2, 0u);
        EXPECT_GE(r.width, 2u);
        EXPECT_GE(r.height, 2u);
        EXPECT_LE(r.x + r.width, frame.width);
        EXPECT_LE(r.y + r.height, frame.height);
        // Centred up to the even rounding, and touching two opposite sides.
        EXPECT_LE(frame.width - r.width - 2 * r.x, 2u);
        EXPECT_LE(frame.height - r.height - 2 * r.y, 2u);
        EXPECT_TRUE(r.width == frame.width || r.height == frame.height);
      }
    }
  }
}

TEST(fit_rect, huge_terms_do_not_overflow) {
  EXPECT_EQ(vantor::stages::fit_rect(4294967295u, 4294967295u, sar_t{{4294967295u, 4294967295u}}, {1000, 500}),
            (vantor::stages::picture_rect_t{250, 0, 500, 500}));
}

TEST(fit_rect, refuses_empty_or_odd_frames) {
  EXPECT_THROW(vantor::stages::fit_rect(0, 10, std::nullopt, {640, 480}), vantor::exception);
  EXPECT_THROW(vantor::stages::fit_rect(10, 10, std::nullopt, {641, 480}), vantor::exception);
  EXPECT_THROW(vantor::stages::fit_rect(10, 10, std::nullopt, {0, 480}), vantor::exception);
}

}  // namespace
