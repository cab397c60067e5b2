// Decoder, resize filter and JPEG encoder chained on the committed clips:
// every decoded picture becomes one JPEG of the fixed output size, and the
// samples' durations add up to the clip's duration.

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "components/jpeg_encoder_support.hpp"
#include "support/clip_table.hpp"
#include "ffmpeg_utils/exports.hpp"
#include "sources/file_sample_source.hpp"
#include "support/capture_log.hpp"
#include "support/jpeg_decode.hpp"

namespace vantor::testing {
namespace {

class whole_chain : public ::testing::TestWithParam<std::string> {};

TEST_P(whole_chain, every_decoded_picture_becomes_one_jpeg_of_the_output_size) {
  const clip_t clip = find_clip(GetParam());
  capture_log_t log(vantor_log_warning);
  auto samples = vantor::sources::open_file_sample_source(clip_path(clip.name));
  auto decoder = clip.codec == "hevc"
                     ? video::create_avcodec_hvc_decoder(log.context, std::move(samples))
                     : video::create_avcodec_avc_decoder(log.context, std::move(samples));
  // Pillarboxed: 4:3 pictures in a 16:9 frame.
  auto resize = video::create_swscale_resize_filter(log.context, std::move(decoder), 640, 360, 80,
                                                    0, 480, 360);
  auto encoder = video::create_avcodec_jpg_encoder(log.context, std::move(resize),
                                                   std::nullopt, 30);
  EXPECT_EQ(encoder->trak().media_timescale, clip.timescale);
  EXPECT_EQ(encoder->trak().width, 640u);
  EXPECT_EQ(encoder->trak().height, 360u);

  size_t count = 0;
  uint64_t duration = 0;
  while (std::optional<full_sample_t> sample = encoder->read_sample()) {
    const std::vector<uint8_t> bytes = payload(*sample);
    const jpeg_frame_header_t header = read_frame_header(bytes);
    EXPECT_EQ(header.width, 640) << "sample " << count;
    EXPECT_EQ(header.height, 360) << "sample " << count;
    if (count == 0) {
      // The pillars are video-level black, which full range makes 0.
      const decoded_jpeg_t jpeg = decode_jpeg(bytes);
      int bright = 0;
      for (int r = 0; r < 360; ++r)
        for (int c = 0; c < 72; ++c) bright += jpeg.y[r * 640 + c] > 3;
      EXPECT_EQ(bright, 0);
    }
    ++count;
    duration += sample->duration();
  }
  EXPECT_EQ(count, clip.frames);
  EXPECT_EQ(duration, clip.duration_ticks);
}

INSTANTIATE_TEST_SUITE_P(clips, whole_chain,
                         ::testing::Values("h264_high_bframes.mp4", "hevc_main_bframes.mp4",
                                           "h264_size_change.mp4", "hevc_main10.mp4",
                                           "h264_fullrange.mp4"),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (c == '.') c = '_';
                           return name;
                         });

}  // namespace
}  // namespace vantor::testing
