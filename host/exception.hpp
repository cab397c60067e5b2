#pragma once

#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "vantor_result.hpp"

namespace vantor {

// The one exception type of the host and its components. Two forms:
// a message (code + complete text) and an assertion (code + the location
// and text of the failed check, kept as fields).
class exception : public std::exception {
 public:
  exception(vantor_result result, std::string_view message);
  exception(vantor_result result, const char* file, int line, const char* function,
            const char* expression);

  const char* what() const noexcept override { return what_.c_str(); }
  vantor_result result() const noexcept { return result_; }

  bool is_assertion() const noexcept { return is_assertion_; }
  const std::string& file() const noexcept { return file_; }
  int line() const noexcept { return line_; }
  const std::string& function() const noexcept { return function_; }
  const std::string& expression() const noexcept { return expression_; }

 private:
  vantor_result result_;
  bool is_assertion_ = false;
  std::string file_;
  int line_ = 0;
  std::string function_;
  std::string expression_;
  std::string what_;
};

// Collects a message by streaming; exception() makes the message form.
class exception_builder_t {
 public:
  explicit exception_builder_t(vantor_result result) : result_(result) {}

  template <typename T>
  exception_builder_t& operator<<(const T& value) {
    stream_ << value;
    return *this;
  }

  vantor_result result() const noexcept { return result_; }
  std::string text() const { return stream_.str(); }
  vantor::exception exception() const { return vantor::exception(result_, text()); }

 private:
  vantor_result result_;
  std::ostringstream stream_;
};

// Where a check stands, as its failure reports it: the file text and the
// function text. A site written as data beside its function keeps its texts
// wherever the function moves and however a compiler spells signatures.
struct check_site_t {
  const char* file;
  const char* function;
};

namespace detail {
[[noreturn]] void throw_check_failure(const char* file, int line, const char* function,
                                      const char* expression);
}

}  // namespace vantor

// The two checks below throw the assertion form of vantor::exception with
// code 13 when `expr` is false. Each takes the expression text before macro
// expansion, so that a check reads as it is written.
#define VANTOR_CHECK_IMPL(expr, text, file, function)                                  \
  do {                                                                               \
    if (!(expr)) ::vantor::detail::throw_check_failure(file, __LINE__, function, text); \
  } while (false)

// Names `where` (a check_site_t) as the check's file and function.
#define VANTOR_CHECK_AT(expr, where) \
  VANTOR_CHECK_IMPL(expr, #expr, (where).file, (where).function)

// Names this file and the compiler's text of the enclosing function.
#define VANTOR_CHECK(expr) VANTOR_CHECK_IMPL(expr, #expr, __FILE__, __PRETTY_FUNCTION__)
