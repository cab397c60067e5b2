#pragma once

// Conversion between the host's frame_t (tightly packed planes back to back)
// and FFmpeg images (plane pointers with a line size each): the one mapping
// of pixel formats, the copies both ways, decoded AVFrames as frame_t, and
// an owning image buffer.

#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "ffmpeg_utils/packet_frame.hpp"
#include "transcode/video_base.hpp"

namespace vantor::video {

// nv12 -> NV12, yuv420p -> YUV420P, yuv420p10le -> YUV420P10LE; any other
// value: invalid_frame_format.
AVPixelFormat to_avpixelformat(frame_t::format_t format);

// NV12 -> nv12, YUV420P and YUVJ420P -> yuv420p, YUV420P10LE -> yuv420p10le;
// any other value throws 89 "Unexpected AVPixelFormat <value>".
frame_t::format_t to_frame_format(AVPixelFormat format);

// Copies the frame's planes into caller-provided FFmpeg planes, row by row.
// Each destination stride must be positive and hold a source row.
void frame_to_avimage(const frame_t& frame, uint8_t** planes, int* strides);

// The frame's own planes as an FFmpeg image view into `data_`, for readers
// that need no copy. Only frames with even sizes whose buffer holds every
// plane qualify (libswscale reads (W+1)/2 chroma bytes per row, which an odd
// width's packed rows lack); returns false for any other frame and leaves
// `planes` and `strides` unspecified.
bool frame_planes_in_place(const frame_t& frame, const uint8_t* planes[4], int strides[4]);

// A new width x height frame in `format`, black at video levels, with the
// dst_crop_w x dst_crop_h image read from planes/strides copied to
// (dst_crop_x, dst_crop_y). A zero crop width or height means "up to the
// right or bottom edge". The caller guarantees that every source row holds
// the bytes copied from it and that there are enough rows.
frame_t avimage_to_frame(const uint8_t* const* planes, const int* strides, uint32_t width,
                         uint32_t height, frame_t::format_t format, uint32_t dst_crop_x,
                         uint32_t dst_crop_y, uint32_t dst_crop_w, uint32_t dst_crop_h,
                         uint64_t pts, uint32_t timescale, bool keyframe);

// As above, for a picture of `range` and `matrix`: the margins are black of
// that range (luma 0 when full), and the frame carries both values.
frame_t avimage_to_frame(const uint8_t* const* planes, const int* strides, uint32_t width,
                         uint32_t height, frame_t::format_t format, uint32_t dst_crop_x,
                         uint32_t dst_crop_y, uint32_t dst_crop_w, uint32_t dst_crop_h,
                         uint64_t pts, uint32_t timescale, bool keyframe,
                         frame_t::range_t range, frame_t::matrix_t matrix);

// As above, for a picture of `colour`: the margins are black of its range,
// and the frame carries all of it (transfer, primaries, HDR metadata too).
frame_t avimage_to_frame(const uint8_t* const* planes, const int* strides, uint32_t width,
                         uint32_t height, frame_t::format_t format, uint32_t dst_crop_x,
                         uint32_t dst_crop_y, uint32_t dst_crop_w, uint32_t dst_crop_h,
                         uint64_t pts, uint32_t timescale, bool keyframe,
                         const frame_t::colour_t& colour);

// The range and matrix of a decoded picture. Full range when color_range
// says so or the format is YUVJ420P; the matrix from colorspace, and for an
// untagged picture what players assume: BT.709 from 720 lines up, BT.601
// below.
frame_t::range_t range_of(const AVFrame& frame);
frame_t::matrix_t matrix_of(const AVFrame& frame);
// The transfer and primaries of a decoded picture, and its HDR metadata
// (mastering display, content light level) from its side data. The
// picture's own values count, not the stream's: an alternative transfer
// SEI makes an HLG picture of a stream whose VUI says BT.2020.
frame_t::transfer_t transfer_of(const AVFrame& frame);
frame_t::primaries_t primaries_of(const AVFrame& frame);
frame_t::hdr_metadata_t hdr_metadata_of(const AVFrame& frame);

// A decoded frame as a frame_t, with all of its colour; its own pts is ignored in favour of the given
// pts and timescale. The key flag is AV_FRAME_FLAG_KEY of `flags`.
frame_t avframe_to_frame(const wrap_avframe_t& frame, uint64_t pts, uint32_t timescale);

// Owns one image buffer from av_image_alloc (alignment 16). All plane
// pointers point into that one buffer; planes[0] owns it. Not copyable.
class wrap_avimage_t {
 public:
  wrap_avimage_t(uint32_t width, uint32_t height, AVPixelFormat format);
  ~wrap_avimage_t();

  wrap_avimage_t(const wrap_avimage_t&) = delete;
  wrap_avimage_t& operator=(const wrap_avimage_t&) = delete;
  wrap_avimage_t(wrap_avimage_t&&) = delete;
  wrap_avimage_t& operator=(wrap_avimage_t&&) = delete;

  uint8_t* planes[4];
  int strides[4];
};

}  // namespace vantor::video
