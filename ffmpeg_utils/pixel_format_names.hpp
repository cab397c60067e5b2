#pragma once

// Internal to the bridge: the names of the AVPixelFormat enumerators.

namespace vantor::video::detail {

// The lowest and highest AVPixelFormat values that have a name here.
constexpr int first_named_pixel_format = -1;
constexpr int last_named_pixel_format = 192;

// The enumerator's name without "AV_PIX_FMT_", or null outside
// [first_named_pixel_format, last_named_pixel_format].
const char* pixel_format_name(int format) noexcept;

}  // namespace vantor::video::detail
