// What the decoders report when their input is broken: the texts of their
// own checks, the host's errors passed through, and damaged streams that
// end in a libavcodec failure message or in pictures, never in a crash.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "decoders/decoder_test_support.hpp"
#include "support/capture_log.hpp"
#include "support/memory_sample_source.hpp"

namespace vantor::testing {
namespace {

struct codec_case_t {
  std::string codec;
  std::string clip;
  bool some_damage_refused;
};

void PrintTo(const codec_case_t& value, std::ostream* os) { *os << value.clip; }

class decoder_failures : public ::testing::TestWithParam<codec_case_t> {
 protected:
  std::string name() const { return component_name_for_codec(GetParam().codec); }
  std::string path() const { return clip_path(GetParam().clip); }
  std::string short_class() const {
    return GetParam().codec == "hevc" ? "avcodec_hvc_decoder_t" : "avcodec_avc_decoder_t";
  }
  std::string source_file() const { return "ffmpeg_utils/" + name() + ".cpp"; }

  // Decodes until the end frame or an exception, whichever comes first.
  static std::optional<vantor::exception> decode_until_failure(video::frame_source_t& decoder) {
    try {
      decode_stream(decoder);
    } catch (const vantor::exception& e) {
      return e;
    }
    return std::nullopt;
  }

