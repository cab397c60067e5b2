#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fraction.hpp"
#include "mp4_full_sample.hpp"

namespace vantor {

enum class codec_t { avc, hevc, jpeg };

std::string to_string(codec_t codec);

// How stored pictures turn upright for display: first rotated clockwise by
// `rotation` degrees, then mirrored left to right when `mirror` is set.
// Phones store portrait video landscape and say so in the container.
struct orientation_t {
  uint16_t rotation = 0;  // 0, 90, 180 or 270
  bool mirror = false;

  bool is_identity() const noexcept { return rotation == 0 && !mirror; }
  bool swaps_axes() const noexcept { return rotation == 90 || rotation == 270; }
  bool operator==(const orientation_t& other) const noexcept {
    return rotation == other.rotation && mirror == other.mirror;
  }
  bool operator!=(const orientation_t& other) const noexcept { return !(*this == other); }
};

// What a track is: codec, picture size, timing and the decoder configuration.
struct trak_t {
  codec_t codec = codec_t::avc;
  uint32_t width = 0;
  uint32_t height = 0;
  std::optional<fraction_t<unsigned int, unsigned int>> sar;
  uint32_t media_timescale = 0;  // ticks per second of the sample times
  uint64_t duration = 0;         // in media_timescale units; 0 when unknown
  // The avcC or hvcC record; empty when the samples are an Annex B stream.
  std::vector<uint8_t> decoder_config;
  // Of the stored pictures, which width and height describe.
  orientation_t orientation;
};

// A JPEG track of `width` x `height` pictures; the caller sets the timescale.
trak_t create_jpeg_trak(uint32_t width, uint32_t height,
                        const std::optional<fraction_t<unsigned int, unsigned int>>& sar);

// Pull interface of compressed samples.
class sample_source_t {
 public:
  virtual const trak_t& trak() const = 0;
  // The decode time of the first sample, in the track's timescale.
  virtual uint64_t first_dts() const = 0;
  // The next sample, or an empty optional at the end (and ever after).
  virtual std::optional<full_sample_t> read_sample() = 0;
  virtual ~sample_source_t();
};

}  // namespace vantor
