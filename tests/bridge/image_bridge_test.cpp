// Pixel format mapping, frame_t <-> FFmpeg image copies, avframe_to_frame
// and the image wrapper.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "ffmpeg_utils/ffmpeg_utils.hpp"
#include "support/expect_failure.hpp"

namespace vantor::video {
namespace {

using format_t = frame_t::format_t;
using vantor::testing::expect_check_failure_at;
using vantor::testing::expect_message;

// Every check of the bridge names its one documented source.
constexpr const char* bridge_file = "ffmpeg_utils/ffmpeg_utils.cpp";
constexpr check_site_t avimage_to_frame_site = {
    bridge_file,
    "vantor::video::frame_t vantor::video::avimage_to_frame(const uint8_t* const*, const int*, "
    "uint32_t, uint32_t, vantor::video::frame_t::format_t, uint32_t, uint32_t, uint32_t, "
    "uint32_t, uint64_t, uint32_t, bool)"};
constexpr const char* plane_check =
    "dst_stride > 0 && src_stride <= static_cast<uint32_t>(dst_stride)";

constexpr format_t all_formats[] = {format_t::nv12, format_t::yuv420p, format_t::yuv420p10le};

// How one plane of a format relates to the picture: its sample grid is the
// picture's divided by `x_div` and `y_div`, each sample `bytes` wide. NV12's
// second plane is handled as one byte per picture column (U,V pairs).
struct plane_shape_t {
  size_t x_div;
  size_t y_div;
  size_t bytes;
  uint16_t black;  // the fill sample
};

std::vector<plane_shape_t> shapes_of(format_t format) {
  switch (format) {
    case format_t::nv12: return {{1, 1, 1, 16}, {1, 2, 1, 128}};
    case format_t::yuv420p: return {{1, 1, 1, 16}, {2, 2, 1, 128}, {2, 2, 1, 128}};
    case format_t::yuv420p10le: return {{1, 1, 2, 64}, {2, 2, 2, 512}, {2, 2, 2, 512}};
  }
  return {};
}

size_t plane_row_bytes(const plane_shape_t& s, size_t width) { return width / s.x_div * s.bytes; }
size_t plane_rows(const plane_shape_t& s, size_t height) { return height / s.y_div; }

size_t plane_offset(format_t format, size_t plane, size_t width, size_t height) {
  size_t offset = 0;
  std::vector<plane_shape_t> const shapes = shapes_of(format);
  for (size_t p = 0; p < plane; ++p) {
    offset += plane_row_bytes(shapes[p], width) * plane_rows(shapes[p], height);
  }
  return offset;
}

size_t data_size(format_t format, size_t width, size_t height) {
  return plane_offset(format, shapes_of(format).size(), width, height);
}

// Black at video levels, built sample by sample.
std::vector<uint8_t> black_picture(format_t format, size_t width, size_t height) {
  std::vector<uint8_t> data(data_size(format, width, height));
  std::vector<plane_shape_t> const shapes = shapes_of(format);
  for (size_t p = 0; p < shapes.size(); ++p) {
    size_t const begin = plane_offset(format, p, width, height);
    size_t const end = begin + plane_row_bytes(shapes[p], width) * plane_rows(shapes[p], height);
    for (size_t i = begin; i < end; i += shapes[p].bytes) {
      data[i] = static_cast<uint8_t>(shapes[p].black & 0xff);
      if (shapes[p].bytes == 2) data[i + 1] = static_cast<uint8_t>(shapes[p].black >> 8);
    }
  }
  return data;
}

// A picture whose bytes follow a pattern that repeats only after 251 bytes.
frame_t patterned_frame(format_t format, uint32_t width, uint32_t height, unsigned seed) {
  frame_t frame;
  frame.width_ = width;
  frame.height_ = height;
  frame.format_ = format;
  frame.pts_ = 1;
  frame.timescale_ = 1;
  frame.data_.resize(data_size(format, width, height));
  for (size_t i = 0; i < frame.data_.size(); ++i) {
    frame.data_[i] = static_cast<uint8_t>((i * 7 + seed) % 251);
  }
  return frame;
}

// `inner` placed at (x, y) in a black picture of width x height, copied
// sample row by sample row from the inner picture's own layout.
std::vector<uint8_t> expected_placement(const frame_t& inner, size_t width, size_t height,
                                        size_t x, size_t y) {
  std::vector<uint8_t> out = black_picture(inner.format_, width, height);
  std::vector<plane_shape_t> const shapes = shapes_of(inner.format_);
  for (size_t p = 0; p < shapes.size(); ++p) {
    plane_shape_t const& s = shapes[p];
    size_t const src_row = plane_row_bytes(s, inner.width_);
    size_t const dst_row = plane_row_bytes(s, width);
    const uint8_t* src = inner.data_.data() + plane_offset(inner.format_, p, inner.width_,
                                                           inner.height_);
    uint8_t* dst = out.data() + plane_offset(inner.format_, p, width, height);
    for (size_t r = 0; r < plane_rows(s, inner.height_); ++r) {
      for (size_t b = 0; b < src_row; ++b) {
        dst[(y / s.y_div + r) * dst_row + x / s.x_div * s.bytes + b] = src[r * src_row + b];
      }
    }
  }
  return out;
}

// An FFmpeg image holding `frame` (through frame_to_avimage).
struct image_of_t {
  explicit image_of_t(const frame_t& frame)
      : image(frame.width_, frame.height_, to_avpixelformat(frame.format_)) {
    frame_to_avimage(frame, image.planes, image.strides);
  }
  wrap_avimage_t image;
};

// ---------------------------------------------------------------------------

TEST(pixel_format_mapping, host_formats_to_ffmpeg_and_back) {
  EXPECT_EQ(to_avpixelformat(format_t::nv12), AV_PIX_FMT_NV12);
  EXPECT_EQ(to_avpixelformat(format_t::yuv420p), AV_PIX_FMT_YUV420P);
  EXPECT_EQ(to_avpixelformat(format_t::yuv420p10le), AV_PIX_FMT_YUV420P10LE);
  EXPECT_EQ(to_frame_format(AV_PIX_FMT_NV12), format_t::nv12);
  EXPECT_EQ(to_frame_format(AV_PIX_FMT_YUV420P), format_t::yuv420p);
  EXPECT_EQ(to_frame_format(AV_PIX_FMT_YUVJ420P), format_t::yuv420p);
  EXPECT_EQ(to_frame_format(AV_PIX_FMT_YUV420P10LE), format_t::yuv420p10le);
}

TEST(pixel_format_mapping, rejects_other_values) {
  expect_message([] { to_avpixelformat(static_cast<format_t>(3)); }, vantor_result_check_failed,
                 "invalid frame format 3");
  expect_message([] { to_frame_format(AV_PIX_FMT_RGB24); }, vantor_result_libav_failure,
                 "Unexpected AVPixelFormat 2");
  expect_message([] { to_frame_format(AV_PIX_FMT_NONE); }, vantor_result_libav_failure,
                 "Unexpected AVPixelFormat -1");
  expect_message([] { to_frame_format(AV_PIX_FMT_YUV420P10BE); }, vantor_result_libav_failure,
                 "Unexpected AVPixelFormat 61");
}

TEST(wrap_avimage, allocates_aligned_planes) {
  wrap_avimage_t image(100, 50, AV_PIX_FMT_YUV420P);
  for (int p = 0; p < 3; ++p) {
    ASSERT_NE(image.planes[p], nullptr);
    EXPECT_EQ(image.strides[p] % 16, 0);
  }
  EXPECT_GE(image.strides[0], 100);
  EXPECT_GE(image.strides[1], 50);
  EXPECT_EQ(image.planes[3], nullptr);
  EXPECT_EQ(image.strides[3], 0);
  EXPECT_LT(image.planes[0], image.planes[1]);
  EXPECT_LT(image.planes[1], image.planes[2]);
}

TEST(wrap_avimage, allocation_failure_names_ffmpegs_reason) {
  expect_message([] { wrap_avimage_t(0, 16, AV_PIX_FMT_YUV420P); }, vantor_result_libav_failure,
                 "avimage: libavutil failed to allocate an image: " +
                     averror_to_string(AVERROR(EINVAL)));
  expect_message([] { wrap_avimage_t(16, 16, AV_PIX_FMT_NONE); }, vantor_result_libav_failure,
                 "avimage: libavutil failed to allocate an image: " +
                     averror_to_string(AVERROR(EINVAL)));
}

// ---------------------------------------------------------------------------
// Round trips

TEST(image_round_trip, whole_picture_comes_back_byte_for_byte) {
  for (format_t format : all_formats) {
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{100, 50}, {64, 48}, {2, 2}}) {
      frame_t const source = patterned_frame(format, w, h, 3);
      image_of_t const image(source);
      frame_t const back = avimage_to_frame(image.image.planes, image.image.strides, w, h, format,
                                            0, 0, 0, 0, 4242, 90000, true);
      EXPECT_EQ(back.width_, w);
      EXPECT_EQ(back.height_, h);
      EXPECT_EQ(back.format_, format);
      EXPECT_EQ(back.pts_, 4242u);
      EXPECT_EQ(back.timescale_, 90000u);
      EXPECT_TRUE(back.keyframe_);
      EXPECT_TRUE(back.data_ == source.data_) << to_string(format) << " " << w << "x" << h;
    }
  }
}

