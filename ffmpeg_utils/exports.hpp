#pragma once

// The factories below are the library's whole public surface.
#define VANTOR_EXPORT __attribute__((visibility("default")))

#include <cstdint>
#include <memory>
#include <optional>

#include "fraction.hpp"
#include "log_context.hpp"
#include "trak.hpp"
#include "transcode/video_base.hpp"

namespace vantor::video {

// H.264 and HEVC decoders over a track's samples.
VANTOR_EXPORT std::unique_ptr<frame_source_t> create_avcodec_avc_decoder(
    log_context_t& log_context, std::unique_ptr<sample_source_t> input);
VANTOR_EXPORT std::unique_ptr<frame_source_t> create_avcodec_hvc_decoder(
    log_context_t& log_context, std::unique_ptr<sample_source_t> input);

// A track of JPEG pictures, one key-frame sample per input picture, each
// lasting until the next picture's pts (the end frame's pts closes the last).
// Creation pulls the first picture and opens the codec at its size, so an
// input whose first frame is already the end of the stream (0x0) fails here,
// with vantor_result 89: libavcodec cannot open an encoder at 0x0.
VANTOR_EXPORT std::unique_ptr<sample_source_t> create_avcodec_jpg_encoder(
    log_context_t& log_context, std::unique_ptr<frame_source_t> input,
    const std::optional<fraction_t<unsigned int, unsigned int>>& sar, uint32_t quality);

// Scales every picture to dst_crop_w x dst_crop_h and places it at
// (dst_crop_x, dst_crop_y) in a black dst_width x dst_height frame. A zero
// crop width or height means the full output width or height.
VANTOR_EXPORT std::unique_ptr<frame_source_t> create_swscale_resize_filter(
    log_context_t& log_context, std::unique_ptr<frame_source_t> input, uint32_t dst_width,
    uint32_t dst_height, uint32_t dst_crop_x, uint32_t dst_crop_y, uint32_t dst_crop_w,
    uint32_t dst_crop_h);

}  // namespace vantor::video
