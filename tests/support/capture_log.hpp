#pragma once

#include <string>
#include <vector>

#include "log_context.hpp"

namespace vantor::testing {

// A log context whose messages are kept for inspection.
struct captured_line_t {
  vantor_log_level_t level;
  std::string text;
};

class capture_log_t {
 public:
  explicit capture_log_t(int level)
      : context(level, [this](vantor_log_level_t l, std::string_view text) {
          lines.push_back({l, std::string(text)});
        }) {}

  // Lines whose text starts with `prefix`.
  std::vector<std::string> starting_with(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const captured_line_t& line : lines) {
      if (line.text.compare(0, prefix.size(), prefix) == 0) found.push_back(line.text);
    }
    return found;
  }

  std::vector<captured_line_t> lines;
  log_context_t context;
};

}  // namespace vantor::testing
