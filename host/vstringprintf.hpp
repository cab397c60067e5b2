#pragma once

#include <cstdarg>
#include <string>

namespace vantor {

// printf-style formatting into a std::string. `args` is consumed.
std::string vstringprintf(const char* format, va_list args);
std::string stringprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vantor
