#include "trak.hpp"

namespace vantor {

std::string to_string(codec_t codec) {
  switch (codec) {
    case codec_t::avc: return "avc";
    case codec_t::hevc: return "hevc";
    case codec_t::jpeg: return "jpeg";
  }
  return "codec(" + std::to_string(static_cast<int>(codec)) + ")";
}

trak_t create_jpeg_trak(uint32_t width, uint32_t height,
                        const std::optional<fraction_t<unsigned int, unsigned int>>& sar) {
  trak_t trak;
  trak.codec = codec_t::jpeg;
  trak.width = width;
  trak.height = height;
  trak.sar = sar;
  return trak;
}

sample_source_t::~sample_source_t() = default;

}  // namespace vantor
