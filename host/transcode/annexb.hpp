#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantor::video {

enum class nal_family_t { avc, hevc };

// Turns samples in MP4 form (NAL units behind big-endian length prefixes)
// into an Annex B byte stream, with the parameter sets of the decoder
// configuration record (avcC: SPS, PPS; hvcC: VPS, SPS, PPS) in band.
// An empty record means the samples are Annex B already: they pass unchanged.
class annexb_converter_t {
 public:
  // Parses the record; a truncated or inconsistent one throws 13.
  annexb_converter_t(nal_family_t family, const std::vector<uint8_t>& decoder_config);

  bool passthrough() const noexcept { return passthrough_; }
  unsigned length_size() const noexcept { return length_size_; }
  // Start code + parameter set, for every set of the record.
  const std::vector<uint8_t>& parameter_sets() const noexcept { return parameter_sets_; }

  // Appends sample `bytes` as Annex B to `out`; `with_parameter_sets` puts
  // the record's sets in front. Malformed NAL lengths throw 13 naming
  // `sample_number` and the fault; nothing is read past `size`.
  void convert(const uint8_t* bytes, size_t size, bool with_parameter_sets,
               uint64_t sample_number, std::vector<uint8_t>& out) const;

 private:
  nal_family_t family_;
  bool passthrough_ = true;
  unsigned length_size_ = 4;
  std::vector<uint8_t> parameter_sets_;
};

}  // namespace vantor::video
