#include "printable_text.hpp"

#include <cstdio>

namespace vantor::tools {

std::string printable(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (char const c : text) {
    auto const byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      result += c;
    } else if (c == '\n') {
      result += "\\n";
    } else if (c == '\r') {
      result += "\\r";
    } else if (c == '\t') {
      result += "\\t";
    } else {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      result += escape;
    }
  }
  return result;
}

}  // namespace vantor::tools
