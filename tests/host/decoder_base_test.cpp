#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "exception.hpp"
#include "host/nal_units.hpp"
#include "log_context.hpp"
#include "support/memory_sample_source.hpp"
#include "transcode/decoder_base.hpp"

namespace vantor::video {
namespace {

using namespace nal_units;
using testing::memory_sample_source_t;
using testing::memory_sample_t;

// Records every hook call, and gathers each sample's bytes.
template <typename Base>
class recording_decoder_t final : public Base {
 public:
  recording_decoder_t(log_context_t& log, std::unique_ptr<sample_source_t> input)
      : Base(log, std::move(input)) {}

  frame_t operator()() override { return frame_t{}; }

  using Base::check_output_pts;
  using Base::composition_offset;
  using Base::decode_time;
  using Base::log_decoded_sample_count;
  using Base::output_pts_offset;
  using Base::pending_sample;
  using Base::read_input;
  using Base::timescale;

  // Delivers one sample and returns what was appended for it.
  bytes_t deliver() {
    bitstream_.clear();
    calls_.clear();
    read_input();
    return bitstream_;
  }

  void deliver_all() {
    while (pending_sample()) deliver();
  }

  // An end frame as the decoder makes it: its own end time, the count line,
  // then the check, which leaves the time the frame carries.
  uint64_t end_frame_pts() {
    int32_t const offset =
        pending_sample() ? pending_sample()->composition_offset() : composition_offset();
    uint64_t pts = decode_time() + static_cast<uint64_t>(int64_t{offset});
    log_decoded_sample_count();
    check_output_pts(pts);
    return pts;
  }

  std::vector<std::string> calls_;
  bytes_t bitstream_;
  uint64_t dts_ = 0;
  uint64_t pts_ = 0;
  bool sync_ = false;
  uint64_t number_ = 99;

