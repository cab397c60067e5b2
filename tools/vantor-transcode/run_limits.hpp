#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

namespace vantor::tools {

// When one input's run must end early: Ctrl-C, or its --timeout running
// out. Asked from every thread of the run, between any two samples and
// pictures; remembers why it said stop.
class run_limits_t {
 public:
  explicit run_limits_t(std::optional<int64_t> timeout_microseconds);

  bool stop_requested() const noexcept;
  bool interrupted() const noexcept { return interrupted_.load(std::memory_order_relaxed); }
  bool timed_out() const noexcept { return timed_out_.load(std::memory_order_relaxed); }

 private:
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  mutable std::atomic<bool> interrupted_{false};
  mutable std::atomic<bool> timed_out_{false};
};

}  // namespace vantor::tools
