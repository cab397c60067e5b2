#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "vantor_result.hpp"

namespace vantor {

// Where the messages of one host job go. `level` is read directly by the
// components, which test it before composing any text.
class log_context_t {
 public:
  using sink_t = std::function<void(vantor_log_level_t, std::string_view)>;

  // The default sink writes "<time> [<level>] <text>" lines to stderr.
  explicit log_context_t(int level = vantor_log_info);
  log_context_t(int level, sink_t sink);

  log_context_t(const log_context_t&) = delete;
  log_context_t& operator=(const log_context_t&) = delete;

  // Writes one message when `level` admits it.
  void log_at_level(vantor_log_level_t message_level, std::string_view text);

  static sink_t stderr_sink();

  int level;

 private:
  sink_t sink_;
};

// Collects log events from any thread (FFmpeg's worker threads among them)
// and writes them to its log context, in order, on the owner's thread.
// Its address is kept by libavcodec contexts, so it neither copies nor moves.
class logging_synchronizer_t {
 public:
  logging_synchronizer_t(log_context_t& log_context, unsigned capacity);
  ~logging_synchronizer_t();

  logging_synchronizer_t(const logging_synchronizer_t&) = delete;
  logging_synchronizer_t& operator=(const logging_synchronizer_t&) = delete;

  // Thread-safe. Beyond `capacity` unflushed events, events are counted and dropped.
  void store_event(vantor_log_level_t level, std::string text);

  // On the owner's thread: writes the stored events, then one line saying
  // how many were dropped, if any were.
  void flush_events();

  // The log context's level at construction; callers test it before formatting.
  int verbosity_threshold;

 private:
  struct event_t {
    vantor_log_level_t level;
    std::string text;
  };

  log_context_t& log_context_;
  unsigned const capacity_;
  std::mutex mutex_;
  std::vector<event_t> events_;
  std::vector<event_t> flushing_;
  unsigned long dropped_ = 0;
};

}  // namespace vantor
