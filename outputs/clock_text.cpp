#include "outputs/clock_text.hpp"

#include <cstdio>

namespace vantor::outputs {

std::string clock_text(uint64_t milliseconds, int hour_digits) {
  char text[48];
  std::snprintf(text, sizeof text, "%0*llu:%02llu:%02llu.%03llu", hour_digits,
                static_cast<unsigned long long>(milliseconds / 3'600'000),
                static_cast<unsigned long long>(milliseconds / 60'000 % 60),
                static_cast<unsigned long long>(milliseconds / 1000 % 60),
                static_cast<unsigned long long>(milliseconds % 1000));
  return text;
}

}  // namespace vantor::outputs
