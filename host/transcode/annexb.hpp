#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantor::video {

enum class nal_family_t { avc, hevc };

// Receives the bytes of an Annex B stream as they are produced.
class annexb_sink_t {
 public:
  virtual void write(const uint8_t* data, size_t size) = 0;

 protected:
  ~annexb_sink_t() = default;
};

// Turns samples in MP4 form (NAL units behind big-endian length prefixes)
// into an Annex B byte stream, with the parameter sets of the decoder
// configuration record (avcC: SPS, PPS; hvcC: VPS, SPS, PPS) in band.
// An empty record means the samples are Annex B already: they pass unchanged.
//
// Every NAL unit gets the 4-byte start code 00 00 00 01. The parameter sets
// go in front of the first NAL unit that is not an access unit delimiter,
// so that a leading delimiter stays first in its access unit.
class annexb_converter_t {
 public:
  // Parses the record; a truncated or inconsistent one throws 13 naming the
  // fault. Only VPS, SPS and PPS arrays of an hvcC record are kept (SEI
  // arrays are dropped), in the record's order.
  annexb_converter_t(nal_family_t family, const std::vector<uint8_t>& decoder_config);

  nal_family_t family() const noexcept { return family_; }
  bool passthrough() const noexcept { return passthrough_; }
  unsigned length_size() const noexcept { return length_size_; }
  // Start code + parameter set, for every set of the record.
  const std::vector<uint8_t>& parameter_sets() const noexcept { return parameter_sets_; }

  // Appends sample `bytes` as Annex B to `out`; `with_parameter_sets` puts
  // the record's sets in band. Malformed NAL lengths throw 13 naming
  // `sample_number` and the fault; nothing is read past `size`. Returns
  // whether the parameter sets were written (a sample without NAL units
  // other than delimiters gets none).
  bool convert(const uint8_t* bytes, size_t size, bool with_parameter_sets,
               uint64_t sample_number, std::vector<uint8_t>& out) const;

 private:
  nal_family_t family_;
  bool passthrough_ = true;
  unsigned length_size_ = 4;
  std::vector<uint8_t> parameter_sets_;
};

// Converts one sample that arrives in pieces (the blocks of its bucket
// chain), writing straight into a sink without gathering the sample first.
// A length prefix or a NAL unit may be cut across pieces.
class annexb_sample_writer_t {
 public:
  // `sample_size` is the total of the pieces to come; it bounds every NAL
  // length before any byte of that NAL unit is written.
  annexb_sample_writer_t(const annexb_converter_t& converter, size_t sample_size,
                         bool with_parameter_sets, uint64_t sample_number, annexb_sink_t& sink);

  void feed(const uint8_t* data, size_t size);
  // Checks that the sample ended on a NAL unit boundary; returns whether the
  // parameter sets were written.
  bool finish();

 private:
  enum class state_t { length, header, body };

  [[noreturn]] void fail(const std::string& fault) const;
  void start_nal_unit(uint8_t header_byte);

  const annexb_converter_t& converter_;
  annexb_sink_t& sink_;
  size_t sample_size_;
  uint64_t sample_number_;
  bool owe_parameter_sets_;
  bool wrote_parameter_sets_ = false;

  state_t state_ = state_t::length;
  size_t consumed_ = 0;         // bytes of the sample taken so far
  size_t nal_start_ = 0;        // offset of the current length prefix
  uint64_t nal_index_ = 0;      // 0-based number of the current NAL unit
  unsigned prefix_have_ = 0;    // length prefix bytes gathered so far
  uint32_t nal_length_ = 0;     // the prefix's value, as far as gathered
  size_t body_left_ = 0;        // bytes of the current NAL unit still to copy
};

}  // namespace vantor::video
