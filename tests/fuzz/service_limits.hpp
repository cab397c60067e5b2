#pragma once

// What a thumbnailing service gives one upload, applied the way
// vantor-transcode applies its own bounds: every libav allocation capped by
// av_max_alloc for the largest picture allowed. With the tool's default of
// 8192x4320 a valid stream may keep ~1 GB of reference pictures, more than
// the fuzzers' 512 MB; a service of that size passes this --max-pixels.

#include <cstdint>
#include <string>

#include "memory_ceiling.hpp"
#include "tool_options.hpp"

namespace vantor::fuzz {

inline constexpr uint64_t service_max_pixels = 1920ull * 1088;

inline std::string service_max_pixels_text() { return std::to_string(service_max_pixels); }

// Process-wide, as in the tool's main(); for the entries that do not parse
// a command line of their own.
inline void apply_service_limits() {
  tools::tool_options_t options;
  options.max_pixels = service_max_pixels;
  tools::bound_libav_allocations(options);
}

}  // namespace vantor::fuzz
