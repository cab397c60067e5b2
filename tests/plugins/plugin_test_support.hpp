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

#include "support/paths.hpp"
#include "transcode/video_base.hpp"

namespace vantor::testing {

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

}  // namespace vantor::testing
