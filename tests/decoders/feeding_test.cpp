// How the decoders feed libavcodec: one sample per packet, only as many as
// the codec asks for, and end of stream once the samples run out.

#include <gtest/gtest.h>

#include <string>

#include "support/clip_table.hpp"
#include "decoders/decoder_test_support.hpp"
#include "support/capture_log.hpp"

namespace vantor::testing {
namespace {

// A decoder over the clip, with every trace line kept.
class feeding : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    reference_ = find_clip(GetParam());
    name_ = component_name_for_codec(reference_.codec);
    under_test_ = open_probed_decoder(log_.context, reference_.codec, clip_path(reference_.name));
  }

  clip_t reference_;
  std::string name_;
  capture_log_t log_{vantor_log_debug};
  probed_decoder_t under_test_;  // after the log, which it writes to
};

TEST_P(feeding, sends_only_the_samples_needed_for_the_first_picture) {
  // Creation sends the first sample; the base has already read the next one.
  EXPECT_EQ(under_test_.probe->samples, 2u);
  EXPECT_EQ(log_.starting_with(name_ + ": sending packet: ").size(), 1u);

  frame_t const first = (*under_test_.decoder)();
  ASSERT_FALSE(first.is_end_of_stream());
  // A codec that reorders by N pictures holds N + 1 samples before the first
  // picture can leave it; each send_packet() consumed exactly one sample.
  size_t const sent = reference_.reorder_depth + 1;
  EXPECT_EQ(log_.starting_with(name_ + ": sending packet: ").size(), sent);
  EXPECT_EQ(under_test_.probe->samples, sent + 1);
  EXPECT_EQ(log_.starting_with(name_ + ": got a frame: ").size(), 1u);

  // From then on, one sample in for every picture out.
  frame_t const second = (*under_test_.decoder)();
  ASSERT_FALSE(second.is_end_of_stream());
  EXPECT_EQ(log_.starting_with(name_ + ": sending packet: ").size(), sent + 1);
  EXPECT_GT(second.pts_, first.pts_);
}

TEST_P(feeding, drains_the_buffered_pictures_after_end_of_stream) {
  decoded_stream_t const decoded = decode_stream(*under_test_.decoder);
  EXPECT_EQ(decoded.pictures.size(), reference_.frames);

  // Every sample went out as one packet, then end of stream once; the
  // pictures still held by the codec followed it.
  size_t sends = 0, eofs = 0, pictures_after_eof = 0;
  for (const captured_line_t& line : log_.lines) {
    if (line.text.rfind(name_ + ": sending packet: ", 0) == 0) {
      EXPECT_EQ(eofs, 0u) << "a packet after end of stream";
      ++sends;
    } else if (line.text == name_ + ": sending EOF") {
      ++eofs;
    } else if (line.text.rfind(name_ + ": out [", 0) == 0 && eofs != 0) {
      ++pictures_after_eof;
    }
  }
  EXPECT_EQ(sends, reference_.frames);
  EXPECT_EQ(eofs, 1u);
  // The last packet still lets one picture out; the reorder depth is left.
  EXPECT_EQ(pictures_after_eof, reference_.reorder_depth);
}

INSTANTIATE_TEST_SUITE_P(clips, feeding,
                         ::testing::Values("h264_high_bframes.mp4", "hevc_main_bframes.mp4",
                                           "h264_size_change.mp4"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param.substr(0, info.param.find('.'));
                         });

}  // namespace
}  // namespace vantor::testing