 protected:
  std::string decoder_name() override { return "test_decoder"; }
  void set_dts(uint64_t dts) override {
    dts_ = dts;
    calls_.push_back("dts " + std::to_string(dts));
  }
  void set_pts(uint64_t pts) override {
    pts_ = pts;
    calls_.push_back("pts " + std::to_string(pts));
  }
  uint64_t dts() override { return dts_; }
  uint64_t pts() override { return pts_; }
  void append_bitstream(const uint8_t* data, size_t size) override {
    if (calls_.empty() || calls_.back() != "append") calls_.push_back("append");
    bitstream_.insert(bitstream_.end(), data, data + size);
  }
  bool bitstream_empty() override { return bitstream_.empty(); }
  void set_sync_sample(bool sync) override {
    sync_ = sync;
    calls_.push_back(std::string("sync ") + (sync ? "1" : "0"));
  }
  void set_sample_number(uint64_t number) override {
    number_ = number;
    calls_.push_back("number " + std::to_string(number));
  }
};

using avc_decoder_t = recording_decoder_t<avc_decoder_base_t>;
using hvc_decoder_t = recording_decoder_t<hvc_decoder_base_t>;

struct fixture_t {
  std::vector<std::pair<vantor_log_level_t, std::string>> lines;
  log_context_t log{vantor_log_debug, [this](vantor_log_level_t level, std::string_view text) {
                      lines.emplace_back(level, std::string(text));
                    }};
};

std::unique_ptr<memory_sample_source_t> avc_source(uint64_t first_dts, std::vector<memory_sample_t> samples,
                                                   bytes_t config = make_avcc({avc_sps}, {avc_pps})) {
  return std::make_unique<memory_sample_source_t>(
      testing::make_video_trak(codec_t::avc, 1000, std::move(config)), first_dts, std::move(samples));
}

std::string message_of(const std::function<void()>& action) {
  try {
    action();
  } catch (const exception& error) {
    return error.what();
  }
  return "no exception";
}

TEST(decoder_base, construction_reads_track_first_dts_and_one_sample) {
  fixture_t f;
  auto source = avc_source(500, {memory_sample_t{length_prefixed({avc_idr}), 40, 0, true}});
  auto counter = source->read_call_counter();
  avc_decoder_t decoder(f.log, std::move(source));
  EXPECT_EQ(*counter, 1u);
  EXPECT_EQ(decoder.timescale(), 1000u);
  EXPECT_EQ(decoder.decode_time(), 500u);
  EXPECT_TRUE(decoder.pending_sample());
  EXPECT_EQ(decoder.output_pts_offset(), 0u);
}

TEST(decoder_base, hooks_come_in_order_and_the_cursor_advances_by_the_duration) {
  fixture_t f;
  avc_decoder_t decoder(f.log, avc_source(1000, {memory_sample_t{length_prefixed({avc_idr}), 40, 80, true},
                                                 memory_sample_t{length_prefixed({avc_slice}), 33, -40, false}}));
  decoder.deliver();
  EXPECT_EQ(decoder.calls_,
            (std::vector<std::string>{"dts 1000", "pts 1080", "append", "sync 1", "number 0"}));
  EXPECT_EQ(decoder.decode_time(), 1040u);
  EXPECT_EQ(decoder.composition_offset(), 80);

  decoder.deliver();
  EXPECT_EQ(decoder.calls_,
            (std::vector<std::string>{"dts 1040", "pts 1000", "append", "sync 0", "number 1"}));
  EXPECT_EQ(decoder.decode_time(), 1073u);
  EXPECT_EQ(decoder.composition_offset(), -40);
  EXPECT_FALSE(decoder.pending_sample());
}

TEST(decoder_base, parameter_sets_in_band_at_the_first_and_every_sync_sample) {
  fixture_t f;
  avc_decoder_t decoder(
      f.log, avc_source(0, {memory_sample_t{length_prefixed({avc_slice}), 1, 0, false},
                            memory_sample_t{length_prefixed({avc_slice}), 1, 0, false},
                            memory_sample_t{length_prefixed({avc_idr, avc_slice}), 1, 0, true},
                            memory_sample_t{length_prefixed({avc_slice}), 1, 0, false}}));
  EXPECT_EQ(decoder.deliver(), annexb({avc_sps, avc_pps, avc_slice}));
  EXPECT_EQ(decoder.deliver(), annexb({avc_slice}));
  EXPECT_EQ(decoder.deliver(), annexb({avc_sps, avc_pps, avc_idr, avc_slice}));
  EXPECT_EQ(decoder.deliver(), annexb({avc_slice}));
}

TEST(decoder_base, an_empty_sync_sample_passes_its_parameter_sets_on) {
  fixture_t f;
  avc_decoder_t decoder(f.log, avc_source(0, {memory_sample_t{{}, 1, 0, true},
                                              memory_sample_t{length_prefixed({avc_idr}), 1, 0, false}}));
  EXPECT_TRUE(decoder.deliver().empty());  // the decoder's own check reports it
  EXPECT_EQ(decoder.deliver(), annexb({avc_sps, avc_pps, avc_idr}));
}

TEST(decoder_base, payload_split_across_blocks_is_converted_without_loss) {
  fixture_t f;
  bytes_t const payload = length_prefixed({avc_idr, avc_slice, avc_slice});
  for (size_t block = 1; block <= payload.size(); ++block) {
    auto source = avc_source(0, {memory_sample_t{payload, 1, 0, true}});
    source->set_payload_block_size(block);
    avc_decoder_t decoder(f.log, std::move(source));
    EXPECT_EQ(decoder.deliver(), annexb({avc_sps, avc_pps, avc_idr, avc_slice, avc_slice})) << block;
  }
}

TEST(decoder_base, hevc_puts_vps_sps_pps_in_band) {
  fixture_t f;
  bytes_t const record = make_hvcc(
      {hvcc_array_t{32, {hevc_vps}}, hvcc_array_t{33, {hevc_sps}}, hvcc_array_t{34, {hevc_pps}}}, 2);
  hvc_decoder_t decoder(
      f.log, std::make_unique<memory_sample_source_t>(
                 testing::make_video_trak(codec_t::hevc, 90000, record), 0,
                 std::vector<memory_sample_t>{memory_sample_t{length_prefixed({hevc_cra}, 2), 3000, 0, true},
                                              memory_sample_t{length_prefixed({hevc_trail}, 2), 3000, 0, false}}));
  EXPECT_EQ(decoder.deliver(), annexb({hevc_vps, hevc_sps, hevc_pps, hevc_cra}));
  EXPECT_EQ(decoder.deliver(), annexb({hevc_trail}));
  EXPECT_EQ(decoder.timescale(), 90000u);
}

TEST(decoder_base, passthrough_appends_the_bytes_unchanged) {
  fixture_t f;
  bytes_t const payload = {0, 0, 1, 0x65, 0x88, 0, 0, 0, 1, 0x41};
  auto source = avc_source(0, {memory_sample_t{payload, 1, 0, true}}, {});
  source->set_payload_block_size(3);
  avc_decoder_t decoder(f.log, std::move(source));
  EXPECT_EQ(decoder.deliver(), payload);
}

TEST(decoder_base, malformed_samples_name_the_sample_number) {
  fixture_t f;
  bytes_t past_end = length_prefixed({avc_slice});
  past_end[3] = 50;
  avc_decoder_t decoder(f.log, avc_source(0, {memory_sample_t{length_prefixed({avc_idr}), 1, 0, true},
                                              memory_sample_t{past_end, 1, 0, false}}));
  decoder.deliver();
  EXPECT_EQ(message_of([&] { decoder.deliver(); }),
            "avc sample 1: NAL unit 0 at byte 0 has length 50, past the end of the 7-byte sample "
            "(3 bytes left)");

  avc_decoder_t zero(f.log, avc_source(0, {memory_sample_t{length_prefixed({bytes_t{}}), 1, 0, true}}));
  EXPECT_EQ(message_of([&] { zero.deliver(); }), "avc sample 0: NAL unit 0 at byte 0 has length 0");
}

TEST(decoder_base, truncated_records_fail_at_construction) {
  fixture_t f;
  bytes_t avcc = make_avcc({avc_sps}, {avc_pps});
  avcc.pop_back();
  // 6 header bytes, the 2 + 5 of the SPS, the PPS count, 2 length bytes: the PPS starts at 16.
  EXPECT_EQ(message_of([&] { avc_decoder_t decoder(f.log, avc_source(0, {}, avcc)); }),
            "avcC record: truncated: PPS 0 needs 3 bytes at offset 16, the 18-byte record has 2 left");

  bytes_t hvcc = make_hvcc({hvcc_array_t{32, {hevc_vps}}});
  hvcc.resize(hvcc.size() - 2);
  auto hevc_source = std::make_unique<memory_sample_source_t>(
      testing::make_video_trak(codec_t::hevc, 1, hvcc), 0, std::vector<memory_sample_t>{});
  EXPECT_EQ(message_of([&] { hvc_decoder_t decoder(f.log, std::move(hevc_source)); }),
            "hvcC record: truncated: NAL unit 0 of array 0 needs 3 bytes at offset 28, the 29-byte "
            "record has 1 left");
}

TEST(decoder_base, negative_presentation_time_is_an_error) {
  fixture_t f;
  avc_decoder_t decoder(f.log, avc_source(10, {memory_sample_t{length_prefixed({avc_idr}), 1, -11, true}}));
  EXPECT_EQ(message_of([&] { decoder.deliver(); }),
            "test_decoder: sample 0: the presentation time 10 - 11 is negative");
  EXPECT_TRUE(decoder.calls_.empty());

  avc_decoder_t exact(f.log, avc_source(10, {memory_sample_t{length_prefixed({avc_idr}), 1, -10, true}}));
  exact.deliver();
  EXPECT_EQ(exact.pts_, 0u);
}

TEST(decoder_base, end_of_input_never_calls_the_source_again) {
  fixture_t f;
  auto source = avc_source(0, {memory_sample_t{length_prefixed({avc_idr}), 5, 2, true}});
  auto counter = source->read_call_counter();
  avc_decoder_t decoder(f.log, std::move(source));
  decoder.deliver();
  EXPECT_FALSE(decoder.pending_sample());
  EXPECT_EQ(*counter, 2u);
  EXPECT_EQ(decoder.decode_time(), 5u);
  EXPECT_EQ(decoder.composition_offset(), 2);
  try {
    decoder.deliver();
    FAIL() << "no exception";
  } catch (const exception& error) {
    EXPECT_TRUE(error.is_assertion());
    EXPECT_EQ(error.expression(), "pending_sample_ && \"read_input called after the end of the input\"");
  }
  EXPECT_EQ(*counter, 2u);
  EXPECT_TRUE(decoder.calls_.empty());
}

TEST(decoder_base, empty_source_has_no_pending_sample) {
  fixture_t f;
  avc_decoder_t decoder(f.log, avc_source(77, {}));
  EXPECT_FALSE(decoder.pending_sample());
  EXPECT_EQ(decoder.decode_time(), 77u);
  EXPECT_EQ(decoder.composition_offset(), 0);
}

TEST(decoder_base, refuses_a_null_source_and_another_codec) {
  fixture_t f;
  try {
    avc_decoder_t decoder(f.log, nullptr);
    FAIL() << "no exception";
  } catch (const exception& error) {
    EXPECT_EQ(error.expression(), "input");
  }
  auto hevc_track = std::make_unique<memory_sample_source_t>(testing::make_video_trak(codec_t::hevc, 1), 0,
                                                             std::vector<memory_sample_t>{});
  EXPECT_EQ(message_of([&] { avc_decoder_t decoder(f.log, std::move(hevc_track)); }),
            "video decoder input: the track's codec is hevc, this decoder takes avc");
  auto avc_track = std::make_unique<memory_sample_source_t>(testing::make_video_trak(codec_t::avc, 1), 0,
                                                            std::vector<memory_sample_t>{});
  EXPECT_EQ(message_of([&] { hvc_decoder_t decoder(f.log, std::move(avc_track)); }),
            "video decoder input: the track's codec is avc, this decoder takes hevc");
}

TEST(decoder_base, output_checks_count_pictures_warn_on_disorder_and_keep_the_value) {
  fixture_t f;
  avc_decoder_t decoder(f.log, avc_source(0, {memory_sample_t{length_prefixed({avc_idr}), 1, 0, true},
                                              memory_sample_t{length_prefixed({avc_slice}), 1, 0, false}}));
  decoder.deliver_all();
  for (uint64_t pts : {10u, 20u, 20u}) {
    uint64_t value = pts;
    decoder.check_output_pts(value);
    EXPECT_EQ(value, pts);
  }
  decoder.log_decoded_sample_count();
  uint64_t end = 5;
  decoder.check_output_pts(end);
  EXPECT_EQ(end, 5u);
  ASSERT_EQ(f.lines.size(), 3u);
  EXPECT_EQ(f.lines[0], std::make_pair(vantor_log_warning,
                                       std::string("test_decoder: picture 2 has pts 20, not after the "
                                                   "previous picture's 20")));
  EXPECT_EQ(f.lines[1], std::make_pair(vantor_log_info,
                                       std::string("test_decoder: decoded 3 pictures from 2 samples")));
  EXPECT_EQ(f.lines[2], std::make_pair(vantor_log_warning,
                                       std::string("test_decoder: end time 5 lies before the last "
                                                   "picture's pts 20")));

  // An end frame is not counted; a later end frame at the right time is quiet.
  decoder.log_decoded_sample_count();
  uint64_t good_end = 30;
  decoder.check_output_pts(good_end);
  ASSERT_EQ(f.lines.size(), 4u);
  EXPECT_EQ(f.lines[3].second, "test_decoder: decoded 3 pictures from 2 samples");
}

// Decode order I P B B remuxed with presentation time = decode time: the
// decoder presents I B B P, carrying the times 0, 20, 30, 10 of the samples
// they came from. Sorted, the times are the presentation order's.
TEST(decoder_base, times_in_decode_order_are_handed_out_in_presentation_order) {
  fixture_t f;
  std::vector<memory_sample_t> samples;
  for (int i = 0; i < 4; ++i) samples.push_back(memory_sample_t{length_prefixed({i ? avc_slice : avc_idr}), 10, 0, i == 0});
  avc_decoder_t decoder(f.log, avc_source(0, samples));
  std::vector<uint64_t> given;
  for (uint64_t pts : {0u, 20u, 30u, 10u}) {
    if (decoder.pending_sample()) decoder.deliver();
    if (decoder.pending_sample()) decoder.deliver();
    uint64_t value = pts;
    decoder.check_output_pts(value);
    given.push_back(value);
  }
  EXPECT_EQ(given, (std::vector<uint64_t>{0, 10, 20, 30}));
  EXPECT_EQ(decoder.end_frame_pts(), 40u);
  EXPECT_EQ(f.lines, (std::vector<std::pair<vantor_log_level_t, std::string>>{
                         {vantor_log_info, "test_decoder: decoded 4 pictures from 4 samples"}}));

  // One composition offset is enough to trust the container's times.
  fixture_t g;
  avc_decoder_t offsets(g.log, avc_source(0, {memory_sample_t{length_prefixed({avc_idr}), 10, 10, true},
                                              memory_sample_t{length_prefixed({avc_slice}), 10, 0, false}}));
  offsets.deliver_all();
  uint64_t late = 10;
  uint64_t early = 0;
  offsets.check_output_pts(late);
  offsets.check_output_pts(early);
  EXPECT_EQ(late, 10u);
  EXPECT_EQ(early, 0u);
  ASSERT_EQ(g.lines.size(), 1u);
  EXPECT_EQ(g.lines[0].first, vantor_log_warning);
}

TEST(decoder_base, count_line_needs_level_two_and_warnings_level_one) {
  std::vector<std::string> lines;
  log_context_t quiet(vantor_log_error, [&lines](vantor_log_level_t, std::string_view text) {
    lines.emplace_back(text);
  });
  avc_decoder_t decoder(quiet, avc_source(0, {}));
  uint64_t pts = 3;
  decoder.check_output_pts(pts);
  decoder.check_output_pts(pts);
  decoder.log_decoded_sample_count();
  EXPECT_TRUE(lines.empty());
}

// Decode order I P B B, 10 ticks each, presented as I B B P: the last
// sample ends at 40, where the P-frame starts; the stream ends at 50.
TEST(decoder_base_end_time, a_trailing_b_frame_ends_the_stream_where_the_latest_sample_ends) {
  fixture_t f;
  avc_decoder_t decoder(f.log, avc_source(0, {memory_sample_t{length_prefixed({avc_idr}), 10, 10, true},
                                              memory_sample_t{length_prefixed({avc_slice}), 10, 30, false},
                                              memory_sample_t{length_prefixed({avc_slice}), 10, 0, false},
                                              memory_sample_t{length_prefixed({avc_slice}), 10, 0, false}}));
  decoder.deliver_all();
  // The picture at the decoder's own end time is a picture, not an end.
  for (uint64_t pts : {10u, 20u, 30u, 40u}) {
    uint64_t value = pts;
    decoder.check_output_pts(value);
    EXPECT_EQ(value, pts);
  }
  EXPECT_EQ(decoder.end_frame_pts(), 50u);
  EXPECT_EQ(decoder.end_frame_pts(), 50u);
  std::vector<std::pair<vantor_log_level_t, std::string>> const count(
      2, {vantor_log_info, "test_decoder: decoded 4 pictures from 4 samples"});
  EXPECT_EQ(f.lines, count);
}

TEST(decoder_base_end_time, an_end_at_or_after_the_end_of_presentation_is_kept) {
  fixture_t f;
  // The last sample in decode order is the last presented: both ends agree.
  avc_decoder_t in_order(f.log, avc_source(100, {memory_sample_t{length_prefixed({avc_idr}), 10, 0, true},
                                                 memory_sample_t{length_prefixed({avc_slice}), 10, 0, false}}));
  in_order.deliver_all();
  EXPECT_EQ(in_order.end_frame_pts(), 120u);

  // A stream cut with a sample still pending ends at that sample's pts.
  avc_decoder_t cut(f.log, avc_source(0, {memory_sample_t{length_prefixed({avc_idr}), 10, 0, true},
                                          memory_sample_t{length_prefixed({avc_slice}), 10, 50, false}}));
  cut.deliver();
  EXPECT_EQ(cut.end_frame_pts(), 60u);

  // Nothing delivered: the end is the first decode time.
  avc_decoder_t empty(f.log, avc_source(77, {}));
  EXPECT_EQ(empty.end_frame_pts(), 77u);
  EXPECT_EQ(empty.end_frame_pts(), 77u);
}

}  // namespace
}  // namespace vantor::video
