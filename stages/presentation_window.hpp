#pragma once

#include <cstdint>
#include <memory>

#include "transcode/video_base.hpp"

namespace vantor::stages {

// The pictures of a decoder on the container's presentation timeline. A
// trimmed clip (an edit list, Matroska blocks before time 0) keeps the
// pictures before its start because later ones refer to them; they are
// decoded, then dropped here. `start` is presentation time 0 in the input's
// ticks: pictures before it are dropped, the others and the end frame get
// times relative to it (an end frame before it ends at 0).
class presentation_window_t final : public video::frame_source_t {
 public:
  presentation_window_t(std::unique_ptr<video::frame_source_t> input, uint64_t start);

  video::frame_t operator()() override;

  uint64_t dropped() const noexcept { return dropped_; }

 private:
  std::unique_ptr<video::frame_source_t> input_;
  uint64_t start_;
  uint64_t dropped_ = 0;
};

}  // namespace vantor::stages
