#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "trak.hpp"

namespace vantor::sources {

// How a track's samples frame their NAL units, read from its decoder
// configuration record.
struct nal_layout_t {
  codec_t codec = codec_t::avc;
  unsigned length_size = 0;      // of the NAL length prefixes; 0: Annex B start codes
  unsigned temporal_layers = 0;  // HEVC (hvcC numTemporalLayers); 0: unknown
  bool readable = true;          // false for a record too short to say
};

nal_layout_t nal_layout_of(codec_t codec, const std::vector<uint8_t>& decoder_config);

// Whether no other picture can refer to the picture of this sample, so that
// a decoder that is not to show it may go without it: H.264 slices with
// nal_ref_idc 0; HEVC sub-layer non-reference slices (types 0, 2, ..., 14)
// of the highest temporal layer. False whenever the sample cannot tell.
bool is_unreferenced_picture(const nal_layout_t& layout, const uint8_t* data, size_t size);

}  // namespace vantor::sources
