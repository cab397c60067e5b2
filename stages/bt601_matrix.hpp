#pragma once

#include <cstdint>
#include <vector>

#include "transcode/video_base.hpp"

namespace vantor::stages {

// Turns 8-bit BT.709 pictures (NV12 or YUV 4:2:0, either range) into the
// BT.601 matrix that JPEG viewers decode, in place and in one pass on
// Y'CbCr: a 3x3 matrix in fixed point, no trip through RGB. Luma takes its
// correction from the chroma around it (co-sited horizontally, between the
// rows vertically, as H.264 and HEVC place it), chroma from itself.
// `range` is the range of the pictures out; the rest of the colour stays.
class bt601_matrix_t {
 public:
  explicit bt601_matrix_t(video::frame_t::range_t range);

  // Pictures of other formats or matrices are refused (13).
  void operator()(video::frame_t& picture);

  static bool applies_to(const video::frame_t& picture);

 private:
  video::frame_t::range_t range_;
  std::vector<int16_t> rows_;  // luma corrections of three chroma rows, and their mix
};

}  // namespace vantor::stages
