#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exception.hpp"
#include "host/nal_units.hpp"
#include "transcode/annexb.hpp"

namespace vantor::video {
namespace {

using namespace nal_units;

std::string record_error(nal_family_t family, const bytes_t& record) {
  try {
    annexb_converter_t converter(family, record);
    return "no exception";
  } catch (const exception& error) {
    EXPECT_EQ(error.result(), vantor_result_check_failed);
    return error.what();
  }
}

std::string convert_error(const annexb_converter_t& converter, const bytes_t& sample,
                          uint64_t number) {
  bytes_t out;
  try {
    converter.convert(sample.data(), sample.size(), true, number, out);
    return "no exception";
  } catch (const exception& error) {
    EXPECT_EQ(error.result(), vantor_result_check_failed);
    return error.what();
  }
}

TEST(annexb_record, avcc_gives_sps_then_pps_behind_start_codes) {
  annexb_converter_t const converter(nal_family_t::avc, make_avcc({avc_sps, avc_sps2}, {avc_pps}, 2));
  EXPECT_FALSE(converter.passthrough());
  EXPECT_EQ(converter.length_size(), 2u);
  EXPECT_EQ(converter.parameter_sets(), annexb({avc_sps, avc_sps2, avc_pps}));
}

TEST(annexb_record, hvcc_keeps_vps_sps_pps_in_the_records_order_and_drops_sei) {
  bytes_t const record = make_hvcc({hvcc_array_t{32, {hevc_vps}}, hvcc_array_t{39, {hevc_sei}},
                                    hvcc_array_t{33, {hevc_sps}}, hvcc_array_t{34, {hevc_pps}}},
                                   1);
  annexb_converter_t const converter(nal_family_t::hevc, record);
  EXPECT_EQ(converter.length_size(), 1u);
  EXPECT_EQ(converter.parameter_sets(), annexb({hevc_vps, hevc_sps, hevc_pps}));
}

TEST(annexb_record, empty_record_means_passthrough) {
  annexb_converter_t const converter(nal_family_t::hevc, {});
  EXPECT_TRUE(converter.passthrough());
  EXPECT_TRUE(converter.parameter_sets().empty());
  bytes_t const sample = {0, 0, 1, 0x26, 0x01, 0, 0, 0, 1, 0x02};
  bytes_t out = {0xaa};
  EXPECT_FALSE(converter.convert(sample.data(), sample.size(), true, 0, out));
  bytes_t expected = {0xaa};
  expected.insert(expected.end(), sample.begin(), sample.end());
  EXPECT_EQ(out, expected);
}

// Every cut of a valid record is refused, and (under ASan) no cut makes the
// parser read past the bytes it was given.
TEST(annexb_record, every_truncation_is_refused) {
  bytes_t const avcc = make_avcc({avc_sps}, {avc_pps});
  for (size_t n = 1; n < avcc.size(); ++n) {
    bytes_t const cut(avcc.begin(), avcc.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_NE(record_error(nal_family_t::avc, cut).find("avcC record: "), std::string::npos) << n;
  }
  bytes_t const hvcc = make_hvcc({hvcc_array_t{32, {hevc_vps}}, hvcc_array_t{33, {hevc_sps}},
                                  hvcc_array_t{34, {hevc_pps}}});
  for (size_t n = 1; n < hvcc.size(); ++n) {
    bytes_t const cut(hvcc.begin(), hvcc.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_NE(record_error(nal_family_t::hevc, cut).find("hvcC record: "), std::string::npos) << n;
  }
}

TEST(annexb_record, faults_are_named) {
  bytes_t avcc = make_avcc({avc_sps}, {avc_pps});
  EXPECT_EQ(record_error(nal_family_t::avc, bytes_t(avcc.begin(), avcc.begin() + 4)),
            "avcC record: truncated: the header needs 6 bytes at offset 0, the 4-byte record has 4 left");

  bytes_t wrong_version = avcc;
  wrong_version[0] = 0;
  EXPECT_EQ(record_error(nal_family_t::avc, wrong_version),
            "avcC record: configurationVersion is 0, expected 1");

  bytes_t three_byte_lengths = avcc;
  three_byte_lengths[4] = 0xfe;
  EXPECT_EQ(record_error(nal_family_t::avc, three_byte_lengths),
            "avcC record: lengthSizeMinusOne is 2; NAL lengths of 3 bytes are not allowed");

  bytes_t long_sps = avcc;
  long_sps[7] = 200;  // SPS length, low byte
  EXPECT_EQ(record_error(nal_family_t::avc, long_sps),
            "avcC record: truncated: SPS 0 needs 200 bytes at offset 8, the 19-byte record has 11 left");

  EXPECT_EQ(record_error(nal_family_t::avc, make_avcc({bytes_t{}}, {avc_pps})),
            "avcC record: SPS 0 is empty");
  EXPECT_EQ(record_error(nal_family_t::avc, make_avcc({avc_pps}, {avc_pps})),
            "avcC record: SPS 0 has NAL unit type 8, expected 7");

  EXPECT_EQ(record_error(nal_family_t::hevc, bytes_t(22, 1)),
            "hvcC record: truncated: the header needs 23 bytes at offset 0, the 22-byte record has 22 left");
  EXPECT_EQ(record_error(nal_family_t::hevc, make_hvcc({hvcc_array_t{33, {hevc_vps}}})),
            "hvcC record: NAL unit 0 of array 0 has NAL unit type 32, expected 33");
  bytes_t hvcc = make_hvcc({hvcc_array_t{32, {hevc_vps}}});
  hvcc[21] = 0x0e;
  EXPECT_EQ(record_error(nal_family_t::hevc, hvcc),
            "hvcC record: lengthSizeMinusOne is 2; NAL lengths of 3 bytes are not allowed");
}

TEST(annexb_convert, every_nal_unit_gets_a_four_byte_start_code_whatever_the_length_size) {
  for (unsigned length_size : {1u, 2u, 4u}) {
    annexb_converter_t const converter(nal_family_t::avc, make_avcc({avc_sps}, {avc_pps}, length_size));
    bytes_t const sample = length_prefixed({avc_idr, avc_slice}, length_size);
    bytes_t out;
    EXPECT_FALSE(converter.convert(sample.data(), sample.size(), false, 0, out));
    EXPECT_EQ(out, annexb({avc_idr, avc_slice})) << length_size;
  }
}

TEST(annexb_convert, parameter_sets_go_before_the_first_nal_unit_but_after_a_delimiter) {
  annexb_converter_t const avc(nal_family_t::avc, make_avcc({avc_sps}, {avc_pps}));
  bytes_t out;
  bytes_t const plain = length_prefixed({avc_idr});
  EXPECT_TRUE(avc.convert(plain.data(), plain.size(), true, 0, out));
  EXPECT_EQ(out, annexb({avc_sps, avc_pps, avc_idr}));

  out.clear();
  bytes_t const delimited = length_prefixed({avc_aud, avc_idr});
  EXPECT_TRUE(avc.convert(delimited.data(), delimited.size(), true, 0, out));
  EXPECT_EQ(out, annexb({avc_aud, avc_sps, avc_pps, avc_idr}));

  annexb_converter_t const hevc(
      nal_family_t::hevc,
      make_hvcc({hvcc_array_t{32, {hevc_vps}}, hvcc_array_t{33, {hevc_sps}}, hvcc_array_t{34, {hevc_pps}}}));
  out.clear();
  bytes_t const hevc_sample = length_prefixed({hevc_aud, hevc_idr});
  EXPECT_TRUE(hevc.convert(hevc_sample.data(), hevc_sample.size(), true, 0, out));
  EXPECT_EQ(out, annexb({hevc_aud, hevc_vps, hevc_sps, hevc_pps, hevc_idr}));

  // A sample of delimiters only (or of nothing) gets no parameter sets.
  out.clear();
  bytes_t const only_delimiter = length_prefixed({avc_aud});
  EXPECT_FALSE(avc.convert(only_delimiter.data(), only_delimiter.size(), true, 0, out));
  EXPECT_EQ(out, annexb({avc_aud}));
  out.clear();
  EXPECT_FALSE(avc.convert(nullptr, 0, true, 0, out));
  EXPECT_TRUE(out.empty());
}

TEST(annexb_convert, malformed_lengths_name_the_sample_and_the_fault) {
  annexb_converter_t const converter(nal_family_t::avc, make_avcc({avc_sps}, {avc_pps}));
  bytes_t past_end = length_prefixed({avc_idr, avc_slice});
  past_end[9 + 3] = 100;  // the second NAL unit's length
  EXPECT_EQ(convert_error(converter, past_end, 7),
            "avc sample 7: NAL unit 1 at byte 9 has length 100, past the end of the 16-byte sample "
            "(3 bytes left)");

  bytes_t const zero = length_prefixed({avc_idr, bytes_t{}});
  EXPECT_EQ(convert_error(converter, zero, 2), "avc sample 2: NAL unit 1 at byte 9 has length 0");

  bytes_t cut = length_prefixed({avc_idr});
  cut.insert(cut.end(), {0, 0});
  EXPECT_EQ(convert_error(converter, cut, 3),
            "avc sample 3: the length prefix of NAL unit 1 at byte 9 is cut short: 2 of 4 bytes");

  annexb_converter_t const hevc(nal_family_t::hevc, make_hvcc({hvcc_array_t{32, {hevc_vps}}}, 2));
  bytes_t const huge = {0xff, 0xff, 0x26};
  EXPECT_EQ(convert_error(hevc, huge, 0),
            "hevc sample 0: NAL unit 0 at byte 0 has length 65535, past the end of the 3-byte sample "
            "(1 bytes left)");
}

class collect_sink_t final : public annexb_sink_t {
 public:
  void write(const uint8_t* data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
  bytes_t bytes;
};

// Pieces cut anywhere (inside a length prefix, between prefix and header,
// inside a NAL unit) give the same stream as the whole sample at once.
TEST(annexb_sample_writer, pieces_cut_anywhere_give_the_same_stream) {
  annexb_converter_t const converter(nal_family_t::avc, make_avcc({avc_sps}, {avc_pps}));
  bytes_t const sample = length_prefixed({avc_aud, avc_idr, avc_slice});
  bytes_t whole;
  converter.convert(sample.data(), sample.size(), true, 0, whole);
  for (size_t piece = 1; piece <= sample.size(); ++piece) {
    collect_sink_t sink;
    annexb_sample_writer_t writer(converter, sample.size(), true, 0, sink);
    for (size_t at = 0; at < sample.size(); at += piece) {
      writer.feed(sample.data() + at, std::min(piece, sample.size() - at));
    }
    EXPECT_TRUE(writer.finish());
    EXPECT_EQ(sink.bytes, whole) << "piece size " << piece;
  }
}

TEST(annexb_sample_writer, length_is_checked_before_any_byte_of_the_unit_is_written) {
  annexb_converter_t const converter(nal_family_t::avc, make_avcc({avc_sps}, {avc_pps}));
  bytes_t sample = length_prefixed({avc_idr});
  collect_sink_t sink;
  annexb_sample_writer_t writer(converter, sample.size() - 1, false, 4, sink);
  EXPECT_THROW(writer.feed(sample.data(), sample.size() - 1), exception);
  EXPECT_TRUE(sink.bytes.empty());
}

TEST(annexb_sample_writer, feeding_more_or_less_than_the_sample_size_fails) {
  annexb_converter_t const converter(nal_family_t::avc, {});
  bytes_t const bytes = {1, 2, 3};
  collect_sink_t sink;
  annexb_sample_writer_t short_writer(converter, 4, false, 0, sink);
  short_writer.feed(bytes.data(), bytes.size());
  EXPECT_THROW(short_writer.finish(), exception);
  annexb_sample_writer_t long_writer(converter, 2, false, 0, sink);
  EXPECT_THROW(long_writer.feed(bytes.data(), bytes.size()), exception);
}

}  // namespace
}  // namespace vantor::video
