#include "run_limits.hpp"

#include "interruption.hpp"

namespace vantor::tools {

run_limits_t::run_limits_t(std::optional<int64_t> timeout_microseconds) {
  if (timeout_microseconds) {
    deadline_ = std::chrono::steady_clock::now() + std::chrono::microseconds(*timeout_microseconds);
  }
}

bool run_limits_t::stop_requested() const noexcept {
  if (interrupt_requested()) {
    interrupted_.store(true, std::memory_order_relaxed);
    return true;
  }
  if (deadline_ && std::chrono::steady_clock::now() >= *deadline_) {
    timed_out_.store(true, std::memory_order_relaxed);
    return true;
  }
  return interrupted() || timed_out();
}

}  // namespace vantor::tools