  probed_decoder_t open(capture_log_t& log, sample_edit_t edit) const {
    probe_options_t options;
    options.edit = std::move(edit);
    return open_probed_decoder(log.context, GetParam().codec, path(), std::move(options));
  }
};

// Sample 1 is a later, non-sync sample in decode order: the decoder asks for
// it during the first pull, and the base adds no parameter sets to it.
sample_edit_t edit_sample_1(std::function<void(std::vector<uint8_t>&)> change) {
  return [change](size_t index, full_sample_t sample) {
    if (index != 1) return sample;
    std::vector<uint8_t> payload = payload_of(sample);
    change(payload);
    return with_payload(sample, payload);
  };
}

TEST_P(decoder_failures, a_sample_without_payload_fails_the_bitstream_check) {
  capture_log_t log(vantor_log_warning);
  probed_decoder_t under_test = open(log, edit_sample_1([](std::vector<uint8_t>& payload) {
    payload.clear();
  }));
  try {
    (*under_test.decoder)();
    FAIL() << "no failure";
  } catch (const vantor::exception& e) {
    EXPECT_EQ(e.result(), vantor_result_check_failed);
    EXPECT_TRUE(e.is_assertion());
    EXPECT_EQ(e.expression(), "!bitstream_.empty()");
    EXPECT_EQ(e.function(), "void vantor::video::{anonymous}::" + short_class() + "::send_packet()");
    EXPECT_EQ(e.file(), source_file());
  }
}

TEST_P(decoder_failures, a_nal_length_past_the_sample_end_is_the_hosts_error) {
  capture_log_t log(vantor_log_warning);
  size_t payload_size = 0;
  probed_decoder_t under_test =
      open(log, edit_sample_1([&payload_size](std::vector<uint8_t>& payload) {
        payload_size = payload.size();
        // The first 4-byte length now claims one byte more than the sample holds.
        uint32_t const claimed = static_cast<uint32_t>(payload.size() - 4 + 1);
        payload[0] = static_cast<uint8_t>(claimed >> 24);
        payload[1] = static_cast<uint8_t>(claimed >> 16);
        payload[2] = static_cast<uint8_t>(claimed >> 8);
        payload[3] = static_cast<uint8_t>(claimed);
      }));
  try {
    (*under_test.decoder)();
    FAIL() << "no failure";
  } catch (const vantor::exception& e) {
    EXPECT_EQ(e.result(), vantor_result_check_failed);
    std::string const what = e.what();
    EXPECT_NE(what.find("sample 1"), std::string::npos) << what;
    EXPECT_EQ(what.find("libavcodec"), std::string::npos) << what;
  }
  EXPECT_GT(payload_size, 4u);
}

// Damage that keeps every NAL length intact, so that the bytes reach libavcodec.
struct damage_t {
  const char* name;
  std::function<void(size_t index, std::vector<uint8_t>& payload)> apply;
};

// Walks the 4-byte-length NAL units of an MP4-form sample.
void for_each_nal_body(std::vector<uint8_t>& payload,
                       const std::function<void(uint8_t* body, size_t size)>& visit) {
  size_t at = 0;
  while (at + 4 <= payload.size()) {
    size_t const size = size_t{payload[at]} << 24 | size_t{payload[at + 1]} << 16 |
                        size_t{payload[at + 2]} << 8 | payload[at + 3];
    if (size > payload.size() - at - 4) return;
    visit(payload.data() + at + 4, size);
    at += 4 + size;
  }
}

std::vector<damage_t> damages() {
  return {
      {"flipped_slice_bits",
       [](size_t index, std::vector<uint8_t>& payload) {
         if (index == 0) return;
         for_each_nal_body(payload, [](uint8_t* body, size_t size) {
           for (size_t i = 3; i < size; i += 5) body[i] ^= 0x5a;
         });
       }},
      {"ones_after_the_nal_headers",
       [](size_t, std::vector<uint8_t>& payload) {
         for_each_nal_body(payload, [](uint8_t* body, size_t size) {
           for (size_t i = 2; i < size; ++i) body[i] = 0xff;
         });
       }},
      {"zeros_after_the_nal_headers",
       [](size_t index, std::vector<uint8_t>& payload) {
         if (index % 2 == 0) return;
         for_each_nal_body(payload, [](uint8_t* body, size_t size) {
           for (size_t i = 2; i < size; ++i) body[i] = 0;
         });
       }},
      {"noise_everywhere",
       [](size_t index, std::vector<uint8_t>& payload) {
         uint32_t state = 2463534242u + static_cast<uint32_t>(index);
         for_each_nal_body(payload, [&state](uint8_t* body, size_t size) {
           for (size_t i = 2; i < size; ++i) {
             state ^= state << 13;
             state ^= state >> 17;
             state ^= state << 5;
             body[i] = static_cast<uint8_t>(state);
           }
         });
       }},
  };
}

TEST_P(decoder_failures, damaged_payload_ends_in_pictures_or_a_libavcodec_failure) {
  size_t refused = 0;
  for (const damage_t& damage : damages()) {
    SCOPED_TRACE(damage.name);
    capture_log_t log(vantor_log_debug);
    auto apply = damage.apply;
    probe_options_t options;
    options.edit = [apply](size_t index, full_sample_t sample) {
      std::vector<uint8_t> payload = payload_of(sample);
      apply(index, payload);
      return with_payload(sample, payload);
    };
    std::optional<vantor::exception> failure;
    try {
      probed_decoder_t under_test =
          open_probed_decoder(log.context, GetParam().codec, path(), std::move(options));
      failure = decode_until_failure(*under_test.decoder);
    } catch (const vantor::exception& e) {
      failure = e;  // the first packet may already be refused
    }
    if (!failure) continue;
    ++refused;
    std::string const what = failure->what();
    bool const send_failed = what.rfind(name() + ": libavcodec failed to send a packet: ", 0) == 0;
    bool const receive_failed =
        what.rfind(name() + ": libavcodec failed to produce a frame: ", 0) == 0;
    EXPECT_TRUE(send_failed || receive_failed) << what;
    EXPECT_EQ(failure->result(), vantor_result_libav_failure) << what;

    // libavcodec's own complaint reached the log before the exception did:
    // after the last packet line, there is one of its lines.
    size_t last_send = log.lines.size();
    for (size_t i = 0; i < log.lines.size(); ++i) {
      if (log.lines[i].text.rfind(name() + ": sending packet: ", 0) == 0) last_send = i;
    }
    ASSERT_LT(last_send, log.lines.size());
    bool libav_line_after = false;
    for (size_t i = last_send + 1; i < log.lines.size(); ++i) {
      if (log.lines[i].text.rfind("libavcodec: ", 0) == 0) libav_line_after = true;
    }
    EXPECT_TRUE(libav_line_after) << what;
  }
  // libavcodec refuses some of these H.264 streams outright (and conceals the
  // damage in HEVC), so the failure path above is taken for real.
  if (GetParam().some_damage_refused) {
    EXPECT_GT(refused, 0u);
  }
}

TEST_P(decoder_failures, an_annex_b_sample_without_a_start_code_is_refused_at_creation) {
  // A track without a configuration record passes its bytes through, so
  // libavcodec sees these bytes exactly and finds no NAL unit in them.
  capture_log_t log(vantor_log_warning);
  codec_t const codec = GetParam().codec == "hevc" ? codec_t::hevc : codec_t::avc;
  std::vector<memory_sample_t> samples{{{0x12, 0x34, 0x56, 0x78, 0x9a}, 1, 0, true}};
  auto source =
      std::make_unique<memory_sample_source_t>(make_video_trak(codec, 25), 0, std::move(samples));
  try {
    factory_for_codec(GetParam().codec)(log.context, std::move(source));
    FAIL() << "the decoder accepted a packet without NAL units";
  } catch (const vantor::exception& e) {
    EXPECT_EQ(e.result(), vantor_result_libav_failure);
    EXPECT_EQ(std::string(e.what()).rfind(name() + ": libavcodec failed to send a packet: ", 0), 0u)
        << e.what();
  }
  // libavcodec's reason was written before the exception left the factory.
  ASSERT_FALSE(log.lines.empty());
  EXPECT_EQ(log.lines.back().text.rfind("libavcodec: ", 0), 0u) << log.lines.back().text;
}

TEST_P(decoder_failures, a_presentation_time_beyond_int64_fails_the_pts_check) {
  capture_log_t log(vantor_log_warning);
  probe_options_t options;
  options.first_dts = uint64_t{1} << 63;
  probed_decoder_t under_test =
      open_probed_decoder(log.context, GetParam().codec, path(), std::move(options));
  try {
    (*under_test.decoder)();
    FAIL() << "a picture with a negative libav pts was returned";
  } catch (const vantor::exception& e) {
    EXPECT_EQ(e.result(), vantor_result_check_failed);
    EXPECT_EQ(e.expression(), "avframe.pts() >= 0");
    EXPECT_EQ(e.function(), "virtual vantor::video::frame_t vantor::video::{anonymous}::" +
                                short_class() + "::operator()()");
    EXPECT_EQ(e.file(), source_file());
  }
}

INSTANTIATE_TEST_SUITE_P(codecs, decoder_failures,
                         ::testing::Values(codec_case_t{"h264", "h264_high_bframes.mp4", true},
                                           codec_case_t{"hevc", "hevc_main_bframes.mp4", false}),
                         [](const ::testing::TestParamInfo<codec_case_t>& info) {
                           return info.param.codec;
                         });

}  // namespace
}  // namespace vantor::testing
