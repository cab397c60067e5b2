#include "vstringprintf.hpp"

#include <cstdio>

namespace vantor {

std::string vstringprintf(const char* format, va_list args) {
  char small[256];
  va_list retry;
  va_copy(retry, args);
  int const needed = std::vsnprintf(small, sizeof small, format, args);
  std::string text;
  if (needed < 0) {
    va_end(retry);
    return text;
  }
  if (static_cast<size_t>(needed) < sizeof small) {
    text.assign(small, static_cast<size_t>(needed));
  } else {
    text.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), format, retry);
    text.resize(static_cast<size_t>(needed));
  }
  va_end(retry);
  return text;
}

std::string stringprintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vstringprintf(format, args);
  va_end(args);
  return text;
}

}  // namespace vantor
