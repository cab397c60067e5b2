#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace vantor::tools {

// One self-overwriting status line on a terminal: pictures, percent of the
// stream's duration and pictures per second. Silent when disabled (stderr is
// not a terminal), so logs and pipes stay clean.
class progress_meter_t {
 public:
  using clock_t = std::chrono::steady_clock;

  progress_meter_t(bool enabled, double duration_seconds, std::FILE* terminal = stderr);

  // `position_seconds`: the presentation time of the latest picture, from
  // the start of the stream. Redraws at most every tenth of a second.
  void update(uint64_t pictures, double position_seconds);
  // Clears the line, so that the summary starts on an empty one.
  void finish();

  double elapsed_seconds() const;

 private:
  bool enabled_;
  double duration_seconds_;
  std::FILE* terminal_;
  clock_t::time_point start_;
  clock_t::time_point last_draw_;
  bool drawn_ = false;
};

}  // namespace vantor::tools
