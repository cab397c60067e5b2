// The JPEG encoder's pictures, read back with libjpeg-turbo: what kind of
// JPEG each sample is, and how close it comes to the source picture.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "components/jpeg_encoder_support.hpp"
#include "ffmpeg_utils/exports.hpp"
#include "support/capture_log.hpp"
#include "support/frames.hpp"
#include "support/jpeg_decode.hpp"
#include "support/picture_quality.hpp"

namespace vantor::testing {
namespace {

using format_t = frame_t::format_t;

struct quality_t {
  double luma;
  double chroma;  // the worse of Cb and Cr
};

// Encodes one pattern picture and compares the decoded JPEG with the
// full-range version of the source. Also returns the PSNR against the
// unconverted samples, which a missing range conversion would match.
struct measured_t {
  quality_t full;
  quality_t unconverted;
};

quality_t compare(const decoded_jpeg_t& jpeg, const full_range_t& reference) {
  return {psnr(jpeg.y, reference.y),
          std::min(psnr(jpeg.cb, reference.u), psnr(jpeg.cr, reference.v))};
}

measured_t encode_and_measure(format_t format, uint32_t quality, uint32_t width = 320,
                              uint32_t height = 240) {
  const planes_t source = make_pattern(width, height, is_ten_bit(format));
  capture_log_t log(0);
  auto encoder = video::create_avcodec_jpg_encoder(
      log.context, play({pack_frame(source, format, 0)}, end_frame(40)), std::nullopt, quality);
  const std::vector<full_sample_t> samples = read_all(*encoder);
  EXPECT_EQ(samples.size(), 1u);
  const decoded_jpeg_t jpeg = decode_jpeg(payload(samples.at(0)));
  EXPECT_EQ(jpeg.width, static_cast<int>(width));
  EXPECT_EQ(jpeg.height, static_cast<int>(height));
  const measured_t m{compare(jpeg, to_full_range(source, is_ten_bit(format))),
                     compare(jpeg, unconverted(source, is_ten_bit(format)))};
  std::printf("format %s quality %u: PSNR Y %.2f dB, chroma %.2f dB (unconverted: %.2f / %.2f)\n",
              video::to_string(format).c_str(), quality, m.full.luma, m.full.chroma,
              m.unconverted.luma, m.unconverted.chroma);
  return m;
}

TEST(jpeg_picture, every_sample_is_a_baseline_yuv420_jpeg_of_the_picture_size) {
  capture_log_t log(0);
  std::vector<frame_t> frames;
  for (uint64_t i = 0; i < 3; ++i)
    frames.push_back(pack_frame(make_pattern(176, 144, false, int(i)), format_t::yuv420p, 40 * i));
  auto encoder = video::create_avcodec_jpg_encoder(log.context, play(frames, end_frame(120)),
                                                   std::nullopt, 30);
  const std::vector<full_sample_t> samples = read_all(*encoder);
  ASSERT_EQ(samples.size(), 3u);
  for (const full_sample_t& sample : samples) {
    const std::vector<uint8_t> bytes = payload(sample);
    const jpeg_frame_header_t header = read_frame_header(bytes);
    EXPECT_EQ(header.sof_marker, 0xC0);  // baseline DCT
    EXPECT_EQ(header.precision, 8);
    EXPECT_EQ(header.width, 176);
    EXPECT_EQ(header.height, 144);
    EXPECT_EQ(header.sampling, (std::vector<int>{0x22, 0x11, 0x11}));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[bytes.size() - 2], 0xFF);  // ends in EOI
    EXPECT_EQ(bytes.back(), 0xD9);

    const decoded_jpeg_t jpeg = decode_jpeg(bytes);
    EXPECT_EQ(jpeg.subsampling, TJSAMP_420);
    EXPECT_EQ(jpeg.colorspace, TJCS_YCbCr);
  }
}

// Thresholds sit just below the measured values; a picture passed on at
// video levels, or with Cb and Cr swapped, falls far below them.
TEST(jpeg_picture, psnr_against_the_full_range_source_rises_with_quality) {
  struct {
    uint32_t quality;
    quality_t least;
  } const cases[] = {{30, {37.0, 40.5}}, {75, {42.5, 46.0}}, {100, {46.5, 49.5}}};
  for (const auto& c : cases) {
    SCOPED_TRACE("quality " + std::to_string(c.quality));
    const measured_t m = encode_and_measure(format_t::yuv420p, c.quality);
    EXPECT_GT(m.full.luma, c.least.luma);
    EXPECT_GT(m.full.chroma, c.least.chroma);
    EXPECT_GT(m.full.luma, m.unconverted.luma + 3.0);
  }
}

TEST(jpeg_picture, every_source_format_converts_to_the_same_full_range_picture) {
  for (format_t format : {format_t::nv12, format_t::yuv420p, format_t::yuv420p10le}) {
    SCOPED_TRACE(video::to_string(format));
    const measured_t m = encode_and_measure(format, 75);
    EXPECT_GT(m.full.luma, 42.5);
    EXPECT_GT(m.full.chroma, 46.0);
    EXPECT_GT(m.full.luma, m.unconverted.luma + 3.0);
  }
}

}  // namespace
}  // namespace vantor::testing
