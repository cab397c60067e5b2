#pragma once

// NAL units of both families for the Annex B and decoder base tests. They
// are a header byte and a little payload, not decodable pictures: the tests
// only follow where each unit ends up. H.264 keeps nal_unit_type in the low
// 5 bits of the first byte, HEVC in bits 1 to 6.

#include <cstdint>
#include <vector>

#include "support/memory_sample_source.hpp"

namespace vantor::video::nal_units {

using bytes_t = std::vector<uint8_t>;
using testing::annexb;
using testing::hvcc_array_t;
using testing::length_prefixed;
using testing::make_avcc;
using testing::make_hvcc;

inline const bytes_t avc_sps = {0x67, 0x64, 0x00, 0x1f, 0xac};
inline const bytes_t avc_sps2 = {0x67, 0x4d, 0x00};
inline const bytes_t avc_pps = {0x68, 0xeb, 0xe3};
inline const bytes_t avc_idr = {0x65, 0x88, 0x84, 0x00, 0x33};
inline const bytes_t avc_slice = {0x41, 0x9a, 0x02};
inline const bytes_t avc_aud = {0x09, 0xf0};

inline const bytes_t hevc_vps = {0x40, 0x01, 0x0c};
inline const bytes_t hevc_sps = {0x42, 0x01, 0x01, 0x60};
inline const bytes_t hevc_pps = {0x44, 0x01, 0xc1};
inline const bytes_t hevc_sei = {0x4e, 0x01, 0x05};
inline const bytes_t hevc_idr = {0x26, 0x01, 0xaf, 0x10};
inline const bytes_t hevc_cra = {0x2a, 0x01, 0xaf};
inline const bytes_t hevc_trail = {0x02, 0x01, 0xd0};
inline const bytes_t hevc_aud = {0x46, 0x01, 0x50};

}  // namespace vantor::video::nal_units
