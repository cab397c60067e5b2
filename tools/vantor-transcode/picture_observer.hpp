#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "progress_meter.hpp"
#include "run_limits.hpp"
#include "transcode/video_base.hpp"

namespace vantor::tools {

// Watches the pictures of a chain through a tap: counts them for the
// progress line, sees the run's limits between any two, and, where no resize filter
// makes every picture the same size, ends the pictures at a size change (a
// JPEG track has one picture size); `stop_reason` says why.
class picture_observer_t {
 public:
  picture_observer_t(progress_meter_t& progress, bool needs_constant_size,
                     std::optional<std::string>& stop_reason, const run_limits_t& limits)
      : progress_(progress),
        needs_constant_size_(needs_constant_size),
        stop_reason_(stop_reason),
        limits_(limits) {}

  bool operator()(const video::frame_t& frame);

 private:
  progress_meter_t& progress_;
  bool needs_constant_size_;
  std::optional<std::string>& stop_reason_;
  const run_limits_t& limits_;
  uint64_t pictures_ = 0;
  uint64_t first_pts_ = 0;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
};

}  // namespace vantor::tools
