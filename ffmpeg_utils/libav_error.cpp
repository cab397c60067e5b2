#include "ffmpeg_utils/libav_error.hpp"

extern "C" {
#include <libavutil/error.h>
}

#include "exception.hpp"

namespace vantor::video {

std::string averror_to_string(int errnum) {
  char buffer[64];
  if (av_strerror(errnum, buffer, sizeof buffer) >= 0) return std::string(buffer);
  // av_strerror may leave a partial text behind; it is not ours to show.
  return "Unknown ffmpeg error " + std::to_string(errnum);
}

namespace {

std::string prefixed(std::string_view component, std::string_view what) {
  std::string message;
  if (!component.empty()) {
    message.append(component);
    message.append(": ");
  }
  message.append(what);
  return message;
}

}  // namespace

void throw_libav_failure(std::string_view component, std::string_view what, int code) {
  throw exception(vantor_result_libav_failure,
                  prefixed(component, what) + ": " + averror_to_string(code));
}

void throw_libav_failure(std::string_view component, std::string_view what) {
  throw exception(vantor_result_libav_failure, prefixed(component, what));
}

}  // namespace vantor::video
