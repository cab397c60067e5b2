#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>

#include "pellix/hexdump.hpp"
#include "transcode/video_base.hpp"

namespace vantor::video {
namespace {

using format_t = frame_t::format_t;

uint16_t sample16(const std::vector<uint8_t>& data, size_t offset) {
  return static_cast<uint16_t>(data[offset] | (data[offset + 1] << 8));
}

TEST(create_frame_data, yuv420p_planes_sit_where_the_layout_says) {
  auto const data = create_frame_data(8, 4, format_t::yuv420p, {16, 100, 200});
  ASSERT_EQ(data.size(), 8u * 4 * 3 / 2);
  for (size_t i = 0; i < 32; ++i) EXPECT_EQ(data[i], 16) << i;
  for (size_t i = 32; i < 40; ++i) EXPECT_EQ(data[i], 100) << i;  // U at W*H
  for (size_t i = 40; i < 48; ++i) EXPECT_EQ(data[i], 200) << i;  // V at W*H*5/4
}

TEST(create_frame_data, nv12_interleaves_the_chroma_pairs) {
  auto const data = create_frame_data(4, 2, format_t::nv12, {16, 100, 200});
  ASSERT_EQ(data.size(), 12u);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(data[i], 16);
  EXPECT_EQ(data[8], 100);
  EXPECT_EQ(data[9], 200);
  EXPECT_EQ(data[10], 100);
  EXPECT_EQ(data[11], 200);
}

TEST(create_frame_data, ten_bit_samples_are_little_endian_words) {
  auto const data = create_frame_data(4, 2, format_t::yuv420p10le, black_of(format_t::yuv420p10le));
  ASSERT_EQ(data.size(), 2u * 4 * 2 * 3 / 2);
  for (size_t i = 0; i < 16; i += 2) EXPECT_EQ(sample16(data, i), 64);
  EXPECT_EQ(sample16(data, 16), 512);  // U at 2*W*H
  EXPECT_EQ(sample16(data, 20), 512);  // V at 2*(W*H*5/4)
}

TEST(create_frame_data, odd_sizes_follow_the_integer_divisions) {
  // 5x3: U at 15, V at (15*5)/4 = 18, V holds H/2 rows of W/2 bytes = 2.
  auto const data = create_frame_data(5, 3, format_t::yuv420p, {1, 2, 3});
  ASSERT_EQ(data.size(), 20u);
  EXPECT_EQ(data[14], 1);
  EXPECT_EQ(data[15], 2);
  EXPECT_EQ(data[17], 2);
  EXPECT_EQ(data[18], 3);
  EXPECT_EQ(data[19], 3);
}

TEST(create_frame_data, huge_sizes_throw_instead_of_wrapping) {
  unsigned const huge = std::numeric_limits<uint32_t>::max();
  EXPECT_THROW(frame_data_size(huge, huge, format_t::yuv420p10le), exception);
  EXPECT_THROW(frame_data_size(huge, huge, format_t::yuv420p), exception);
  EXPECT_THROW(create_frame_data(2, 2, static_cast<format_t>(7), {0, 0, 0}), exception);
}

TEST(frame_format, invalid_format_names_the_value) {
  try {
    invalid_frame_format(static_cast<format_t>(9));
    FAIL();
  } catch (const exception& error) {
    EXPECT_EQ(error.result(), vantor_result_check_failed);
    EXPECT_NE(std::string(error.what()).find('9'), std::string::npos) << error.what();
  }
}

TEST(frame_format, texts_are_readable) {
  EXPECT_EQ(to_string(format_t::nv12), "nv12");
  EXPECT_EQ(to_string(format_t::yuv420p10le), "yuv420p10le");
  frame_t frame;
  frame.width_ = 4;
  frame.height_ = 2;
  frame.format_ = format_t::yuv420p;
  frame.pts_ = 40;
  frame.timescale_ = 1000;
  frame.keyframe_ = true;
  frame.data_ = create_frame_data(4, 2, format_t::yuv420p, {16, 128, 128});
  EXPECT_EQ(to_string(frame, false), "4x2 yuv420p pts=40/1000 key bytes=12");
  EXPECT_EQ(to_string(frame, true), "4x2 yuv420p pts=40/1000 key bytes=12 first bytes=[10 10 10 10 10 10 10 10]");
}

std::string dump(const std::vector<uint8_t>& bytes, size_t max_shown = 64) {
  std::ostringstream out;
  out << std::dec;
  pellix::hexdump_t(bytes.data(), bytes.data() + bytes.size(), max_shown).print(out);
  return out.str();
}

TEST(hexdump, one_line_with_count_and_bytes) {
  EXPECT_EQ(dump({0x01, 0x64, 0x00}), "[3 bytes: 01 64 00]");
  EXPECT_EQ(dump({}), "[0 bytes]");
  EXPECT_EQ(dump({0xff}), "[1 byte: ff]");
}

TEST(hexdump, shortens_long_ranges_visibly) {
  std::vector<uint8_t> bytes(1238, 0xab);
  EXPECT_EQ(dump(bytes, 4), "[1238 bytes: ab ab ab ab \xe2\x80\xa6 1234 more]");
}

TEST(hexdump, leaves_the_stream_in_decimal) {
  std::ostringstream out;
  std::vector<uint8_t> const bytes{0x10};
  pellix::hexdump_t(bytes.data(), bytes.data() + 1).print(out);
  out << 16;
  EXPECT_EQ(out.str(), "[1 byte: 10]16");
}

}  // namespace
}  // namespace vantor::video
