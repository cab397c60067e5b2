// Every reference clip decodes bit for bit like an independent decoder, with
// the announced presentation times, sizes and formats.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/clip_table.hpp"
#include "decoders/decoder_test_support.hpp"
#include "support/capture_log.hpp"
#include "support/memory_sample_source.hpp"

namespace vantor::testing {
namespace {


frame_t::format_t expected_format(const clip_t& clip) {
  return clip.pix_fmt == "yuv420p10le" ? frame_t::format_t::yuv420p10le
                                       : frame_t::format_t::yuv420p;
}

class bit_exact : public ::testing::TestWithParam<std::string> {};

TEST_P(bit_exact, matches_the_reference_decoder) {
  clip_t const clip = find_clip(GetParam());
  capture_log_t log(vantor_log_warning);
  probed_decoder_t under_test = open_probed_decoder(log.context, clip.codec, clip_path(clip.name));
  decoded_stream_t const decoded = decode_stream(*under_test.decoder);

  EXPECT_EQ(decoded.pictures.size(), clip.frames);
  EXPECT_EQ(decoded.md5, clip.raw_md5);
  EXPECT_EQ(under_test.probe->samples, clip.frames);

  // Sizes in stream order, each run as long as the reference says.
  std::vector<clip_size_t> runs;
  for (const picture_t& picture : decoded.pictures) {
    if (runs.empty() || runs.back().width != picture.width || runs.back().height != picture.height)
      runs.push_back({picture.width, picture.height, 0});
    ++runs.back().frames;
  }
  ASSERT_EQ(runs.size(), clip.sizes.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i].width, clip.sizes[i].width) << "run " << i;
    EXPECT_EQ(runs[i].height, clip.sizes[i].height) << "run " << i;
    EXPECT_EQ(runs[i].frames, clip.sizes[i].frames) << "run " << i;
  }

  // Pictures come out in presentation order, at the times the samples announce.
  track_timing_t const timing = read_clip_timing(clip_path(clip.name));
  std::vector<uint64_t> presentation = timing.presentation_times;
  std::sort(presentation.begin(), presentation.end());
  ASSERT_EQ(presentation.size(), decoded.pictures.size());
  for (size_t i = 0; i < presentation.size(); ++i) {
    const picture_t& picture = decoded.pictures[i];
    EXPECT_EQ(picture.pts, presentation[i]) << "picture " << i;
    EXPECT_EQ(picture.timescale, timing.timescale) << "picture " << i;
    EXPECT_EQ(picture.format, expected_format(clip)) << "picture " << i;
  }
  ASSERT_FALSE(decoded.pictures.empty());
  EXPECT_TRUE(decoded.pictures.front().keyframe);

  EXPECT_EQ(decoded.end.width_, 0u);
  EXPECT_EQ(decoded.end.height_, 0u);
  EXPECT_EQ(decoded.end.format_, expected_format(clip));
  EXPECT_EQ(decoded.end.timescale_, timing.timescale);
}

std::string test_name(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  std::replace(name.begin(), name.end(), '.', '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(clips, bit_exact,
                         ::testing::Values("h264_high_bframes.mp4", "h264_mkv.mkv",
                                           "hevc_main_bframes.mp4", "hevc_main10.mp4",
                                           "h264_fullrange.mp4", "h264_size_change.mp4"),
                         test_name);

// Cuts a raw H.264 stream of single-slice pictures into access units: each
// ends with its slice, and the parameter sets and SEI before a slice belong
// to the slice's unit. Start codes stay in place.
std::vector<std::vector<uint8_t>> h264_access_units(const std::vector<uint8_t>& stream) {
  std::vector<size_t> starts;  // of each NAL unit's start code, zero byte included
  for (size_t i = 0; i + 3 <= stream.size(); ++i) {
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
      starts.push_back(i > 0 && stream[i - 1] == 0 ? i - 1 : i);
      i += 2;
    }
  }
  std::vector<std::vector<uint8_t>> units;
  std::vector<uint8_t> unit;
  for (size_t n = 0; n < starts.size(); ++n) {
    size_t const end = n + 1 < starts.size() ? starts[n + 1] : stream.size();
    size_t const header = stream[starts[n]] == 0 && stream[starts[n] + 2] == 0 ? starts[n] + 4
                                                                                 : starts[n] + 3;
    unit.insert(unit.end(), stream.begin() + starts[n], stream.begin() + end);
    unsigned const type = stream[header] & 0x1f;
    if (type == 1 || type == 5) {
      units.push_back(std::move(unit));
      unit.clear();
    }
  }
  // Trailing non-slice units (an end of stream) close the last access unit.
  if (!unit.empty() && !units.empty()) {
    units.back().insert(units.back().end(), unit.begin(), unit.end());
  }
  return units;
}