TEST(image_round_trip, full_hd_with_zero_crop_copies_everything) {
  frame_t const source = patterned_frame(format_t::yuv420p, 1920, 1080, 11);
  image_of_t const image(source);
  frame_t const back = avimage_to_frame(image.image.planes, image.image.strides, 1920, 1080,
                                        format_t::yuv420p, 0, 0, 0, 0, 0, 1, false);
  EXPECT_FALSE(back.keyframe_);
  EXPECT_TRUE(back.data_ == source.data_);
}

TEST(image_round_trip, crop_rectangle_is_placed_in_black) {
  struct crop_t {
    uint32_t x, y, w, h;
  };
  for (format_t format : all_formats) {
    for (crop_t crop : {crop_t{16, 8, 100, 50}, crop_t{0, 0, 64, 32}, crop_t{28, 32, 100, 32},
                        crop_t{2, 62, 126, 2}}) {
      frame_t const inner = patterned_frame(format, crop.w, crop.h, 5);
      image_of_t const image(inner);
      frame_t const placed = avimage_to_frame(image.image.planes, image.image.strides, 128, 64,
                                              format, crop.x, crop.y, crop.w, crop.h, 9, 25, false);
      EXPECT_TRUE(placed.data_ == expected_placement(inner, 128, 64, crop.x, crop.y))
          << to_string(format) << " crop " << crop.x << "," << crop.y << " " << crop.w << "x"
          << crop.h;
    }
  }
}

