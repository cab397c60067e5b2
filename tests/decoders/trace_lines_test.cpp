// The step-by-step lines at level 3, exactly, and none of them below it.

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "decoders/decoder_test_support.hpp"
#include "support/capture_log.hpp"

namespace vantor::testing {
namespace {

struct trace_case_t {
  std::string codec;
  std::string clip;
  std::string pix_fmt;  // libav's name of the decoded pictures' format
  uint32_t width;
  uint32_t height;
};

void PrintTo(const trace_case_t& value, std::ostream* os) { *os << value.clip; }

class trace_lines : public ::testing::TestWithParam<trace_case_t> {
 protected:
  std::string name() const { return component_name_for_codec(GetParam().codec); }
  std::string path() const { return clip_path(GetParam().clip); }
};

std::vector<std::string> decoder_traces(const capture_log_t& log, const std::string& name) {
  std::vector<std::string> traces;
  for (const captured_line_t& line : log.lines) {
    if (line.level == vantor_log_debug && line.text.rfind(name + ": ", 0) == 0)
      traces.push_back(line.text.substr(name.size() + 2));
  }
  return traces;
}

TEST_P(trace_lines, follow_every_packet_and_picture) {
  size_t const kept = 6;
  capture_log_t log(vantor_log_debug);
  probe_options_t options;
  options.limit = kept;
  probed_decoder_t under_test =
      open_probed_decoder(log.context, GetParam().codec, path(), std::move(options));
  decoded_stream_t const decoded = decode_stream(*under_test.decoder);
  ASSERT_EQ(decoded.pictures.size(), kept);

  track_timing_t const timing = read_clip_timing(path(), kept);
  std::vector<uint64_t> decode_times;
  uint64_t cursor = timing.first_dts;
  {
    std::unique_ptr<sample_source_t> source = vantor::sources::open_file_sample_source(path());
    for (size_t i = 0; i < kept; ++i) {
      decode_times.push_back(cursor);
      cursor += source->read_sample()->duration();
    }
  }
  std::vector<uint64_t> presentation = timing.presentation_times;
  std::sort(presentation.begin(), presentation.end());

  // A packet carries the sample's two times and nothing else of its own.
  auto packet_line = [](uint64_t pts, uint64_t dts) {
    return std::regex("sending packet: \\{AVPacket at 0x[0-9a-f]+: buf=0x[0-9a-f]+ pts=" +
                      std::to_string(pts) + " dts=" + std::to_string(dts) +
                      " data=0x[0-9a-f]+ size=[1-9][0-9]* stream_index=0 flags=0x0 side_data=0"
                      " side_data_elems=0 duration=0 pos=-1\\}");
  };

  std::vector<std::string> const traces = decoder_traces(log, name());
  size_t sent = 0, out = 0, eof_at = 0;
  for (size_t i = 0; i < traces.size(); ++i) {
    const std::string& line = traces[i];
    SCOPED_TRACE(line);
    if (line.rfind("sending packet: ", 0) == 0) {
      ASSERT_LT(sent, kept);
      EXPECT_TRUE(std::regex_match(line, packet_line(timing.presentation_times[sent],
                                                     decode_times[sent])));
      ++sent;
    } else if (line == "sending EOF") {
      EXPECT_EQ(sent, kept);
      EXPECT_EQ(eof_at, 0u);
      eof_at = i;
    } else if (line.rfind("got a frame: ", 0) == 0) {
      ASSERT_LT(out, kept);
      std::string const size = " width=" + std::to_string(GetParam().width) +
                               " height=" + std::to_string(GetParam().height) + " nb_samples=0";
      EXPECT_EQ(line.rfind("got a frame: {AVFrame at 0x", 0), 0u);
      EXPECT_NE(line.find(size), std::string::npos);
      EXPECT_NE(line.find(" pts=" + std::to_string(presentation[out]) + " "), std::string::npos);
      EXPECT_EQ(line.back(), '}');
      // The picture's own line comes right after it.
      ASSERT_LT(i + 1, traces.size());
      std::string const pts = std::to_string(presentation[out]);
      EXPECT_EQ(traces[i + 1], "out [" + std::to_string(out) + "] pts=" + pts + " (" + pts +
                                   ") fmt=" + GetParam().pix_fmt);
      ++out;
      ++i;
    } else {
      ASSERT_EQ(i + 1, traces.size()) << "unexpected line";
      EXPECT_EQ(line, "flush [" + std::to_string(kept) + "] pts=" +
                          std::to_string(timing.end_cursor +
                                         static_cast<uint64_t>(int64_t{timing.last_offset})));
    }
  }
  EXPECT_EQ(sent, kept);
  EXPECT_EQ(out, kept);
  EXPECT_NE(eof_at, 0u);
  ASSERT_FALSE(traces.empty());
  EXPECT_EQ(traces.back().rfind("flush [", 0), 0u);
}

TEST_P(trace_lines, name_only_their_own_decoder) {
  capture_log_t log(vantor_log_trace);
  probed_decoder_t under_test = open_probed_decoder(log.context, GetParam().codec, path());
  decode_stream(*under_test.decoder);
  std::string const other = GetParam().codec == "hevc" ? "video_decoder_avc_avcodec"
                                                       : "video_decoder_hvc_avcodec";
  size_t own = 0;
  for (const captured_line_t& line : log.lines) {
    EXPECT_EQ(line.text.find(other), std::string::npos) << line.text;
    if (line.text.rfind(name() + ": ", 0) == 0) ++own;
  }
  EXPECT_GT(own, 0u);
  // The base names the decoder through decoder_name() in its count line.
  EXPECT_EQ(log.starting_with(name() + ": decoded ").size(), 1u);
}

TEST_P(trace_lines, stay_out_of_a_level_2_log) {
  capture_log_t log(vantor_log_info);
  probed_decoder_t under_test = open_probed_decoder(log.context, GetParam().codec, path());
  decode_stream(*under_test.decoder);
  (*under_test.decoder)();
  for (const captured_line_t& line : log.lines) {
    EXPECT_LE(line.level, vantor_log_info) << line.text;
    for (const char* trace : {": sending packet", ": sending EOF", ": got a frame", ": out [",
                              ": flush ["}) {
      EXPECT_EQ(line.text.find(name() + trace), std::string::npos) << line.text;
    }
  }
  // The level-2 count line does arrive, so the log was listening.
  EXPECT_EQ(log.starting_with(name() + ": decoded ").size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    codecs, trace_lines,
    ::testing::Values(trace_case_t{"h264", "h264_high_bframes.mp4", "yuv420p", 320, 240},
                      trace_case_t{"hevc", "hevc_main10.mp4", "yuv420p10le", 320, 240}),
    [](const ::testing::TestParamInfo<trace_case_t>& info) { return info.param.codec; });

}  // namespace
}  // namespace vantor::testing
