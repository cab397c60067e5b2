#pragma once

#include <string>
#include <string_view>

namespace vantor::tools {

// `text` with its control characters written out (\n, \r, \t, \x1b, \x7f),
// for messages that print names from outside: a newline in a file name
// cannot then forge a line of its own, nor an escape drive the terminal.
std::string printable(std::string_view text);

}  // namespace vantor::tools