TEST(image_round_trip, zero_crop_size_reaches_the_far_edges) {
  for (format_t format : all_formats) {
    frame_t const inner = patterned_frame(format, 96, 40, 9);
    image_of_t const image(inner);
    frame_t const placed = avimage_to_frame(image.image.planes, image.image.strides, 128, 64,
                                            format, 32, 24, 0, 0, 0, 1, false);
    EXPECT_TRUE(placed.data_ == expected_placement(inner, 128, 64, 32, 24)) << to_string(format);
  }
}

TEST(image_round_trip, odd_crop_rounds_chroma_down) {
  // NV12, 8x8, crop (3, 3, 3, 3): three luma rows of three bytes at column 3,
  // one chroma row (3/2) of two bytes (3 rounded down to even) at row 1, byte 2.
  std::vector<uint8_t> luma = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  std::vector<uint8_t> chroma = {100, 101};
  const uint8_t* planes[3] = {luma.data(), chroma.data(), nullptr};
  int const strides[3] = {3, 2, 0};
  frame_t const nv12 =
      avimage_to_frame(planes, strides, 8, 8, format_t::nv12, 3, 3, 3, 3, 0, 1, false);
  std::vector<uint8_t> expected = black_picture(format_t::nv12, 8, 8);
  for (size_t r = 0; r < 3; ++r) std::memcpy(&expected[(3 + r) * 8 + 3], &luma[r * 3], 3);
  expected[64 + 1 * 8 + 2] = 100;
  expected[64 + 1 * 8 + 3] = 101;
  EXPECT_TRUE(nv12.data_ == expected);

  // 10-bit, 8x4, crop (1, 1, 3, 3): luma rows of 6 bytes at byte 2 of rows
  // 1..3; one chroma row of 2 bytes at byte 0 (cx rounded down to even).
  std::vector<uint8_t> luma10(18);
  for (size_t i = 0; i < luma10.size(); ++i) luma10[i] = static_cast<uint8_t>(200 + i);
  std::vector<uint8_t> u10 = {0x11, 0x01};
  std::vector<uint8_t> v10 = {0x22, 0x02};
  const uint8_t* planes10[3] = {luma10.data(), u10.data(), v10.data()};
  int const strides10[3] = {6, 2, 2};
  frame_t const ten = avimage_to_frame(planes10, strides10, 8, 4, format_t::yuv420p10le, 1, 1, 3,
                                       3, 0, 1, false);
  std::vector<uint8_t> expected10 = black_picture(format_t::yuv420p10le, 8, 4);
  for (size_t r = 0; r < 3; ++r) std::memcpy(&expected10[(1 + r) * 16 + 2], &luma10[r * 6], 6);
  std::memcpy(&expected10[64], u10.data(), 2);
  std::memcpy(&expected10[80], v10.data(), 2);
  EXPECT_TRUE(ten.data_ == expected10);
}

