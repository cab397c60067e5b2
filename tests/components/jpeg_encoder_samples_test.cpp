// The JPEG encoder's samples and track: timing, flags, the end of the
// stream, and the checks on the pictures it is given.

#include <gtest/gtest.h>

#include <string>

#include "components/jpeg_encoder_support.hpp"
#include "ffmpeg_utils/exports.hpp"
#include "support/capture_log.hpp"
#include "support/expect_failure.hpp"
#include "support/frames.hpp"

namespace vantor::testing {
namespace {

using format_t = frame_t::format_t;

constexpr const char* kSource = "ffmpeg_utils/video_encoder_jpg_avcodec.cpp";
constexpr check_site_t kReadSample = {
    kSource,
    "virtual std::optional<vantor::full_sample_t> "
    "vantor::video::{anonymous}::avcodec_jpg_encoder_t::read_sample()"};
constexpr check_site_t kMakeSample = {
    kSource,
    "vantor::full_sample_t vantor::video::{anonymous}::avcodec_jpg_encoder_t::make_sample("
    "uint64_t, uint64_t, const uint8_t*, const uint8_t*)"};

frame_t picture(uint64_t pts, uint32_t width = 64, uint32_t height = 48,
                format_t format = format_t::yuv420p) {
  return pack_frame(make_pattern(width, height, is_ten_bit(format)), format, pts);
}

std::unique_ptr<sample_source_t> encoder_over(log_context_t& log, std::vector<frame_t> frames,
                                              frame_t end, std::shared_ptr<int> pulls = nullptr) {
  return video::create_avcodec_jpg_encoder(log, play(std::move(frames), std::move(end), pulls),
                                           std::nullopt, 30);
}

TEST(jpeg_samples, each_picture_lasts_until_the_next_and_the_end_frame_closes_the_last) {
  capture_log_t log(vantor_log_info);
  auto pulls = std::make_shared<int>(0);
  auto encoder = encoder_over(log.context, {picture(0), picture(40), picture(80)},
                              end_frame(120), pulls);
  EXPECT_EQ(encoder->first_dts(), 0u);
  EXPECT_EQ(encoder->trak().media_timescale, 1000u);
  EXPECT_EQ(encoder->trak().codec, codec_t::jpeg);
  EXPECT_EQ(encoder->trak().width, 64u);
  EXPECT_EQ(encoder->trak().height, 48u);

  const std::vector<full_sample_t> samples = read_all(*encoder);
  ASSERT_EQ(samples.size(), 3u);
  for (const full_sample_t& s : samples) {
    EXPECT_EQ(s.duration(), 40u);
    EXPECT_EQ(s.composition_offset(), 0);
    EXPECT_EQ(s.sample_description_index(), 1u);
    EXPECT_EQ(s.flags().bits_, 0x0040018u);
    EXPECT_EQ(s.flags().reserved_, 0u);
    EXPECT_TRUE(s.is_sync_sample());
    EXPECT_FALSE(s.subsamples().has_value());
    EXPECT_EQ(buckets_size(s.aux_data()), 0u);
    EXPECT_GT(buckets_size(s.data()), 0u);
  }
  // Ended: no more pulls upstream, and the count is written again each time.
  EXPECT_FALSE(encoder->read_sample().has_value());
  EXPECT_EQ(*pulls, 4);
  const auto counts = log.starting_with("video_encoder_jpg_avcodec: encoded ");
  ASSERT_EQ(counts.size(), 2u);
  EXPECT_EQ(counts[0], "video_encoder_jpg_avcodec: encoded 3 samples");
  EXPECT_EQ(counts[1], counts[0]);
}

TEST(jpeg_samples, first_dts_is_the_first_pictures_time_in_its_timescale) {
  capture_log_t log(0);
  frame_t first = picture(3003);
  first.timescale_ = 30000;
  auto encoder = encoder_over(log.context, {std::move(first)}, end_frame(6006, 30000));
  EXPECT_EQ(encoder->first_dts(), 3003u);
  EXPECT_EQ(encoder->trak().media_timescale, 30000u);
  EXPECT_EQ(encoder->read_sample()->duration(), 3003u);
}

TEST(jpeg_samples, durations_must_be_positive_and_fit_in_32_bits) {
  capture_log_t log(0);
  auto equal = encoder_over(log.context, {picture(80)}, end_frame(80));
  expect_check_failure_at([&] { equal->read_sample(); }, kMakeSample, "next_pts > pts");

  auto widest = encoder_over(log.context, {picture(1)}, end_frame(uint64_t{1} + 4294967295u));
  EXPECT_EQ(widest->read_sample()->duration(), 4294967295u);

  auto too_wide = encoder_over(log.context, {picture(1)}, end_frame(uint64_t{1} + 4294967296u));
  expect_check_failure_at([&] { too_wide->read_sample(); }, kMakeSample,
                          "duration <= std::numeric_limits<uint32_t>::max()");
}

TEST(jpeg_samples, a_picture_of_another_size_fails) {
  capture_log_t log(0);
  auto wider = encoder_over(log.context, {picture(0), picture(40, 80, 48)}, end_frame(80));
  expect_check_failure_at([&] { wider->read_sample(); }, kReadSample,
                          "next_frame.width_ == 0 || next_frame.width_ == width_");

  auto taller = encoder_over(log.context, {picture(0), picture(40, 64, 64)}, end_frame(80));
  expect_check_failure_at([&] { taller->read_sample(); }, kReadSample,
                          "next_frame.height_ == 0 || next_frame.height_ == height_");
}

TEST(jpeg_samples, a_format_change_builds_a_new_converter_only_when_the_format_changes) {
  capture_log_t log(vantor_log_info);
  auto encoder = encoder_over(log.context,
                              {picture(0), picture(40, 64, 48, format_t::nv12),
                               picture(80, 64, 48, format_t::nv12),
                               picture(120, 64, 48, format_t::yuv420p10le)},
                              end_frame(160));
  EXPECT_EQ(read_all(*encoder).size(), 4u);
  const auto lines = log.starting_with("video_encoder_jpg_avcodec: convert from format ");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "video_encoder_jpg_avcodec: convert from format yuv420p to format YUVJ420P");
  EXPECT_EQ(lines[1], "video_encoder_jpg_avcodec: convert from format nv12 to format YUVJ420P");
  EXPECT_EQ(lines[2],
            "video_encoder_jpg_avcodec: convert from format yuv420p10le to format YUVJ420P");
}

// After a converter could not be built for a new format, the next attempt
// builds it again instead of using the one made for the old format.
TEST(jpeg_samples, a_failed_converter_is_never_replaced_by_the_previous_one) {
  capture_log_t log(vantor_log_info);
  frame_t unknown = picture(40);
  unknown.format_ = format_t{7};
  auto encoder =
      encoder_over(log.context, {picture(0), std::move(unknown), picture(80)}, end_frame(120));
  ASSERT_TRUE(encoder->read_sample().has_value());
  for (int attempt = 0; attempt < 2; ++attempt) {
    expect_message([&] { encoder->read_sample(); }, vantor_result_check_failed,
                   "invalid frame format 7");
  }
  EXPECT_EQ(log.starting_with("video_encoder_jpg_avcodec: convert from format ").size(), 3u);
}

}  // namespace
}  // namespace vantor::testing
