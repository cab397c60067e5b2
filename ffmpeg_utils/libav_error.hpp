#pragma once

// How a failure reported by FFmpeg leaves the library: as the message form
// of vantor::exception with vantor_result 89, its text ending in FFmpeg's own
// text for the error code.

#include <string>
#include <string_view>

namespace vantor::video {

// FFmpeg's text for `errnum`, or "Unknown ffmpeg error <errnum>" when
// av_strerror knows no text for it.
std::string averror_to_string(int errnum);

// Throws "<component>: <what>: <averror_to_string(code)>". An empty
// component adds no prefix (the packet and frame wrappers use none).
[[noreturn]] void throw_libav_failure(std::string_view component, std::string_view what,
                                      int code);
// The same for a failure that comes without an FFmpeg code (a null
// pointer): "<component>: <what>", without a trailing separator.
[[noreturn]] void throw_libav_failure(std::string_view component, std::string_view what);

}  // namespace vantor::video