TEST(image_round_trip, nv12_reads_neither_a_third_plane_nor_its_stride) {
  std::vector<uint8_t> luma(4 * 2, 50);
  std::vector<uint8_t> chroma(4, 60);
  const uint8_t* planes[3] = {luma.data(), chroma.data(), nullptr};
  int const strides[3] = {4, 4, 0};
  frame_t const frame =
      avimage_to_frame(planes, strides, 4, 2, format_t::nv12, 0, 0, 0, 0, 0, 1, false);
  EXPECT_EQ(frame.data_, (std::vector<uint8_t>{50, 50, 50, 50, 50, 50, 50, 50, 60, 60, 60, 60}));
}

// ---------------------------------------------------------------------------
// avimage_to_frame's checks. Sources are exactly as long as the rows the
// checks admit, so a missing check shows as an over-read under ASan.

struct source_t {
  source_t(format_t format, std::vector<int> strides_in, size_t rows)
      : strides{strides_in[0], strides_in[1], strides_in[2]} {
    for (int p = 0; p < 3; ++p) {
      size_t const plane_rows = p == 0 ? rows : rows / 2;
      if (p == 2 && format == format_t::nv12) continue;
      buffers[p].assign(strides[p] > 0 ? static_cast<size_t>(strides[p]) * plane_rows : 0, 0x5a);
      planes[p] = buffers[p].data();
    }
  }
  std::vector<uint8_t> buffers[3];
  const uint8_t* planes[3] = {nullptr, nullptr, nullptr};
  int strides[3];
};

void expect_avimage_check(format_t format, std::vector<int> strides, uint32_t width,
                          uint32_t height, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                          const char* expression) {
  source_t const source(format, strides, h == 0 || h > height ? height : h);
  expect_check_failure_at(
      [&] {
        avimage_to_frame(source.planes, source.strides, width, height, format, x, y, w, h, 0, 1,
                         false);
      },
      avimage_to_frame_site, expression);
}

