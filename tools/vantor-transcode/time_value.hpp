#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantor::tools {

// A time or a duration on the command line, in microseconds: "10s",
// "2.5s", "500ms", "1m", "1.5h", plain seconds ("7", "0.25") or a clock
// time "hh:mm:ss.mmm" / "mm:ss" (fractions to the microsecond). None when
// the text is not such a time or is beyond a day of 2^63 microseconds.
std::optional<int64_t> parse_time_value(std::string_view text);

// "1:02:03.500" style text of a time, for messages.
std::string time_text(int64_t microseconds);

}  // namespace vantor::tools
