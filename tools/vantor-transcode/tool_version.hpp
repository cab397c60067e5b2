#pragma once

#include <string>

#include "plugin_set.hpp"

namespace vantor::tools {

// "vantor-transcode 0.1.0 (FFmpeg 7.1.1, libavcodec 61.19.101, libavutil
// 59.39.100, libswscale 8.3.100)": the project's version and the FFmpeg
// libraries the modules run on, as loaded in this process once the decoder
// and resize modules are (a library a module cannot bring in is left out,
// and `*problem` says why).
std::string version_text(plugin_set_t& modules, std::string* problem);

}  // namespace vantor::tools
