#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "transcode/video_base.hpp"

namespace vantor::stages {

// The luminance an HDR picture's mapping puts at SDR white, and where the
// number came from.
struct hdr_peak_t {
  enum class source_t {
    picture,          // the picture's own brightest light (a high percentile)
    metadata,         // MaxCLL or the mastering display, lower than the picture's
    nominal,          // none given: HLG's 1000-nit display, PQ's 10000-nit limit
    reference_white,  // a picture with nothing above HDR reference white
  };
  double nits = 0;
  source_t source = source_t::picture;
};

std::string to_string(hdr_peak_t::source_t source);

// How the SDR pictures come out: JPEG viewers decode full-range BT.601;
// video players take limited-range BT.709.
struct sdr_layout_t {
  video::frame_t::matrix_t matrix = video::frame_t::matrix_t::bt601;
  video::frame_t::range_t range = video::frame_t::range_t::full;
};

// Turns PQ and HLG pictures into SDR ones: BT.709 primaries, the sRGB
// transfer, 8-bit YUV 4:2:0. One object serves a stream of pictures and
// keeps its tables between them.
//
// Luminance is mapped, and the three channels are scaled together by its
// ratio so that hues stay. Below a knee the curve keeps the HDR light, then
// rolls the highlights off to SDR white at the peak (BT.2390's EETF in the
// PQ domain); HDR reference white (203 nits) lands near 75 % of the SDR
// signal. HLG pictures are first made display light for a 1000-nit display
// (or the mastering display's peak) with BT.2100's system gamma. Colours
// outside BT.709 lose chroma toward the neutral axis at constant Oklab hue,
// bright ones some lightness too, instead of being clipped channel by
// channel.
class hdr_to_sdr_t {
 public:
  hdr_to_sdr_t();
  ~hdr_to_sdr_t();
  hdr_to_sdr_t(const hdr_to_sdr_t&) = delete;
  hdr_to_sdr_t& operator=(const hdr_to_sdr_t&) = delete;

  // The light of the picture's brightest channel that all but the
  // brightest 0.1 % of its pixels stay below, in nits. It is taken per 2x2
  // block, of the block's mean luma with its chroma: a single pixel's luma
  // with chroma from across an edge would make colours the picture does
  // not hold.
  double picture_peak_nits(const video::frame_t& picture);

  // The peak a picture is mapped with: the lower of what its metadata says
  // and what the picture holds, never below reference white (203 nits), so
  // that a dark scene stays dark instead of being stretched to white.
  hdr_peak_t peak_of(const video::frame_t& picture);

  video::frame_t operator()(const video::frame_t& picture, const sdr_layout_t& layout,
                            const hdr_peak_t& peak);

 private:
  struct tables_t;
  struct curve_t;
  // The tables of the picture's transfer, matrix and primaries; kept while
  // the pictures keep them.
  const tables_t& tables_for(const video::frame_t& picture);
  void curve_for(double peak_nits);

  std::unique_ptr<tables_t> tables_;
  std::unique_ptr<curve_t> curve_;  // SDR light of Y/peak
  double curve_peak_ = -1;
  double curve_target_ = -1;
  std::vector<float> block_peaks_;
};

}  // namespace vantor::stages
