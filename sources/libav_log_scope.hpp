#pragma once

#include "log_context.hpp"

namespace vantor::sources {

// While it lives, what libav logs on this thread goes to `log_context`:
// FFmpeg's error, warning and info as such, verbose and debug as debug,
// anything else as trace, each dropped before any text is made when the
// context's level does not admit it. Without a log context the scope does
// nothing: libav logs wherever the process sends it.
//
// FFmpeg has one log callback for the whole process, and the decoders'
// bridge installs its own whenever a codec context is made. So each scope
// installs the route's callback anew. That callback sends a message to the
// scope of the thread it is logged on; messages of the decoders' codec
// contexts, and any on a thread without a scope, go on to the bridge's
// callback exactly as without the route (which drops all but the decoders'
// messages). If another thread installs the bridge while a scope lives,
// the scope's messages are dropped until the next scope: lost, never printed.
class libav_log_scope_t {
 public:
  explicit libav_log_scope_t(log_context_t* log_context) noexcept;
  ~libav_log_scope_t();

  libav_log_scope_t(const libav_log_scope_t&) = delete;
  libav_log_scope_t& operator=(const libav_log_scope_t&) = delete;

 private:
  log_context_t* const log_context_;
  log_context_t* outer_ = nullptr;  // of an enclosing scope on this thread
};

}  // namespace vantor::sources
