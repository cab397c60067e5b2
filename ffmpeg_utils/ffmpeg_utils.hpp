#pragma once

// The bridge between the host's types and FFmpeg, one header per concern:
// error texts, the log bridge, codec context set-up, owning wrappers of
// packets and frames, picture conversion in both directions with the image
// wrapper, the scaling context, and one-line diagnostic printers.

#include "ffmpeg_utils/codec_context.hpp"
#include "ffmpeg_utils/image_bridge.hpp"
#include "ffmpeg_utils/libav_error.hpp"
#include "ffmpeg_utils/log_bridge.hpp"
#include "ffmpeg_utils/packet_frame.hpp"
#include "ffmpeg_utils/printers.hpp"
#include "ffmpeg_utils/swscale_context.hpp"
