#pragma once

#include <sstream>

#include "log_context.hpp"

namespace vantor::video {

// Writes one line "<component>: <what compose streams>" at `level`,
// composing it only when the log context admits that level.
template <typename Compose>
void log_line(log_context_t& log_context, vantor_log_level_t level, const char* component,
              Compose&& compose) {
  if (log_context.level < level) return;
  std::ostringstream line;
  line << component << ": ";
  compose(line);
  log_context.log_at_level(level, line.str());
}

}  // namespace vantor::video
