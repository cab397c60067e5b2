// The end of a stream: what the end frame carries, that it repeats without
// touching the source again, an input without any sample, and the end time
// of every clip against the reference.

#include <gtest/gtest.h>

#include <string>

#include "decoders/decoder_test_support.hpp"
#include "support/capture_log.hpp"
#include "support/clip_table.hpp"

namespace vantor::testing {
namespace {

struct stream_case_t {
  std::string codec;
  std::string clip;
  frame_t::format_t format;
};

void PrintTo(const stream_case_t& value, std::ostream* os) { *os << value.clip; }

class end_frame : public ::testing::TestWithParam<stream_case_t> {
 protected:
  std::string path() const { return clip_path(GetParam().clip); }
  std::string name() const { return component_name_for_codec(GetParam().codec); }
  // A decoder whose source hands out no sample at all.
  probed_decoder_t open_without_samples(capture_log_t& log, probe_options_t options) const {
    options.limit = 0;
    return open_probed_decoder(log.context, GetParam().codec, path(), std::move(options));
  }
};

TEST_P(end_frame, carries_the_format_of_the_pictures_and_the_end_time) {
  capture_log_t log(vantor_log_warning);
  probed_decoder_t under_test = open_probed_decoder(log.context, GetParam().codec, path());
  decoded_stream_t const decoded = decode_stream(*under_test.decoder);
  track_timing_t const timing = read_clip_timing(path());

  EXPECT_EQ(decoded.end.format_, GetParam().format);
  EXPECT_EQ(decoded.end.pts_, timing.end_time());
  // A B-frame clip ends after its last picture, so that picture has a duration.
  EXPECT_GT(decoded.end.pts_, decoded.pictures.back().pts);
  EXPECT_EQ(decoded.end.timescale_, timing.timescale);
  EXPECT_EQ(decoded.end.width_, 0u);
  EXPECT_EQ(decoded.end.height_, 0u);
  EXPECT_TRUE(decoded.end.data_.empty());
  EXPECT_FALSE(decoded.end.keyframe_);
}

TEST_P(end_frame, repeats_without_reading_the_source_again) {
  capture_log_t log(vantor_log_debug);
  probed_decoder_t under_test = open_probed_decoder(log.context, GetParam().codec, path());
  decoded_stream_t const decoded = decode_stream(*under_test.decoder);
  size_t const reads_at_end = under_test.probe->read_calls;
  uint64_t const decoder_end = read_clip_timing(path()).decoder_end();

  for (int i = 0; i < 3; ++i) {
    frame_t const again = (*under_test.decoder)();
    EXPECT_TRUE(again.is_end_of_stream());
    EXPECT_EQ(again.pts_, decoded.end.pts_);
    EXPECT_EQ(again.format_, decoded.end.format_);
    EXPECT_EQ(again.timescale_, decoded.end.timescale_);
  }
  EXPECT_EQ(under_test.probe->read_calls, reads_at_end);

  // Every end frame logs its flush line with the count of pictures and the
  // decoder's own end time, and has the base report its count.
  std::string const flush = name() + ": flush [" + std::to_string(decoded.pictures.size()) +
                            "] pts=" + std::to_string(decoder_end);
  std::vector<std::string> const flushes = log.starting_with(name() + ": flush [");
  EXPECT_EQ(flushes, std::vector<std::string>(4, flush));
  EXPECT_EQ(log.starting_with(name() + ": decoded ").size(), 4u);
  EXPECT_EQ(log.starting_with(name() + ": sending EOF").size(), 1u);
}

TEST_P(end_frame, after_a_cut_stream_uses_the_last_delivered_sample) {
  // Ten samples only: the pictures still in the codec come out after end of
  // stream, then the end frame at the cursor after sample ten.
  size_t const kept = 10;
  capture_log_t log(vantor_log_warning);
  probe_options_t options;
  options.limit = kept;
  probed_decoder_t under_test =
      open_probed_decoder(log.context, GetParam().codec, path(), std::move(options));
  decoded_stream_t const decoded = decode_stream(*under_test.decoder);
  track_timing_t const timing = read_clip_timing(path(), kept);

  EXPECT_EQ(decoded.pictures.size(), kept);
  EXPECT_EQ(decoded.end.pts_, timing.end_time());
}

TEST_P(end_frame, an_empty_source_gives_an_nv12_end_frame_at_the_first_decode_time) {
  capture_log_t log(vantor_log_debug);
  probe_options_t options;
  options.first_dts = 4096;
  probed_decoder_t under_test = open_without_samples(log, std::move(options));
  size_t const reads_at_creation = under_test.probe->read_calls;

  for (int i = 0; i < 2; ++i) {
    frame_t const end = (*under_test.decoder)();
    EXPECT_TRUE(end.is_end_of_stream());
    EXPECT_EQ(end.format_, frame_t::format_t::nv12);
    EXPECT_EQ(end.pts_, 4096u);
    EXPECT_EQ(end.width_, 0u);
    EXPECT_EQ(end.height_, 0u);
  }
  EXPECT_EQ(under_test.probe->read_calls, reads_at_creation);

  std::vector<std::string> traces;
  for (const captured_line_t& line : log.lines) {
    if (line.level == vantor_log_debug && line.text.rfind(name() + ": ", 0) == 0)
      traces.push_back(line.text);
  }
  EXPECT_EQ(traces, (std::vector<std::string>{name() + ": sending EOF",
                                              name() + ": flush [0] pts=4096",
                                              name() + ": flush [0] pts=4096"}));
}

TEST_P(end_frame, needs_a_nonzero_timescale) {
  capture_log_t log(vantor_log_warning);
  probe_options_t options;
  options.timescale = 0;
  probed_decoder_t under_test = open_without_samples(log, std::move(options));
  try {
    (*under_test.decoder)();
    FAIL() << "an end frame without a timescale was returned";
  } catch (const vantor::exception& e) {
    EXPECT_EQ(e.result(), vantor_result_check_failed);
    EXPECT_EQ(e.expression(), "timescale_ > 0 && \"frame must have nonzero timescale\"");
    EXPECT_EQ(e.function(), "void vantor::video::frame_t::sanity_check()");
  }
}

INSTANTIATE_TEST_SUITE_P(
    codecs, end_frame,
    ::testing::Values(stream_case_t{"h264", "h264_high_bframes.mp4", frame_t::format_t::yuv420p},
                      stream_case_t{"hevc", "hevc_main10.mp4", frame_t::format_t::yuv420p10le}),
    [](const ::testing::TestParamInfo<stream_case_t>& info) { return info.param.codec; });

// Against Debian's ffprobe: a clip ends one frame after its last picture's
// pts, moved by the shift that starts the decode times at 0 (the edit list
// of an MP4 clip with B-frames has them start at -1024).
TEST(end_time, of_every_mp4_clip_is_where_its_last_picture_ends) {
  size_t clips = 0;
  for (const clip_t& clip : read_clip_table()) {
    if (clip.container != "mp4" || clip.raw_md5 == "-") continue;
    SCOPED_TRACE(clip.name);
    int64_t const first_dts = std::stoll(clip.notes.at("first_dts"));
    uint64_t const shift = first_dts < 0 ? static_cast<uint64_t>(-first_dts) : 0;
    uint64_t const frame_ticks = clip.duration_ticks / clip.frames;
    uint64_t const expected = std::stoull(clip.notes.at("last_pts")) + shift + frame_ticks;

    capture_log_t log(vantor_log_warning);
    probed_decoder_t under_test = open_probed_decoder(log.context, clip.codec, clip_path(clip.name));
    decoded_stream_t const decoded = decode_stream(*under_test.decoder);
    EXPECT_EQ(decoded.pictures.size(), clip.frames);
    EXPECT_EQ(decoded.end.pts_, expected);
    EXPECT_EQ(decoded.end.timescale_, clip.timescale);
    // Nor did the base find the end before the last picture.
    EXPECT_TRUE(log.starting_with(component_name_for_codec(clip.codec) + ": end time ").empty());
    ++clips;
  }
  EXPECT_GE(clips, 5u);
}

}  // namespace
}  // namespace vantor::testing
