#include "sources/libav_log_scope.hpp"

#include <cstdarg>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "ffmpeg_utils/log_bridge.hpp"
#include "vstringprintf.hpp"

namespace vantor::sources {

namespace {

thread_local log_context_t* scope_log_context = nullptr;

// What goes wrong with a file, the source reports itself, once, naming the
// file and the cause; libavformat's errors and warnings are the detail
// behind that message, so they come with the configuration (info), and its
// chatter below. Only the low byte is FFmpeg's level; the bits above it are
// flags.
vantor_log_level_t level_of(int av_level) {
  switch (static_cast<unsigned>(av_level) & 0xffu) {
    case AV_LOG_PANIC:
    case AV_LOG_FATAL:
    case AV_LOG_ERROR:
    case AV_LOG_WARNING: return vantor_log_info;
    case AV_LOG_INFO: return vantor_log_debug;
    default: return vantor_log_trace;
  }
}

bool is_codec_context(void* avcl) {
  // av_log accepts any struct whose first member is an AVClass pointer;
  // that pointer, or the class's name, may be null.
  AVClass const* const av_class = *static_cast<AVClass const* const*>(avcl);
  return av_class != nullptr && av_class->class_name != nullptr &&
         std::strcmp(av_default_item_name(avcl), "AVCodecContext") == 0;
}

void route_libav_log(void* avcl, int level, const char* fmt, va_list args) {
  log_context_t* const target = scope_log_context;
  bool const codec = avcl != nullptr && is_codec_context(avcl);
  // A decoder's context carries its bridge in `opaque`; libavformat's
  // probing contexts carry none.
  if (target == nullptr || (codec && static_cast<AVCodecContext*>(avcl)->opaque != nullptr)) {
    video::avlog_callback(avcl, level, fmt, args);
    return;
  }
  vantor_log_level_t const mapped = level_of(level);
  if (mapped > target->level) return;
  va_list copy;
  va_copy(copy, args);
  try {
    std::string text(codec ? "libavcodec: " : "libavformat: ");
    text += vstringprintf(fmt, copy);
    target->log_at_level(mapped, text);
  } catch (...) {
    // Nothing may unwind through FFmpeg's C frames; the message is lost.
  }
  va_end(copy);
}

}  // namespace

libav_log_scope_t::libav_log_scope_t(log_context_t* log_context) noexcept : log_context_(log_context) {
  if (log_context_ == nullptr) return;
  outer_ = scope_log_context;
  scope_log_context = log_context_;
  av_log_set_callback(route_libav_log);
}

libav_log_scope_t::~libav_log_scope_t() {
  if (log_context_ != nullptr) scope_log_context = outer_;
}

}  // namespace vantor::sources
