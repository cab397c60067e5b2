#include "ffmpeg_utils/packet_frame.hpp"

#include <cstring>
#include <limits>

#include "ffmpeg_utils/bridge_check.hpp"
#include "ffmpeg_utils/codec_context.hpp"
#include "ffmpeg_utils/libav_error.hpp"

namespace vantor::video {

namespace {
// The wrappers' messages carry no component name.
constexpr const char* no_component = "";
}  // namespace

void avpacket_deleter_t::operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }

void avframe_deleter_t::operator()(AVFrame* frame) const noexcept { av_frame_free(&frame); }

wrap_avpacket_t::wrap_avpacket_t() : packet_(av_packet_alloc()) {
  if (!packet_) throw_libav_failure(no_component, "libavcodec failed to allocate a packet");
  packet_->data = nullptr;
  packet_->size = 0;
}

constexpr check_site_t packet_constructor_site =
    detail::bridge_site("vantor::video::wrap_avpacket_t::wrap_avpacket_t(int64_t, int64_t, "
                        "const uint8_t*, const uint8_t*)");

wrap_avpacket_t::wrap_avpacket_t(int64_t dts, int64_t pts, const uint8_t* begin,
                                 const uint8_t* end)
    : packet_(av_packet_alloc()) {
  if (!packet_) throw_libav_failure(no_component, "libavcodec failed to allocate a packet");
  int64_t const size = end - begin;
  VANTOR_CHECK_AT(size >= 0, packet_constructor_site);
  VANTOR_CHECK_AT(size <= std::numeric_limits<int>::max(), packet_constructor_site);
  int const result = av_new_packet(packet_.get(), static_cast<int>(size));
  if (result != 0) {
    throw_libav_failure(no_component, "libavcodec failed to allocate a packet payload", result);
  }
  if (size != 0) std::memcpy(packet_->data, begin, static_cast<size_t>(size));
  packet_->pts = pts;
  packet_->dts = dts;
}

int wrap_avpacket_t::send_to(AVCodecContext* context) const {
  return avcodec_send_packet(context, packet_.get());
}

int wrap_avpacket_t::receive_from(AVCodecContext* context) {
  return avcodec_receive_packet(context, packet_.get());
}

wrap_avframe_t::wrap_avframe_t() : frame_(av_frame_alloc()) {
  if (!frame_) throw_libav_failure(no_component, "libavcodec failed to allocate a frame");
}

// The sample aspect ratio's parameter type is the documented by-value one,
// not the reference this constructor takes.
constexpr check_site_t frame_constructor_site = detail::bridge_site(
    "vantor::video::wrap_avframe_t::wrap_avframe_t(uint32_t, uint32_t, AVPixelFormat, "
    "std::optional<vantor::fraction_t<unsigned int, unsigned int> >, uint32_t, uint64_t, bool)");

wrap_avframe_t::wrap_avframe_t(uint32_t width, uint32_t height, AVPixelFormat format,
                               const std::optional<fraction_t<unsigned int, unsigned int>>& sar,
                               uint32_t quality, uint64_t pts, bool keyframe)
    : frame_(av_frame_alloc()) {
  if (!frame_) throw_libav_failure(no_component, "libavcodec failed to allocate a frame");
  frame_->width = static_cast<int>(width);
  frame_->height = static_cast<int>(height);
  frame_->format = format;
  if (sar) frame_->sample_aspect_ratio = make_rational(*sar);
  int const lambda = quality_to_lambda(quality);
  frame_->pts = static_cast<int64_t>(pts);
  frame_->quality = lambda;
  if (keyframe) {
    frame_->flags |= AV_FRAME_FLAG_KEY;
  } else {
    frame_->flags &= ~AV_FRAME_FLAG_KEY;
  }
  int const result = av_frame_get_buffer(frame_.get(), 0);
  if (result < 0) {
    throw_libav_failure(no_component, "libavcodec failed to allocate buffers for a frame", result);
  }
  VANTOR_CHECK_AT(av_frame_is_writable(frame_.get()) != 0, frame_constructor_site);
}

int wrap_avframe_t::send_to(AVCodecContext* context) const {
  return avcodec_send_frame(context, frame_.get());
}

int wrap_avframe_t::receive_from(AVCodecContext* context) {
  return avcodec_receive_frame(context, frame_.get());
}

}  // namespace vantor::video
