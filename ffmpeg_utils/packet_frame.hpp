#pragma once

// Owning wrappers of libavcodec's two exchange objects: compressed packets
// and pictures. They throw instead of returning null and forward the send
// and receive calls unchanged.

#include <cstdint>
#include <memory>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "fraction.hpp"

namespace vantor::video {

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

}  // namespace vantor::video