TEST(avimage_to_frame_checks, sizes_and_crop_position) {
  format_t const f = format_t::yuv420p;
  std::vector<int> const s = {2048, 1024, 1024};
  expect_avimage_check(f, s, 0, 1080, 0, 0, 0, 0, "width > 0");
  expect_avimage_check(f, s, 1920, 0, 0, 0, 0, 0, "height > 0");
  expect_avimage_check(f, s, 1921, 1080, 0, 0, 0, 0, "width % 2 == 0");
  expect_avimage_check(f, s, 1920, 1081, 0, 0, 0, 0, "height % 2 == 0");
  expect_avimage_check(f, s, 1920, 1080, 1920, 0, 0, 0, "dst_crop_x < width");
  expect_avimage_check(f, s, 1920, 1080, 0, 1080, 0, 0, "dst_crop_y < height");
  expect_avimage_check(f, s, 1920, 1080, 100, 0, 1821, 0, "dst_crop_x + dst_crop_w <= width");
  expect_avimage_check(f, s, 1920, 1080, 0, 80, 0, 1001, "dst_crop_y + dst_crop_h <= height");
}

TEST(avimage_to_frame_checks, crop_sums_do_not_wrap_around) {
  // 100 + 0xfffffff0 is 84 in 32 bits.
  std::vector<int> const s = {64, 32, 32};
  expect_avimage_check(format_t::yuv420p, s, 1920, 64, 100, 0, 0xfffffff0u, 2,
                       "dst_crop_x + dst_crop_w <= width");
  expect_avimage_check(format_t::nv12, s, 128, 64, 0, 8, 2, 0xfffffffcu,
                       "dst_crop_y + dst_crop_h <= height");
}

TEST(avimage_to_frame_checks, stride_checks_in_order) {
  format_t const f = format_t::yuv420p;
  expect_avimage_check(f, {0, 32, 32}, 64, 16, 0, 0, 0, 0, "strides[0] > 0");
  expect_avimage_check(f, {-64, 32, 32}, 64, 16, 0, 0, 0, 0, "strides[0] > 0");
  expect_avimage_check(f, {64, 0, 32}, 64, 16, 0, 0, 0, 0, "strides[1] > 0");
  expect_avimage_check(f, {64, 32, 0}, 64, 16, 0, 0, 0, 0, "strides[2] > 0");
  expect_avimage_check(f, {63, 32, 32}, 64, 16, 0, 0, 0, 0,
                       "static_cast<uint32_t>(strides[0]) >= dst_crop_w");
  expect_avimage_check(f, {64, 31, 32}, 64, 16, 0, 0, 0, 0,
                       "static_cast<uint32_t>(strides[1]) >= dst_crop_w / 2");
  expect_avimage_check(f, {64, 32, 31}, 64, 16, 0, 0, 0, 0,
                       "static_cast<uint32_t>(strides[2]) >= dst_crop_w / 2");
  // The crop width, not the frame width, is what the rows must hold.
  expect_avimage_check(f, {39, 20, 20}, 64, 16, 8, 0, 40, 0,
                       "static_cast<uint32_t>(strides[0]) >= dst_crop_w");
  // Size checks come before stride checks.
  expect_avimage_check(f, {0, 0, 0}, 63, 16, 0, 0, 0, 0, "width % 2 == 0");
}

TEST(avimage_to_frame_checks, unknown_format_after_the_stride_checks) {
  format_t const bad = static_cast<format_t>(7);
  expect_avimage_check(bad, {64, 32, 0}, 64, 16, 0, 0, 0, 0, "strides[2] > 0");
  source_t const source(bad, {64, 32, 32}, 16);
  expect_message(
      [&] {
        avimage_to_frame(source.planes, source.strides, 64, 16, bad, 0, 0, 0, 0, 0, 1, false);
      },
      vantor_result_check_failed, "invalid frame format 7");
}

