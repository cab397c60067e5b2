#include "interruption.hpp"

#include <atomic>
#include <csignal>
#include <cstdlib>

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

void note_picture_written() {
  static long const after = [] {
    const char* const text = std::getenv("VANTOR_TRANSCODE_INTERRUPT_AFTER");
    return text ? std::strtol(text, nullptr, 10) : 0L;
  }();
  static std::atomic<long> written{0};
  if (after > 0 && written.fetch_add(1) + 1 == after) std::raise(SIGINT);
}

}  // namespace vantor::tools
