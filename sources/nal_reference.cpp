#include "sources/nal_reference.hpp"

namespace vantor::sources {

namespace {

// The first slice's NAL header bytes, or nullptr (with `size` bytes left
// at `header`, at least the header's length).
const uint8_t* first_slice_header(const nal_layout_t& layout, const uint8_t* data, size_t size) {
  bool const hevc = layout.codec == codec_t::hevc;
  size_t const header_size = hevc ? 2 : 1;
  auto const is_slice = [&](uint8_t first) {
    unsigned const type = hevc ? (first >> 1) & 0x3f : first & 0x1f;
    return hevc ? type < 32 : type >= 1 && type <= 5;
  };
  if (layout.length_size == 0) {
    // Annex B: every header follows a 00 00 01 start code.
    for (size_t i = 0; i + 3 + header_size <= size; ++i) {
      if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
        if (is_slice(data[i + 3])) return data + i + 3;
        i += 2;
      }
    }
    return nullptr;
  }
  size_t at = 0;
  while (at + layout.length_size <= size) {
    size_t length = 0;
    for (unsigned i = 0; i < layout.length_size; ++i) length = length << 8 | data[at + i];
    at += layout.length_size;
    if (length < header_size || length > size - at) return nullptr;
    if (is_slice(data[at])) return data + at;
    at += length;
  }
  return nullptr;
}

}  // namespace

nal_layout_t nal_layout_of(codec_t codec, const std::vector<uint8_t>& decoder_config) {
  nal_layout_t layout;
  layout.codec = codec;
  if (codec == codec_t::avc && decoder_config.size() > 4) {
    layout.length_size = (decoder_config[4] & 3u) + 1;
  } else if (codec == codec_t::hevc && decoder_config.size() > 21) {
    layout.length_size = (decoder_config[21] & 3u) + 1;
    layout.temporal_layers = (decoder_config[21] >> 3) & 7u;
  }
  // A record too short to give its length size: nothing can be told.
  layout.readable = decoder_config.empty() || layout.length_size != 0;
  return layout;
}

bool is_unreferenced_picture(const nal_layout_t& layout, const uint8_t* data, size_t size) {
  if (data == nullptr || !layout.readable) return false;
  const uint8_t* const header = first_slice_header(layout, data, size);
  if (header == nullptr) return false;
  if (layout.codec == codec_t::avc) return (header[0] & 0x60) == 0;
  unsigned const type = (header[0] >> 1) & 0x3f;
  unsigned const temporal_id = (header[1] & 7u) - 1;
  // A lower layer's non-reference picture may still serve a higher layer.
  bool const top_layer = layout.temporal_layers != 0 && temporal_id + 1 >= layout.temporal_layers;
  return type <= 14 && type % 2 == 0 && top_layer;
}

}  // namespace vantor::sources
