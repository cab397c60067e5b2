#pragma once

// Where the tests find their clips, the build's programs and the modules.

#include <string>

namespace vantor::testing {

// A file of tests/data/.
inline std::string clip_path(const std::string& name) {
  return std::string(VANTOR_TEST_DATA_DIR) + "/" + name;
}

// A file of the build tree, e.g. "lib/libvantor_ffmpeg_utils.so".
inline std::string build_path(const std::string& relative) {
  return std::string(VANTOR_BUILD_DIR) + "/" + relative;
}

// A plug-in module of the build by its short name ("video_decoder_avc_avcodec").
inline std::string module_path(const std::string& name) {
  return build_path("plugins/libvantor_" + name + ".so");
}

}  // namespace vantor::testing