TEST(annex_b, a_raw_stream_in_an_in_memory_track_matches_the_reference) {
  // The file source refuses raw streams (they carry no times), so the test
  // gives each access unit one tick of a 25 Hz track.
  clip_t const clip = find_clip("h264_annexb.h264");
  std::ifstream file(clip_path(clip.name), std::ios::binary);
  std::vector<uint8_t> const stream{std::istreambuf_iterator<char>(file),
                                    std::istreambuf_iterator<char>()};
  std::vector<memory_sample_t> samples;
  for (std::vector<uint8_t>& unit : h264_access_units(stream)) {
    samples.push_back({std::move(unit), 1, 0, samples.empty()});
  }
  ASSERT_EQ(samples.size(), clip.frames);

  capture_log_t log(vantor_log_warning);
  auto source = std::make_unique<memory_sample_source_t>(make_video_trak(codec_t::avc, 25), 100,
                                                         std::move(samples));
  std::shared_ptr<const size_t> const reads = source->read_call_counter();
  auto decoder = video::create_avcodec_avc_decoder(log.context, std::move(source));
  decoded_stream_t const decoded = decode_stream(*decoder);

  EXPECT_EQ(decoded.md5, clip.raw_md5);
  ASSERT_EQ(decoded.pictures.size(), clip.frames);
  for (size_t i = 0; i < decoded.pictures.size(); ++i) {
    EXPECT_EQ(decoded.pictures[i].pts, 100 + i);
    EXPECT_EQ(decoded.pictures[i].width, clip.sizes.front().width);
    EXPECT_EQ(decoded.pictures[i].height, clip.sizes.front().height);
  }
  EXPECT_EQ(decoded.end.pts_, 100 + clip.frames);
  EXPECT_EQ(*reads, clip.frames + 1);  // every sample, then the one empty answer
}

TEST(pixel_formats, main10_gives_10_bit_frames_and_full_range_gives_planar_8_bit) {
  capture_log_t log(vantor_log_warning);
  probed_decoder_t main10 = open_probed_decoder(log.context, "hevc", clip_path("hevc_main10.mp4"));
  frame_t const deep = (*main10.decoder)();
  EXPECT_EQ(deep.format_, frame_t::format_t::yuv420p10le);
  EXPECT_EQ(deep.data_.size(), size_t{320} * 240 * 3);

  probed_decoder_t full = open_probed_decoder(log.context, "h264", clip_path("h264_fullrange.mp4"));
  frame_t const planar = (*full.decoder)();
  EXPECT_EQ(planar.format_, frame_t::format_t::yuv420p);
  EXPECT_EQ(planar.data_.size(), size_t{320} * 240 * 3 / 2);
}

TEST(pixel_formats, chroma_422_fails_at_the_first_picture) {
  capture_log_t log(vantor_log_warning);
  probed_decoder_t under_test = open_probed_decoder(log.context, "hevc", clip_path("hevc_422.mp4"));
  try {
    (*under_test.decoder)();
    FAIL() << "a 4:2:2 picture was returned";
  } catch (const vantor::exception& e) {
    EXPECT_EQ(e.result(), vantor_result_libav_failure);
    EXPECT_STREQ(e.what(), "Unexpected AVPixelFormat 4");
  }
}

TEST(pixel_formats, the_first_picture_fixes_the_format) {
  // Five 8-bit pictures, then five 10-bit ones, in one track.
  capture_log_t log(vantor_log_warning);
  probed_decoder_t under_test =
      open_probed_decoder(log.context, "h264", decoder_clip_path("h264_format_change.mp4"));
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ((*under_test.decoder)().format_, frame_t::format_t::yuv420p) << "picture " << i;
  }
  try {
    (*under_test.decoder)();
    FAIL() << "a picture of another format was returned";
  } catch (const vantor::exception& e) {
    EXPECT_EQ(e.result(), vantor_result_check_failed);
    EXPECT_EQ(e.expression(), "*opt_format_ == format");
    EXPECT_EQ(e.function(),
              "virtual vantor::video::frame_t "
              "vantor::video::{anonymous}::avcodec_avc_decoder_t::operator()()");
    EXPECT_EQ(e.file(), "ffmpeg_utils/video_decoder_avc_avcodec.cpp");
  }
}

}  // namespace
}  // namespace vantor::testing