TEST(avimage_to_frame_checks, rows_must_hold_the_bytes_actually_copied) {
  // Each stride passes the width checks above but is shorter than the row
  // that is copied from it.
  expect_avimage_check(format_t::nv12, {64, 32, 0}, 64, 16, 0, 0, 0, 0,
                       "static_cast<size_t>(strides[1]) >= chroma_row_bytes");
  expect_avimage_check(format_t::nv12, {64, 63, 0}, 64, 16, 0, 0, 0, 0,
                       "static_cast<size_t>(strides[1]) >= chroma_row_bytes");
  expect_avimage_check(format_t::yuv420p10le, {64, 64, 64}, 64, 16, 0, 0, 0, 0,
                       "static_cast<size_t>(strides[0]) >= luma_row_bytes");
  expect_avimage_check(format_t::yuv420p10le, {127, 64, 64}, 64, 16, 0, 0, 0, 0,
                       "static_cast<size_t>(strides[0]) >= luma_row_bytes");
  expect_avimage_check(format_t::yuv420p10le, {128, 32, 64}, 64, 16, 0, 0, 0, 0,
                       "static_cast<size_t>(strides[1]) >= chroma_row_bytes");
  expect_avimage_check(format_t::yuv420p10le, {128, 64, 63}, 64, 16, 0, 0, 0, 0,
                       "static_cast<size_t>(strides[2]) >= chroma_row_bytes");
}

TEST(avimage_to_frame_checks, exactly_long_rows_are_enough) {
  // Odd crop width 7: NV12 chroma rows copy 6 bytes, 10-bit luma rows 14.
  source_t const nv12(format_t::nv12, {7, 6, 0}, 6);
  EXPECT_NO_THROW(avimage_to_frame(nv12.planes, nv12.strides, 16, 8, format_t::nv12, 4, 2, 7, 6,
                                   0, 1, false));
  source_t const ten(format_t::yuv420p10le, {14, 6, 6}, 6);
  EXPECT_NO_THROW(avimage_to_frame(ten.planes, ten.strides, 16, 8, format_t::yuv420p10le, 4, 2, 7,
                                   6, 0, 1, false));
}

TEST(avimage_to_frame_checks, zero_timescale_fails_in_the_frame_check) {
  source_t const source(format_t::yuv420p, {16, 8, 8}, 8);
  expect_check_failure_at(
      [&] {
        avimage_to_frame(source.planes, source.strides, 16, 8, format_t::yuv420p, 0, 0, 0, 0, 5,
                         0, true);
      },
      {"transcode/video_base.hpp", "void vantor::video::frame_t::sanity_check()"},
      "timescale_ > 0 && \"frame must have nonzero timescale\"");
}

// ---------------------------------------------------------------------------
// frame_to_avimage

// Destination planes of `rows` rows per stride, preset to 0xee.
struct destination_t {
  destination_t(std::vector<int> strides_in, std::vector<size_t> rows)
      : strides{strides_in[0], strides_in[1], strides_in[2], 0} {
    for (size_t p = 0; p < 3; ++p) {
      buffers[p].assign(strides[p] > 0 ? static_cast<size_t>(strides[p]) * rows[p] : 1, 0xee);
      planes[p] = buffers[p].data();
    }
  }
  std::vector<uint8_t> buffers[3];
  uint8_t* planes[4] = {nullptr, nullptr, nullptr, nullptr};
  int strides[4];
};

TEST(frame_to_avimage, copies_rows_into_wider_strides) {
  frame_t const frame = patterned_frame(format_t::yuv420p, 64, 48, 1);
  destination_t dst({80, 40, 33}, {48, 24, 24});
  frame_to_avimage(frame, dst.planes, dst.strides);
  size_t const widths[3] = {64, 32, 32};
  size_t const offsets[3] = {0, 64 * 48, 64 * 48 + 32 * 24};
  for (size_t p = 0; p < 3; ++p) {
    for (size_t r = 0; r < (p == 0 ? 48u : 24u); ++r) {
      const uint8_t* row = &dst.buffers[p][r * static_cast<size_t>(dst.strides[p])];
      ASSERT_EQ(std::memcmp(row, &frame.data_[offsets[p] + r * widths[p]], widths[p]), 0)
          << "plane " << p << " row " << r;
      EXPECT_EQ(row[widths[p]], 0xee) << "wrote past the row, plane " << p;
    }
  }
}

