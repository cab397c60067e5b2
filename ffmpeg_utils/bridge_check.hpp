#pragma once

// Internal to the bridge: the documented source of its checks. The bridge
// is spread over several files, and every one of its checks names this one.

#include "exception.hpp"

namespace vantor::video::detail {

inline constexpr const char* bridge_source = "ffmpeg_utils/ffmpeg_utils.cpp";

// The site of a bridge check in the function whose text is `function`.
constexpr check_site_t bridge_site(const char* function) { return {bridge_source, function}; }

}  // namespace vantor::video::detail
