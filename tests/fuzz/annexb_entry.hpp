#pragma once

// Fuzz entry: the conversion of MP4-form samples to Annex B.
//
// Input layout:
//   u8  flags  bit 0     HEVC (else H.264)
//              bit 1     the first sample asks for the parameter sets
//              bits 2-7  the writer is fed in pieces of 1 + this many bytes
//   u16 record length, record bytes (empty: the samples pass unchanged)
//   then samples until the input ends: u16 length, bytes; a sample whose
//   first length byte has its top bit set asks for the parameter sets too.
//
// The converter and the piecewise writer are checked against a plain
// reference conversion over the whole sample: same verdict, same bytes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "exception.hpp"
#include "fuzz/fuzz_support.hpp"
#include "transcode/annexb.hpp"

namespace vantor::fuzz {

namespace detail {

// The conversion written down as simply as possible. A refused sample
// (`ok` false) still has the bytes of the NAL units before the bad one:
// nothing of a NAL unit is written before its length is known to fit.
struct reference_result_t {
  std::vector<uint8_t> bytes;
  bool wrote_parameter_sets = false;
  bool ok = true;
};

inline reference_result_t reference_annexb(const video::annexb_converter_t& converter,
                                                          const std::vector<uint8_t>& sample,
                                                          bool with_parameter_sets) {
  reference_result_t result;
  if (converter.passthrough()) {
    result.bytes = sample;
    return result;
  }
  bool owe = with_parameter_sets && !converter.parameter_sets().empty();
  size_t const length_size = converter.length_size();
  size_t pos = 0;
  while (pos < sample.size()) {
    if (sample.size() - pos < length_size) {
      result.ok = false;
      return result;
    }
    size_t length = 0;
    for (size_t i = 0; i < length_size; ++i) length = length << 8 | sample[pos + i];
    pos += length_size;
    if (length == 0 || length > sample.size() - pos) {
      result.ok = false;
      return result;
    }
    uint8_t const header = sample[pos];
    bool const delimiter = converter.family() == video::nal_family_t::avc
                               ? (header & 0x1f) == 9
                               : ((header >> 1) & 0x3f) == 35;
    if (owe && !delimiter) {
      const std::vector<uint8_t>& sets = converter.parameter_sets();
      result.bytes.insert(result.bytes.end(), sets.begin(), sets.end());
      owe = false;
      result.wrote_parameter_sets = true;
    }
    result.bytes.insert(result.bytes.end(), {0, 0, 0, 1});
    result.bytes.insert(result.bytes.end(), sample.begin() + static_cast<std::ptrdiff_t>(pos),
                        sample.begin() + static_cast<std::ptrdiff_t>(pos + length));
    pos += length;
  }
  return result;
}

class collecting_sink_t final : public video::annexb_sink_t {
 public:
  void write(const uint8_t* data, size_t size) override {
    require(size == 0 || data != nullptr, "a null write");
    bytes.insert(bytes.end(), data, data + size);
  }
  std::vector<uint8_t> bytes;
};

}  // namespace detail

inline void fuzz_annexb(const uint8_t* data, size_t size) {
  byte_reader_t in(data, size);
  uint8_t const flags = in.u8();
  video::nal_family_t const family = flags & 1 ? video::nal_family_t::hevc : video::nal_family_t::avc;
  size_t const piece = 1 + (flags >> 2);
  std::vector<uint8_t> const record = in.bytes(in.u16());

  std::optional<video::annexb_converter_t> converter;
  try {
    converter.emplace(family, record);
  } catch (const vantor::exception& e) {
    require(e.result() == vantor_result_check_failed, "a record refused with another code than 13");
    return;
  }
  require(converter->passthrough() == record.empty(), "passthrough does not match the record");
  const std::vector<uint8_t>& sets = converter->parameter_sets();
  require(sets.empty() || (sets.size() > 4 && sets[0] == 0 && sets[1] == 0 && sets[2] == 0 && sets[3] == 1),
          "the parameter sets do not start with a start code");

  bool first = true;
  for (uint64_t number = 0; !in.empty() && number < 1000; ++number) {
    uint16_t const length = in.u16();
    bool const with_sets = (first && (flags & 2)) || (length & 0x8000);
    first = false;
    std::vector<uint8_t> const sample = in.bytes(length & 0x7fff);
    detail::reference_result_t const expected =
        detail::reference_annexb(*converter, sample, with_sets);

    // The whole sample at once.
    std::vector<uint8_t> out = {0xaa};  // convert appends; what was there stays
    bool wrote = false;
    bool refused = false;
    try {
      wrote = converter->convert(sample.data(), sample.size(), with_sets, number, out);
    } catch (const vantor::exception& e) {
      require(e.result() == vantor_result_check_failed, "a sample refused with another code than 13");
      refused = true;
    }
    require(refused == !expected.ok, expected.ok ? "a good sample refused" : "a bad sample accepted");
    require(out.front() == 0xaa, "convert changed bytes it was not given");
    require(std::vector<uint8_t>(out.begin() + 1, out.end()) == expected.bytes,
            "convert's bytes differ from the reference");
    if (expected.ok)
      require(wrote == expected.wrote_parameter_sets, "convert misreports the parameter sets");

    // The same sample in pieces.
    detail::collecting_sink_t sink;
    refused = false;
    try {
      video::annexb_sample_writer_t writer(*converter, sample.size(), with_sets, number, sink);
      for (size_t at = 0; at < sample.size(); at += piece)
        writer.feed(sample.data() + at, std::min(piece, sample.size() - at));
      wrote = writer.finish();
    } catch (const vantor::exception& e) {
      require(e.result() == vantor_result_check_failed, "a piece refused with another code than 13");
      refused = true;
    }
    require(refused == !expected.ok,
            expected.ok ? "a good sample refused in pieces" : "a bad sample accepted in pieces");
    require(sink.bytes == expected.bytes, "the writer's bytes differ from the reference");
    if (expected.ok)
      require(wrote == expected.wrote_parameter_sets, "the writer misreports the parameter sets");
  }
}

}  // namespace vantor::fuzz