TEST(frame_to_avimage, fails_on_the_first_plane_that_does_not_fit) {
  frame_t const frame = patterned_frame(format_t::yuv420p, 64, 48, 2);
  destination_t ok({64, 32, 32}, {48, 24, 24});
  EXPECT_NO_THROW(frame_to_avimage(frame, ok.planes, ok.strides));

  destination_t narrow({64, 31, 32}, {48, 24, 24});
  expect_check_failure_at(
      [&] { frame_to_avimage(frame, narrow.planes, narrow.strides); },
      {bridge_file,
       "void vantor::video::{anonymous}::frame_to_avimage_yuv420p(const vantor::video::frame_t&, "
       "uint8_t**, int*)"},
      plane_check);
  EXPECT_EQ(std::memcmp(narrow.buffers[0].data(), frame.data_.data(), 64 * 48), 0)
      << "plane 0 is written before plane 1 is checked";
  EXPECT_EQ(narrow.buffers[1], std::vector<uint8_t>(31 * 24, 0xee));
}

TEST(frame_to_avimage, each_routine_names_itself) {
  check_site_t const ten_routine = {bridge_file,
                                    "void vantor::video::{anonymous}::frame_to_avimage_yuv420p10le("
                                    "const vantor::video::frame_t&, uint8_t**, int*)"};
  frame_t const nv12 = patterned_frame(format_t::nv12, 16, 8, 0);
  destination_t nv12_dst({16, 0, 0}, {8, 4, 0});
  expect_check_failure_at(
      [&] { frame_to_avimage(nv12, nv12_dst.planes, nv12_dst.strides); },
      {bridge_file,
       "void vantor::video::{anonymous}::frame_to_avimage_nv12(const vantor::video::frame_t&, "
       "uint8_t**, int*)"},
      plane_check);

  frame_t const ten = patterned_frame(format_t::yuv420p10le, 16, 8, 0);
  destination_t ten_dst({16, 16, 16}, {8, 4, 4});  // luma rows need 32 bytes
  expect_check_failure_at(
      [&] { frame_to_avimage(ten, ten_dst.planes, ten_dst.strides); },
      ten_routine,
      plane_check);
  destination_t ten_negative({32, -16, 16}, {8, 4, 4});
  expect_check_failure_at(
      [&] { frame_to_avimage(ten, ten_negative.planes, ten_negative.strides); },
      ten_routine,
      plane_check);
}

TEST(frame_to_avimage, short_frame_data_is_rejected_before_anything_is_copied) {
  for (format_t format : all_formats) {
    frame_t frame = patterned_frame(format, 16, 8, 0);
    frame.data_.pop_back();
    destination_t dst({64, 64, 64}, {8, 4, 4});
    expect_check_failure_at(
        [&] { frame_to_avimage(frame, dst.planes, dst.strides); },
        {bridge_file,
         "void vantor::video::frame_to_avimage(const vantor::video::frame_t&, uint8_t**, int*)"},
        "frame.data_.size() >= frame_data_size(frame.width_, frame.height_, frame.format_)");
    EXPECT_EQ(dst.buffers[0], std::vector<uint8_t>(64 * 8, 0xee)) << to_string(format);
  }
}

TEST(frame_to_avimage, unknown_format) {
  frame_t frame = patterned_frame(format_t::yuv420p, 16, 8, 0);
  frame.format_ = static_cast<format_t>(9);
  destination_t dst({64, 64, 64}, {8, 4, 4});
  expect_message([&] { frame_to_avimage(frame, dst.planes, dst.strides); },
                 vantor_result_check_failed, "invalid frame format 9");
}

// ---------------------------------------------------------------------------
// avframe_to_frame

