#pragma once

#include <cstdint>
#include <string>

namespace vantor::outputs {

// "h:mm:ss.mmm" of a time in milliseconds, the hours at least
// `hour_digits` wide: WebVTT wants two ("01:02:03.500"), messages read
// better with one ("1:02:03.500").
std::string clock_text(uint64_t milliseconds, int hour_digits);

}  // namespace vantor::outputs
