#include "interruption.hpp"

#include <atomic>
#include <csignal>

namespace vantor::tools {

namespace {

std::atomic<bool> requested{false};

extern "C" void on_interrupt(int) {
  requested.store(true, std::memory_order_relaxed);
  std::signal(SIGINT, SIG_DFL);
}

}  // namespace

void install_interrupt_handler() { std::signal(SIGINT, on_interrupt); }

bool interrupt_requested() noexcept { return requested.load(std::memory_order_relaxed); }

}  // namespace vantor::tools
