#pragma once

#include <string_view>

namespace vantor::transcoder_options {

// Parses `value`, the text of attribute `attribute` of transcoder
// implementation `name`, as an unsigned decimal number into `target`.
// Only the digits 0-9 are accepted: an empty text, a sign, blanks, any other
// character and numbers above the range of unsigned int each throw
// vantor::exception 13 naming the implementation, the attribute and the
// value. `target` is left unchanged on failure.
void read_transcoder_option(unsigned int& target, std::string_view name,
                            std::string_view attribute, std::string_view value);

}  // namespace vantor::transcoder_options
