#include "exception.hpp"

namespace vantor {

exception::exception(vantor_result result, std::string_view message)
    : result_(result), what_(message) {}

exception::exception(vantor_result result, const char* file, int line, const char* function,
                     const char* expression)
    : result_(result),
      is_assertion_(true),
      file_(file),
      line_(line),
      function_(function),
      expression_(expression) {
  what_ = file_ + ":" + std::to_string(line_) + ": " + function_ + ": check failed: " + expression_;
}

namespace detail {
void throw_check_failure(const char* file, int line, const char* function, const char* expression) {
  throw vantor::exception(vantor_result_check_failed, file, line, function, expression);
}
}  // namespace detail

}  // namespace vantor
