#pragma once

// The bridge between the host's types and FFmpeg: error texts, the log
// bridge, owning wrappers of packets, frames, images and scaling contexts,
// picture conversion in both directions, codec context set-up and one-line
// diagnostic printers.

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

#include "fraction.hpp"
#include "log_context.hpp"
#include "transcode/video_base.hpp"

namespace vantor::video {

// ---------------------------------------------------------------------------
// Errors and the log bridge

// FFmpeg's text for `errnum`, or "Unknown ffmpeg error <errnum>" when
// av_strerror knows no text for it.
std::string averror_to_string(int errnum);

// The process-wide FFmpeg log callback. Keeps only messages of codec contexts
// whose `opaque` holds a logging_synchronizer_t, maps the level, and stores
// "libavcodec: <text>" there. Everything else is dropped silently.
void avlog_callback(void* avcl, int level, const char* fmt, va_list args);

// Links `context` to `synchronizer` (through `opaque`) and installs
// avlog_callback. Call it before anything can make libavcodec log about
// the context; the synchronizer must outlive the context.
void install_avlog_callback(AVCodecContext* context, logging_synchronizer_t* synchronizer);

// ---------------------------------------------------------------------------
// Codec context helpers

// Both terms unchanged (no reduction); each must fit in an int.
AVRational make_rational(uint32_t num, uint32_t den);
AVRational make_rational(const fraction_t<unsigned int, unsigned int>& fraction);

// JPEG quality 0 (worst) .. 100 (best) to the rate-distortion lambda that
// libavcodec reads from AVFrame::quality: 3658 at 0 down to 236 at 100.
int quality_to_lambda(uint32_t quality);

struct avcodec_context_deleter_t {
  void operator()(AVCodecContext* context) const noexcept;
};

// An opened libavcodec decoder context with the log bridge attached.
// Member order matters: the context is freed before the synchronizer that
// collects its log events. Neither copyable nor movable, because the
// context's `opaque` holds the synchronizer's address.
class avdecoder_context_t {
 public:
  avdecoder_context_t(log_context_t& log_context, const std::string& decoder_name);

  avdecoder_context_t(const avdecoder_context_t&) = delete;
  avdecoder_context_t& operator=(const avdecoder_context_t&) = delete;
  avdecoder_context_t(avdecoder_context_t&&) = delete;
  avdecoder_context_t& operator=(avdecoder_context_t&&) = delete;

  AVCodecContext* context() const noexcept { return context_.get(); }
  logging_synchronizer_t& synchronizer() noexcept { return synchronizer_; }

 private:
  logging_synchronizer_t synchronizer_;
  std::unique_ptr<AVCodecContext, avcodec_context_deleter_t> context_;
};

// ---------------------------------------------------------------------------
// Packet and frame wrappers

struct avpacket_deleter_t {
  void operator()(AVPacket* packet) const noexcept;
};

struct avframe_deleter_t {
  void operator()(AVFrame* frame) const noexcept;
};

// Owns one AVPacket, never null. Movable, not copyable.
class wrap_avpacket_t {
 public:
  // An empty packet (data null, size 0), the target of receive_from.
  wrap_avpacket_t();
  // A packet holding a copy of [begin, end) with the given dts and pts.
  wrap_avpacket_t(int64_t dts, int64_t pts, const uint8_t* begin, const uint8_t* end);

  wrap_avpacket_t(wrap_avpacket_t&&) noexcept = default;
  wrap_avpacket_t& operator=(wrap_avpacket_t&&) noexcept = default;
  wrap_avpacket_t(const wrap_avpacket_t&) = delete;
  wrap_avpacket_t& operator=(const wrap_avpacket_t&) = delete;

  int64_t pts() const noexcept { return packet_->pts; }
  int64_t dts() const noexcept { return packet_->dts; }
  const uint8_t* data() const noexcept { return packet_->data; }
  int size() const noexcept { return packet_->size; }
  int flags() const noexcept { return packet_->flags; }
  int64_t duration() const noexcept { return packet_->duration; }
  int64_t pos() const noexcept { return packet_->pos; }

  // The owned packet (never null); for the printers and for tests.
  AVPacket* get() const noexcept { return packet_.get(); }

  // FFmpeg's result, unchanged (0, AVERROR(EAGAIN), AVERROR_EOF, ...).
  int send_to(AVCodecContext* context) const;
  int receive_from(AVCodecContext* context);

