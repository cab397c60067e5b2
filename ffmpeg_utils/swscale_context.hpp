#pragma once

// The owner of one libswscale context: bilinear conversion of images from
// one size and pixel format to another.

#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

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

  SwsContext* get() const noexcept { return context_; }

 private:
  SwsContext* context_;
};

}  // namespace vantor::video
