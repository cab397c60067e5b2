#include "transcoder_options.hpp"

#include <limits>

#include "exception.hpp"

namespace vantor::transcoder_options {

namespace {

static_assert(std::numeric_limits<unsigned int>::max() == 4294967295u,
              "the overflow message names the 32-bit limit");

[[noreturn]] void refuse(std::string_view name, std::string_view attribute,
                         std::string_view value, std::string_view reason) {
  throw (exception_builder_t(vantor_result_check_failed)
         << name << ": invalid value '" << value << "' for attribute '" << attribute
         << "': " << reason)
      .exception();
}

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

void read_transcoder_option(unsigned int& target, std::string_view name,
                            std::string_view attribute, std::string_view value) {
  if (value.empty()) refuse(name, attribute, value, "the value is empty; expected an unsigned decimal number");

  unsigned long long number = 0;
  for (char const c : value) {
    if (c == '+' || c == '-')
      refuse(name, attribute, value, "signs are not allowed; expected an unsigned decimal number");
    if (is_blank(c))
      refuse(name, attribute, value, "blanks are not allowed; expected an unsigned decimal number");
    if (c < '0' || c > '9')
      refuse(name, attribute, value, "only the digits 0-9 are allowed; expected an unsigned decimal number");
    number = number * 10 + static_cast<unsigned>(c - '0');
    if (number > std::numeric_limits<unsigned int>::max())
      refuse(name, attribute, value, "the number is larger than 4294967295");
  }
  target = static_cast<unsigned int>(number);
}

}  // namespace vantor::transcoder_options
