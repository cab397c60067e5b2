#include "ffmpeg_utils/log_bridge.hpp"

#include <cstring>
#include <string>
#include <string_view>
#include <utility>

extern "C" {
#include <libavutil/log.h>
}

#include "vstringprintf.hpp"

namespace vantor::video {

namespace {

// Only the low byte is FFmpeg's level; the bits above it are flags.
vantor_log_level_t map_av_log_level(int level) {
  switch (static_cast<unsigned>(level) & 0xffu) {
    case AV_LOG_PANIC:
    case AV_LOG_FATAL:
    case AV_LOG_ERROR: return vantor_log_error;
    case AV_LOG_WARNING: return vantor_log_warning;
    case AV_LOG_INFO: return vantor_log_info;
    case AV_LOG_VERBOSE:
    case AV_LOG_DEBUG: return vantor_log_debug;
    default: return vantor_log_trace;
  }
}

constexpr std::string_view avlog_prefix = "libavcodec: ";

}  // namespace

void avlog_callback(void* avcl, int level, const char* fmt, va_list args) {
  if (avcl == nullptr) return;
  // av_log accepts any struct whose first member is an AVClass pointer;
  // that pointer, or the class's name, may be null.
  AVClass const* const av_class = *static_cast<AVClass const* const*>(avcl);
  if (av_class == nullptr || av_class->class_name == nullptr) return;
  if (std::strcmp(av_default_item_name(avcl), "AVCodecContext") != 0) return;

  auto* const synchronizer =
      static_cast<logging_synchronizer_t*>(static_cast<AVCodecContext*>(avcl)->opaque);
  if (synchronizer == nullptr) return;

  vantor_log_level_t const mapped = map_av_log_level(level);
  // Before any formatting: FFmpeg's debug chatter must cost nothing.
  if (mapped > synchronizer->verbosity_threshold) return;

  va_list copy;
  va_copy(copy, args);
  try {
    std::string text(avlog_prefix);
    text += vstringprintf(fmt, copy);
    synchronizer->store_event(mapped, std::move(text));
  } catch (...) {
    // Nothing may unwind through FFmpeg's C frames; the message is lost.
  }
  va_end(copy);
}

void install_avlog_callback(AVCodecContext* context, logging_synchronizer_t* synchronizer) {
  context->opaque = synchronizer;
  av_log_set_callback(avlog_callback);
}

}  // namespace vantor::video
