#include "log_context.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <utility>

namespace vantor {

namespace {
const char* level_name(vantor_log_level_t level) {
  switch (level) {
    case vantor_log_error: return "error";
    case vantor_log_warning: return "warning";
    case vantor_log_info: return "info";
    case vantor_log_debug: return "debug";
    case vantor_log_trace: return "trace";
  }
  return "?";
}
}  // namespace

log_context_t::log_context_t(int level) : log_context_t(level, stderr_sink()) {}

log_context_t::log_context_t(int level, sink_t sink) : level(level), sink_(std::move(sink)) {}

void log_context_t::log_at_level(vantor_log_level_t message_level, std::string_view text) {
  if (message_level > level || !sink_) return;
  sink_(message_level, text);
}

log_context_t::sink_t log_context_t::stderr_sink() {
  return [](vantor_log_level_t message_level, std::string_view text) {
    using clock = std::chrono::system_clock;
    auto const now = clock::now();
    std::time_t const seconds = clock::to_time_t(now);
    auto const millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    // FFmpeg's texts often end in a newline already.
    bool const has_newline = !text.empty() && text.back() == '\n';
    std::fprintf(stderr, "%s.%03d [%s] %.*s%s", stamp, static_cast<int>(millis),
                 level_name(message_level), static_cast<int>(text.size()), text.data(),
                 has_newline ? "" : "\n");
  };
}

logging_synchronizer_t::logging_synchronizer_t(log_context_t& log_context, unsigned capacity)
    : verbosity_threshold(log_context.level), log_context_(log_context), capacity_(capacity) {}

logging_synchronizer_t::~logging_synchronizer_t() = default;

void logging_synchronizer_t::store_event(vantor_log_level_t level, std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (events_.size() >= capacity_) {
    ++dropped_;
    return;
  }
  events_.push_back({level, std::move(text)});
}

void logging_synchronizer_t::flush_events() {
  unsigned long dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    flushing_.swap(events_);
    dropped = std::exchange(dropped_, 0);
  }
  // Written outside the lock, so that a slow sink never blocks FFmpeg's threads.
  for (event_t& event : flushing_) log_context_.log_at_level(event.level, event.text);
  flushing_.clear();
  if (dropped != 0) {
    log_context_.log_at_level(vantor_log_warning, "logging_synchronizer: dropped " +
                                                      std::to_string(dropped) +
                                                      " log events beyond the capacity");
  }
}

}  // namespace vantor