// Fills a frame's planes with a pattern and returns the tightly packed
// frame_t bytes they stand for.
std::vector<uint8_t> fill_avframe(const wrap_avframe_t& frame, format_t format) {
  size_t const w = static_cast<size_t>(frame->width);
  size_t const h = static_cast<size_t>(frame->height);
  std::vector<uint8_t> packed;
  std::vector<plane_shape_t> const shapes = shapes_of(format);
  for (size_t p = 0; p < shapes.size(); ++p) {
    for (size_t r = 0; r < plane_rows(shapes[p], h); ++r) {
      uint8_t* row = frame->data[p] + r * static_cast<size_t>(frame->linesize[p]);
      for (size_t b = 0; b < plane_row_bytes(shapes[p], w); ++b) {
        row[b] = static_cast<uint8_t>((p * 61 + r * 7 + b * 3) & 0xff);
        packed.push_back(row[b]);
      }
    }
  }
  return packed;
}

TEST(avframe_to_frame, converts_supported_formats_with_given_time) {
  struct case_t {
    AVPixelFormat av;
    format_t host;
  };
  for (case_t c : {case_t{AV_PIX_FMT_YUVJ420P, format_t::yuv420p},
                   case_t{AV_PIX_FMT_YUV420P, format_t::yuv420p},
                   case_t{AV_PIX_FMT_NV12, format_t::nv12},
                   case_t{AV_PIX_FMT_YUV420P10LE, format_t::yuv420p10le}}) {
    wrap_avframe_t frame(36, 20, c.av, std::nullopt, 30, 5, true);
    std::vector<uint8_t> const packed = fill_avframe(frame, c.host);
    frame_t const converted = avframe_to_frame(frame, 77, 90000);
    EXPECT_EQ(converted.width_, 36u);
    EXPECT_EQ(converted.height_, 20u);
    EXPECT_EQ(converted.format_, c.host);
    EXPECT_EQ(converted.pts_, 77u) << "the frame's own pts is not used";
    EXPECT_EQ(converted.timescale_, 90000u);
    EXPECT_TRUE(converted.keyframe_);
    EXPECT_TRUE(converted.data_ == packed) << to_string(c.av);
  }
}

TEST(avframe_to_frame, key_flag_is_bit_two_of_flags) {
  wrap_avframe_t frame(16, 16, AV_PIX_FMT_YUV420P, std::nullopt, 30, 0, false);
  fill_avframe(frame, format_t::yuv420p);
  frame->flags = AV_FRAME_FLAG_CORRUPT | AV_FRAME_FLAG_DISCARD;
  EXPECT_FALSE(avframe_to_frame(frame, 0, 1).keyframe_);
  frame->flags = AV_FRAME_FLAG_KEY;
  EXPECT_TRUE(avframe_to_frame(frame, 0, 1).keyframe_);
  frame->flags = AV_FRAME_FLAG_KEY | AV_FRAME_FLAG_CORRUPT;
  EXPECT_TRUE(avframe_to_frame(frame, 0, 1).keyframe_);
}

TEST(avframe_to_frame, rejects_other_pixel_formats) {
  wrap_avframe_t yuv422(16, 16, AV_PIX_FMT_YUV422P, std::nullopt, 30, 0, true);
  expect_message([&] { avframe_to_frame(yuv422, 0, 1); }, vantor_result_libav_failure,
                 "Unexpected AVPixelFormat 4");
  wrap_avframe_t empty;
  expect_message([&] { avframe_to_frame(empty, 0, 1); }, vantor_result_libav_failure,
                 "Unexpected AVPixelFormat -1");
  empty->format = 100000;  // no AVPixelFormat at all
  expect_message([&] { avframe_to_frame(empty, 0, 1); }, vantor_result_libav_failure,
                 "Unexpected AVPixelFormat 100000");
}

TEST(avframe_to_frame, negative_sizes_are_rejected) {
  wrap_avframe_t frame(16, 16, AV_PIX_FMT_YUV420P, std::nullopt, 30, 0, true);
  frame->width = -16;
  expect_check_failure_at(
      [&] { avframe_to_frame(frame, 0, 1); },
      {bridge_file,
       "vantor::video::frame_t vantor::video::avframe_to_frame(const "
       "vantor::video::wrap_avframe_t&, uint64_t, uint32_t)"},
      "av.width >= 0 && av.height >= 0");
  frame->width = 16;
}

}  // namespace
}  // namespace vantor::video
