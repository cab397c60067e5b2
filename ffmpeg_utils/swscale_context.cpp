#include "ffmpeg_utils/swscale_context.hpp"

#include <limits>

#include "ffmpeg_utils/bridge_check.hpp"
#include "ffmpeg_utils/libav_error.hpp"

namespace vantor::video {

wrap_swscale_context_t::wrap_swscale_context_t(uint32_t src_width, uint32_t src_height,
                                               AVPixelFormat src_format, uint32_t dst_width,
                                               uint32_t dst_height, AVPixelFormat dst_format)
    : context_(create_sws_context(src_width, src_height, src_format, dst_width, dst_height,
                                  dst_format)) {}

wrap_swscale_context_t::~wrap_swscale_context_t() {
  if (context_ != nullptr) sws_freeContext(context_);
}

constexpr check_site_t create_sws_context_site = detail::bridge_site(
    "static SwsContext* vantor::video::wrap_swscale_context_t::create_sws_context(uint32_t, "
    "uint32_t, AVPixelFormat, uint32_t, uint32_t, AVPixelFormat)");

SwsContext* wrap_swscale_context_t::create_sws_context(uint32_t src_width, uint32_t src_height,
                                                       AVPixelFormat src_format,
                                                       uint32_t dst_width, uint32_t dst_height,
                                                       AVPixelFormat dst_format) {
  check_site_t const& site = create_sws_context_site;
  VANTOR_CHECK_AT(src_width <= static_cast<uint32_t>(std::numeric_limits<int>::max()), site);
  VANTOR_CHECK_AT(src_height <= static_cast<uint32_t>(std::numeric_limits<int>::max()), site);
  VANTOR_CHECK_AT(dst_width <= static_cast<uint32_t>(std::numeric_limits<int>::max()), site);
  VANTOR_CHECK_AT(dst_height <= static_cast<uint32_t>(std::numeric_limits<int>::max()), site);
  // libswscale asserts (aborts the process) on a format it has no
  // descriptor for, instead of failing; such formats fail here as it would.
  SwsContext* const context =
      sws_isSupportedInput(src_format) == 0 || sws_isSupportedOutput(dst_format) == 0
          ? nullptr
          : sws_getContext(static_cast<int>(src_width), static_cast<int>(src_height), src_format,
                           static_cast<int>(dst_width), static_cast<int>(dst_height),
                           dst_format, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (context == nullptr) {
    throw_libav_failure("swscale_context", "libswscale failed to initialize a rescaling context");
  }
  return context;
}

int wrap_swscale_context_t::scale(const uint8_t* const* src_planes, const int* src_strides,
                                  int src_slice_y, int src_height, uint8_t* const* dst_planes,
                                  const int* dst_strides) {
  return sws_scale(context_, src_planes, src_strides, src_slice_y, src_height, dst_planes,
                   dst_strides);
}

int sws_colorspace_of(frame_t::matrix_t matrix) {
  switch (matrix) {
    case frame_t::matrix_t::bt601: return SWS_CS_ITU601;
    case frame_t::matrix_t::bt709: return SWS_CS_ITU709;
    case frame_t::matrix_t::bt2020: return SWS_CS_BT2020;
  }
  return SWS_CS_DEFAULT;
}

void wrap_swscale_context_t::set_colorspace(frame_t::range_t src_range,
                                            frame_t::matrix_t src_matrix,
                                            frame_t::range_t dst_range,
                                            frame_t::matrix_t dst_matrix) {
  // Neutral brightness, contrast and saturation (16.16 fixed point).
  int const result = sws_setColorspaceDetails(
      context_, sws_getCoefficients(sws_colorspace_of(src_matrix)),
      src_range == frame_t::range_t::full ? 1 : 0,
      sws_getCoefficients(sws_colorspace_of(dst_matrix)),
      dst_range == frame_t::range_t::full ? 1 : 0, 0, 1 << 16, 1 << 16);
  if (result < 0) {
    throw_libav_failure("swscale_context", "libswscale failed to set the colour details", result);
  }
}

}  // namespace vantor::video
