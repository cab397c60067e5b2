#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "transcode/video_base.hpp"

namespace vantor::testing {

inline std::string module_path(const std::string& name) {
  return std::string(VANTOR_BUILD_DIR) + "/plugins/libvantor_" + name + ".so";
}

inline std::string clip_path(const std::string& name) {
  return std::string(VANTOR_TEST_DATA_DIR) + "/" + name;
}

// Whether the module is loaded in this process now (without loading it).
inline bool is_loaded(const std::string& path) {
  void* const handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

// `count` grey 8-bit 4:2:0 pictures 40 ms apart, then end frames.
class synthetic_frames_t final : public video::frame_source_t {
 public:
  synthetic_frames_t(uint32_t width, uint32_t height, unsigned count)
      : width_(width), height_(height), count_(count) {}

  video::frame_t operator()() override {
    video::frame_t frame;
    frame.format_ = video::frame_t::format_t::yuv420p;
    frame.timescale_ = 1000;
    frame.pts_ = uint64_t{40} * next_;
    if (next_ < count_) {
      frame.width_ = width_;
      frame.height_ = height_;
      frame.keyframe_ = true;
      frame.data_ = video::create_frame_data(width_, height_, frame.format_,
                                             video::yuv_t{uint16_t(60 + 20 * next_), 128, 128});
      ++next_;
    }
    return frame;
  }

 private:
  uint32_t width_;
  uint32_t height_;
  unsigned count_;
  unsigned next_ = 0;
};

// One line of tests/data/clips.tsv, by column name.
inline std::map<std::string, std::string> clip_reference(const std::string& clip) {
  std::ifstream file(clip_path("clips.tsv"));
  std::string line;
  std::getline(file, line);
  auto split = [](const std::string& text) {
    std::vector<std::string> fields;
    std::istringstream stream(text);
    std::string field;
    while (std::getline(stream, field, '\t')) fields.push_back(field);
    return fields;
  };
  std::vector<std::string> const header = split(line);
  while (std::getline(file, line)) {
    std::vector<std::string> const fields = split(line);
    if (fields.empty() || fields[0] != clip) continue;
    std::map<std::string, std::string> row;
    for (size_t i = 0; i < header.size() && i < fields.size(); ++i) row[header[i]] = fields[i];
    return row;
  }
  return {};
}

}  // namespace vantor::testing
