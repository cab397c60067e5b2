#pragma once

// The owner of one libswscale context: bilinear conversion of images from
// one size and pixel format to another.

#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "transcode/video_base.hpp"

namespace vantor::video {

// Owns one SwsContext (never null). Not copyable.
class wrap_swscale_context_t {
 public:
  wrap_swscale_context_t(uint32_t src_width, uint32_t src_height, AVPixelFormat src_format,
                         uint32_t dst_width, uint32_t dst_height, AVPixelFormat dst_format);
  ~wrap_swscale_context_t();

  wrap_swscale_context_t(const wrap_swscale_context_t&) = delete;
  wrap_swscale_context_t& operator=(const wrap_swscale_context_t&) = delete;
  wrap_swscale_context_t(wrap_swscale_context_t&&) = delete;
  wrap_swscale_context_t& operator=(wrap_swscale_context_t&&) = delete;

  // Checks that every size fits in an int, then sws_getContext (bilinear,
  // no filters, no parameters). Throws 89 when libswscale returns null.
  static SwsContext* create_sws_context(uint32_t src_width, uint32_t src_height,
                                        AVPixelFormat src_format, uint32_t dst_width,
                                        uint32_t dst_height, AVPixelFormat dst_format);

  // sws_scale's result, unchanged: the output height, or a negative error.
  int scale(const uint8_t* const* src_planes, const int* src_strides, int src_slice_y,
            int src_height, uint8_t* const* dst_planes, const int* dst_strides);

  // Tells libswscale the range and matrix of both sides, so that it rescales
  // levels only where the ranges differ and converts between matrices. A
  // fresh context assumes limited BT.601 input; call this only for other
  // pictures, so that those keep their exact output.
  void set_colorspace(frame_t::range_t src_range, frame_t::matrix_t src_matrix,
                      frame_t::range_t dst_range, frame_t::matrix_t dst_matrix);

  SwsContext* get() const noexcept { return context_; }

 private:
  SwsContext* context_;
};

// libswscale's SWS_CS_* value of a matrix.
int sws_colorspace_of(frame_t::matrix_t matrix);

}  // namespace vantor::video
