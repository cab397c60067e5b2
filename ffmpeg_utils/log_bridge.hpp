#pragma once

// The bridge from FFmpeg's process-wide log callback to the host log: only
// codec contexts linked to a logging_synchronizer_t are heard, and their
// owner writes the stored events on its own thread (flush_events).

#include <cstdarg>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "log_context.hpp"

namespace vantor::video {

// The process-wide FFmpeg log callback. Keeps only messages of codec contexts
// whose `opaque` holds a logging_synchronizer_t, maps the level, and stores
// "libavcodec: <text>" there. Everything else is dropped silently.
void avlog_callback(void* avcl, int level, const char* fmt, va_list args);

// Links `context` to `synchronizer` (through `opaque`) and installs
// avlog_callback. Call it before anything can make libavcodec log about
// the context; the synchronizer must outlive the context.
void install_avlog_callback(AVCodecContext* context, logging_synchronizer_t* synchronizer);

}  // namespace vantor::video
