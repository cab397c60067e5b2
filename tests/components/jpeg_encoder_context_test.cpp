// The JPEG encoder's codec context: quality and aspect ratio as libavcodec
// receives them (seen through the debug lines), and failures at creation.

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
using sar_t = std::optional<fraction_t<unsigned int, unsigned int>>;

constexpr check_site_t kConstructor = {
    "ffmpeg_utils/video_encoder_jpg_avcodec.cpp",
    "vantor::video::{anonymous}::avcodec_jpg_encoder_t::avcodec_jpg_encoder_t("
    "vantor::log_context_t&, std::unique_ptr<vantor::video::frame_source_t>, "
    "const std::optional<vantor::fraction_t<unsigned int, unsigned int> >&, uint32_t)"};

std::vector<frame_t> pictures(int count) {
  std::vector<frame_t> frames;
  for (int i = 0; i < count; ++i)
    frames.push_back(pack_frame(make_pattern(64, 48, false, i), format_t::yuv420p, 40u * i));
  return frames;
}

std::unique_ptr<sample_source_t> encoder_over(log_context_t& log, int count, const sar_t& sar,
                                              uint32_t quality) {
  return video::create_avcodec_jpg_encoder(log, play(pictures(count), end_frame(40u * count)),
                                           sar, quality);
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(jpeg_context, quality_sets_the_lambda_of_the_context_and_of_every_frame) {
  struct {
    uint32_t quality;
    std::string lambda;
  } const cases[] = {{30, "1300"}, {0, "3658"}, {100, "236"}};
  for (const auto& c : cases) {
    SCOPED_TRACE("quality " + std::to_string(c.quality));
    capture_log_t log(vantor_log_debug);
    auto encoder = encoder_over(log.context, 3, std::nullopt, c.quality);
    ASSERT_EQ(read_all(*encoder).size(), 3u);
    const auto opening = log.starting_with("video_encoder_jpg_avcodec: opening avencoder={");
    ASSERT_EQ(opening.size(), 1u);
    EXPECT_TRUE(contains(opening[0], " global_quality=" + c.lambda + " ")) << opening[0];
    EXPECT_TRUE(contains(opening[0], " flags=0x2 ")) << opening[0];
    EXPECT_TRUE(contains(opening[0], " pix_fmt=YUVJ420P ")) << opening[0];
    EXPECT_TRUE(contains(opening[0], " time_base=1/1000 ")) << opening[0];
    const auto sending = log.starting_with("video_encoder_jpg_avcodec: sending avframe={");
    ASSERT_EQ(sending.size(), 3u);
    for (const std::string& line : sending)
      EXPECT_TRUE(contains(line, " quality=" + c.lambda + " ")) << line;
    EXPECT_EQ(log.starting_with("video_encoder_jpg_avcodec: opened avencoder={").size(), 1u);
  }
}

TEST(jpeg_context, configuration_line_and_context_carry_the_sample_aspect_ratio) {
  struct {
    sar_t sar;
    std::string text;
    std::string rational;
  } const cases[] = {{std::nullopt, "nullopt", "1/1"}, {sar_t{{4, 3}}, "4/3", "4/3"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    capture_log_t log(vantor_log_debug);
    auto encoder = encoder_over(log.context, 1, c.sar, 30);
    EXPECT_EQ(encoder->trak().sar, c.sar);
    EXPECT_EQ(log.starting_with("video_encoder_jpg_avcodec: width=").at(0),
              "video_encoder_jpg_avcodec: width=64 height=48 sar=" + c.text + " quality=30");
    EXPECT_TRUE(contains(log.starting_with("video_encoder_jpg_avcodec: opening").at(0),
                         " sample_aspect_ratio=" + c.rational + " "));
  }
}

TEST(jpeg_context, below_debug_only_configuration_conversion_and_count_are_written) {
  capture_log_t info(vantor_log_info);
  read_all(*encoder_over(info.context, 2, std::nullopt, 30));
  const auto lines = info.starting_with("video_encoder_jpg_avcodec: ");
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "video_encoder_jpg_avcodec: width=64 height=48 sar=nullopt quality=30",
                       "video_encoder_jpg_avcodec: convert from format yuv420p to format YUVJ420P",
                       "video_encoder_jpg_avcodec: encoded 2 samples"}));

  capture_log_t warning(vantor_log_warning);
  read_all(*encoder_over(warning.context, 2, std::nullopt, 30));
  EXPECT_TRUE(warning.starting_with("video_encoder_jpg_avcodec: ").empty());
}

TEST(jpeg_context, debug_lines_trace_the_pulls) {
  capture_log_t log(vantor_log_debug);
  auto encoder = encoder_over(log.context, 1, std::nullopt, 30);
  const auto called =
      log.starting_with("video_encoder_jpg_avcodec: called frame_source_t::operator(), frame={");
  ASSERT_EQ(called.size(), 1u);
  EXPECT_EQ(called[0], "video_encoder_jpg_avcodec: called frame_source_t::operator(), frame={" +
                           video::to_string(pictures(1)[0], false) + "}");
  EXPECT_EQ(log.starting_with("video_encoder_jpg_avcodec: timescale=").at(0),
            "video_encoder_jpg_avcodec: timescale=1000");
}

TEST(jpeg_context, creation_fails_on_bad_arguments_and_on_an_input_already_at_its_end) {
  capture_log_t log(0);
  // The bridge's checks, with the bridge's texts.
  expect_check_failure_at([&] { encoder_over(log.context, 1, std::nullopt, 101); },
                          {"ffmpeg_utils/ffmpeg_utils.cpp",
                           "int vantor::video::quality_to_lambda(uint32_t)"},
                          "quality <= 100");
  expect_check_failure_at([&] { encoder_over(log.context, 1, sar_t{{2147483648u, 1}}, 30); },
                          {"ffmpeg_utils/ffmpeg_utils.cpp",
                           "AVRational vantor::video::make_rational(uint32_t, uint32_t)"},
                          "num <= static_cast<uint32_t>(std::numeric_limits<int>::max())");

  expect_check_failure_at(
      [&] { video::create_avcodec_jpg_encoder(log.context, nullptr, std::nullopt, 30); },
      kConstructor, "input");

  // A 0x0 stream cannot open the codec.
  const std::string prefix =
      "video_encoder_jpg_avcodec: libvavcodec failed to open a MJPEG encoder context: ";
  auto ended = catch_vantor([&] {
    video::create_avcodec_jpg_encoder(log.context, play({}, end_frame(0)), std::nullopt, 30);
  });
  ASSERT_TRUE(ended);
  EXPECT_EQ(ended->result(), vantor_result_libav_failure);
  EXPECT_EQ(std::string(ended->what()).rfind(prefix, 0), 0u) << ended->what();
  EXPECT_GT(std::string(ended->what()).size(), prefix.size());
}

}  // namespace
}  // namespace vantor::testing