 private:
  std::unique_ptr<AVPacket, avpacket_deleter_t> packet_;
};

// Owns one AVFrame, never null. Movable, not copyable.
class wrap_avframe_t {
 public:
  // An empty frame, the target of receive_from.
  wrap_avframe_t();
  // A frame with writable buffers, ready to be filled and sent to an encoder.
  // `quality` is the JPEG quality 0..100 (stored as its lambda).
  wrap_avframe_t(uint32_t width, uint32_t height, AVPixelFormat format,
                 const std::optional<fraction_t<unsigned int, unsigned int>>& sar,
                 uint32_t quality, uint64_t pts, bool keyframe);

  wrap_avframe_t(wrap_avframe_t&&) noexcept = default;
  wrap_avframe_t& operator=(wrap_avframe_t&&) noexcept = default;
  wrap_avframe_t(const wrap_avframe_t&) = delete;
  wrap_avframe_t& operator=(const wrap_avframe_t&) = delete;

  int64_t pts() const noexcept { return frame_->pts; }

  // The owned frame (never null). get() gives the raw pointer for FFmpeg
  // calls; operator* and operator-> give field access.
  AVFrame* get() const noexcept { return frame_.get(); }
  AVFrame& operator*() const noexcept { return *frame_; }
  AVFrame* operator->() const noexcept { return frame_.get(); }

  // FFmpeg's result, unchanged (0, AVERROR(EAGAIN), AVERROR_EOF, ...).
  int send_to(AVCodecContext* context) const;
  int receive_from(AVCodecContext* context);

 private:
  std::unique_ptr<AVFrame, avframe_deleter_t> frame_;
};

// ---------------------------------------------------------------------------
// Image bridging

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

// A decoded frame as a frame_t; its own pts is ignored in favour of the given
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

// ---------------------------------------------------------------------------
// Scaling context

// Owns one SwsContext (never null): bilinear conversion from one size and
// pixel format to another. Not copyable.
class wrap_swscale_context_t {
 public:
  wrap_swscale_context_t(uint32_t src_width, uint32_t src_height, AVPixelFormat src_format,
                         uint32_t dst_width, uint32_t dst_height, AVPixelFormat dst_format);
  ~wrap_swscale_context_t();

  wrap_swscale_context_t(const wrap_swscale_context_t&) = delete;
  wrap_swscale_context_t& operator=(const wrap_swscale_context_t&) = delete;
  wrap_swscale_context_t(wrap_swscale_context_t&&) = delete;
  wrap_swscale_context_t& operator=(wrap_swscale_context_t&&) = delete;

  // Checks that every size fits in an int, then sws_getContext (bilinear,
  // no filters, no parameters). Throws 89 when libswscale returns null.
  static SwsContext* create_sws_context(uint32_t src_width, uint32_t src_height,
                                        AVPixelFormat src_format, uint32_t dst_width,
                                        uint32_t dst_height, AVPixelFormat dst_format);

  // sws_scale's result, unchanged: the output height, or a negative error.
  int scale(const uint8_t* const* src_planes, const int* src_strides, int src_slice_y,
            int src_height, uint8_t* const* dst_planes, const int* dst_strides);

  SwsContext* get() const noexcept { return context_; }

 private:
  SwsContext* context_;
};

// ---------------------------------------------------------------------------
// Diagnostic printers (one line each; they only read)

// "{AVPacket at <address>: buf=... pos=...}"
std::ostream& operator<<(std::ostream& os, const wrap_avpacket_t& packet);
// "{AVFrame at <address>: data[0]=... private_ref=...}"
std::ostream& operator<<(std::ostream& os, const wrap_avframe_t& frame);
// "{AVCodecContext at <address>: av_class=... apply_cropping=...}". A null
// class, class name, codec or codec name sets the stream's badbit instead.
std::ostream& operator<<(std::ostream& os, const AVCodecContext& context);
// "wrap_avimage_t at <address> (planes=p0,p1,p2 strides=s0,s1,s2)"
std::ostream& operator<<(std::ostream& os, const wrap_avimage_t& image);
// "<num>/<den>"
std::ostream& operator<<(std::ostream& os, const AVRational& rational);

// The AVPixelFormat enumerator's name without "AV_PIX_FMT_" ("YUVJ420P"),
// for -1 to 192; otherwise "Unknown pixel format <value>".
std::string to_string(AVPixelFormat format);

// libav's own name of the frame's pixel format ("yuv420p"), or the number
// in decimal when libav has none.
std::string pix_fmt_name(const wrap_avframe_t& frame);

}  // namespace vantor::video
