// make_rational, quality_to_lambda and the decoder context.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ffmpeg_utils/ffmpeg_utils.hpp"
#include "support/expect_failure.hpp"

namespace vantor::video {
namespace {

using vantor::testing::catch_vantor;
using vantor::testing::expect_check_failure_at;
using vantor::testing::expect_message;

// Every check of the bridge names its one documented source.
constexpr const char* bridge_file = "ffmpeg_utils/ffmpeg_utils.cpp";
constexpr check_site_t make_rational_site = {
    bridge_file, "AVRational vantor::video::make_rational(uint32_t, uint32_t)"};
constexpr const char* num_check = "num <= static_cast<uint32_t>(std::numeric_limits<int>::max())";
constexpr const char* den_check = "den <= static_cast<uint32_t>(std::numeric_limits<int>::max())";

TEST(make_rational, passes_terms_unchanged_up_to_int_max) {
  AVRational const largest = make_rational(2147483647u, 1u);
  EXPECT_EQ(largest.num, 2147483647);
  EXPECT_EQ(largest.den, 1);
  AVRational const unreduced = make_rational(4u, 2u);
  EXPECT_EQ(unreduced.num, 4);
  EXPECT_EQ(unreduced.den, 2);
  AVRational const zero_den = make_rational(1u, 0u);
  EXPECT_EQ(zero_den.num, 1);
  EXPECT_EQ(zero_den.den, 0);
  AVRational const from_fraction = make_rational(fraction_t<unsigned, unsigned>{16, 2147483647u});
  EXPECT_EQ(from_fraction.num, 16);
  EXPECT_EQ(from_fraction.den, 2147483647);
}

TEST(make_rational, rejects_terms_above_int_max) {
  expect_check_failure_at([] { make_rational(2147483648u, 1u); }, make_rational_site, num_check);
  expect_check_failure_at([] { make_rational(1u, 2147483648u); }, make_rational_site, den_check);
  // The numerator is checked first.
  expect_check_failure_at([] { make_rational(4294967295u, 4294967295u); }, make_rational_site,
                          num_check);
  expect_check_failure_at([] { make_rational(fraction_t<unsigned, unsigned>{2147483648u, 1}); },
                          make_rational_site, num_check);
  expect_check_failure_at([] { make_rational(fraction_t<unsigned, unsigned>{1, 4294967295u}); },
                          make_rational_site, den_check);
}

TEST(quality_to_lambda, matches_the_reference_table) {
  std::vector<std::pair<uint32_t, int>> const reference = {
      {0, 3658}, {1, 3353}, {10, 2184}, {25, 1455}, {50, 856},
      {75, 495}, {90, 331}, {95, 282},  {99, 245},  {100, 236}};
  for (auto const& [quality, lambda] : reference) {
    EXPECT_EQ(quality_to_lambda(quality), lambda) << "quality " << quality;
  }
  EXPECT_EQ(quality_to_lambda(30), 1300);  // the JPEG module's default
}

TEST(quality_to_lambda, falls_with_rising_quality) {
  for (uint32_t quality = 1; quality <= 100; ++quality) {
    EXPECT_LT(quality_to_lambda(quality), quality_to_lambda(quality - 1)) << quality;
  }
}

TEST(quality_to_lambda, rejects_quality_above_100) {
  for (uint32_t quality : {101u, 4294967295u}) {
    expect_check_failure_at([quality] { quality_to_lambda(quality); },
                            {bridge_file, "int vantor::video::quality_to_lambda(uint32_t)"},
                            "quality <= 100");
  }
}

// A log context that records every line it is given.
struct recording_log_t {
  std::vector<std::pair<vantor_log_level_t, std::string>> lines;
  log_context_t context{vantor_log_trace, [this](vantor_log_level_t level, std::string_view text) {
                          lines.emplace_back(level, std::string(text));
                        }};
};

TEST(avdecoder_context, opens_h264_and_hevc_with_the_log_bridge_attached) {
  for (const char* name : {"h264", "hevc"}) {
    recording_log_t log;
    avdecoder_context_t decoder(log.context, name);
    ASSERT_NE(decoder.context(), nullptr);
    EXPECT_TRUE(avcodec_is_open(decoder.context())) << name;
    ASSERT_NE(decoder.context()->codec, nullptr);
    EXPECT_STREQ(decoder.context()->codec->name, name);
    EXPECT_EQ(decoder.context()->opaque, &decoder.synchronizer());
    EXPECT_EQ(decoder.synchronizer().verbosity_threshold, vantor_log_trace);

    // Needs input before it can produce anything; the forwarder just reports it.
    wrap_avframe_t frame;
    EXPECT_EQ(frame.receive_from(decoder.context()), AVERROR(EAGAIN));
  }
}

TEST(avdecoder_context, names_a_missing_decoder_unchanged) {
  recording_log_t log;
  for (std::string name : {"no_such_decoder", "H264 ", "h264\xc3\xa9"}) {
    expect_message([&] { avdecoder_context_t decoder(log.context, name); },
                   vantor_result_libav_failure,
                   "avdecoder_context: libavcodec failed to find a " + name + " decoder");
  }
}

TEST(avdecoder_context, failed_open_logs_ffmpegs_reason_before_throwing) {
  // Raw video cannot open without a pixel format, and FFmpeg says so.
  recording_log_t log;
  std::optional<vantor::exception> e =
      catch_vantor([&] { avdecoder_context_t decoder(log.context, "rawvideo"); });
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->result(), vantor_result_libav_failure);
  EXPECT_EQ(std::string(e->what()),
            "avdecoder_context: libavcodec failed to open a rawvideo decoder context: " +
                averror_to_string(AVERROR(EINVAL)));
  ASSERT_FALSE(log.lines.empty()) << "FFmpeg's message was not flushed before the throw";
  EXPECT_EQ(log.lines.back().first, vantor_log_error);
  EXPECT_EQ(log.lines.back().second, "libavcodec: Invalid pixel format.\n");
}

}  // namespace
}  // namespace vantor::video
