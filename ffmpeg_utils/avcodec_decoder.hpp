#pragma once

// The H.264 and HEVC decoders are one algorithm on two host bases. This
// internal header holds it once, as a template over the base and a table of
// what tells the two apart, and names the two classes; each decoder's source
// holds the factory that makes its class. Only those two sources include it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "exception.hpp"
#include "ffmpeg_utils/component_log.hpp"
#include "ffmpeg_utils/ffmpeg_utils.hpp"
#include "log_context.hpp"
#include "trak.hpp"
#include "transcode/decoder_base.hpp"

namespace vantor::video {

namespace detail {

// What tells the two decoders apart besides their host base.
struct decoder_table_t {
  const char* decoder_name;       // the component name ("video_decoder_avc_avcodec")
  const char* codec_name;         // the libavcodec decoder ("h264")
  check_site_t send_packet_site;  // the checks in send_packet()
  check_site_t call_site;         // the checks in operator()()
};

template <typename base_t, const decoder_table_t& table>
class avcodec_decoder_t final : public base_t {
 public:
  avcodec_decoder_t(log_context_t& log_context, std::unique_ptr<sample_source_t> input)
      : base_t(log_context, std::move(input)), context_(log_context, table.codec_name) {
    // The codec holds the first sample (or end of stream) before the first pull.
    send_packet();
  }

  frame_t operator()() override;

 private:
  std::string decoder_name() override { return table.decoder_name; }
  void set_dts(uint64_t dts) override { packet_dts_ = dts; }
  void set_pts(uint64_t pts) override { packet_pts_ = pts; }
  uint64_t dts() override { return packet_dts_; }
  uint64_t pts() override { return packet_pts_; }
  void append_bitstream(const uint8_t* data, size_t size) override {
    if (size != 0) bitstream_.insert(bitstream_.end(), data, data + size);
  }
  bool bitstream_empty() override { return bitstream_.empty(); }
  void set_sync_sample(bool) override {}
  void set_sample_number(uint64_t) override {}

  void send_packet();
  frame_t end_frame();
  frame_t picture_frame(const wrap_avframe_t& avframe);

  template <typename Compose>
  void log_trace(Compose&& compose) {
    log_line(this->log_context(), vantor_log_debug, table.decoder_name,
             std::forward<Compose>(compose));
  }
  void flush_events() { context_.synchronizer().flush_events(); }

  avdecoder_context_t context_;
  uint64_t packet_dts_ = 0;
  uint64_t packet_pts_ = 0;
  std::vector<uint8_t> bitstream_;
  uint32_t frame_count_ = 0;
  std::optional<frame_t::format_t> opt_format_;
};

template <typename base_t, const decoder_table_t& table>
void avcodec_decoder_t<base_t, table>::send_packet() {
  if (this->pending_sample()) {
    bitstream_.clear();  // keeps the storage for the next sample
    this->read_input();
    VANTOR_CHECK_AT(!bitstream_.empty(), table.send_packet_site);
    wrap_avpacket_t packet(static_cast<int64_t>(packet_dts_), static_cast<int64_t>(packet_pts_),
                           bitstream_.data(), bitstream_.data() + bitstream_.size());
    log_trace([&](std::ostream& line) { line << "sending packet: " << packet; });
    int const result = packet.send_to(context_.context());
    flush_events();
    if (result != 0) {
      throw_libav_failure(table.decoder_name, "libavcodec failed to send a packet", result);
    }
  } else {
    log_trace([](std::ostream& line) { line << "sending EOF"; });
    int const result = avcodec_send_packet(context_.context(), nullptr);
    flush_events();
    if (result != 0) {
      throw_libav_failure(table.decoder_name, "libavcodec failed to send EOF", result);
    }
  }
}

template <typename base_t, const decoder_table_t& table>
frame_t avcodec_decoder_t<base_t, table>::operator()() {
  wrap_avframe_t avframe;
  int result = avframe.receive_from(context_.context());
  flush_events();
  while (result == AVERROR(EAGAIN)) {
    send_packet();
    result = avframe.receive_from(context_.context());
    flush_events();
  }
  if (result == AVERROR_EOF) return end_frame();
  if (result != 0) {
    throw_libav_failure(table.decoder_name, "libavcodec failed to produce a frame", result);
  }
  return picture_frame(avframe);
}

template <typename base_t, const decoder_table_t& table>
frame_t avcodec_decoder_t<base_t, table>::picture_frame(const wrap_avframe_t& avframe) {
  log_trace([&](std::ostream& line) { line << "got a frame: " << avframe; });
  frame_t::format_t const format = to_frame_format(static_cast<AVPixelFormat>(avframe->format));
  if (!opt_format_) {
    opt_format_ = format;
  } else {
    VANTOR_CHECK_AT(*opt_format_ == format, table.call_site);
  }
  VANTOR_CHECK_AT(avframe.pts() >= 0, table.call_site);
  uint64_t const output_pts = static_cast<uint64_t>(avframe.pts()) + this->output_pts_offset();
  log_trace([&](std::ostream& line) {
    line << "out [" << frame_count_ << "] pts=" << output_pts << " (" << avframe.pts()
         << ") fmt=" << pix_fmt_name(avframe);
  });
  ++frame_count_;
  frame_t frame = avframe_to_frame(avframe, output_pts, this->timescale());
  this->check_output_pts(frame.pts_);
  return frame;
}

template <typename base_t, const decoder_table_t& table>
frame_t avcodec_decoder_t<base_t, table>::end_frame() {
  int32_t const offset = this->pending_sample() ? this->pending_sample()->composition_offset()
                                                : this->composition_offset();
  // Sign-extended and added modulo 2^64.
  uint64_t const end_pts =
      this->decode_time() + static_cast<uint64_t>(static_cast<int64_t>(offset));
  log_trace([&](std::ostream& line) { line << "flush [" << frame_count_ << "] pts=" << end_pts; });
  this->log_decoded_sample_count();
  frame_t frame;
  frame.width_ = 0;
  frame.height_ = 0;
  frame.format_ = opt_format_ ? *opt_format_ : frame_t::format_t::nv12;
  frame.pts_ = end_pts;
  frame.timescale_ = this->timescale();
  frame.keyframe_ = false;
  frame.sanity_check();
  this->check_output_pts(frame.pts_);
  return frame;
}

}  // namespace detail

namespace {

// The documented sites of the checks in the functions above, which name each
// decoder's own source and class rather than this header.
constexpr const char* avc_source = "ffmpeg_utils/video_decoder_avc_avcodec.cpp";
constexpr const char* hvc_source = "ffmpeg_utils/video_decoder_hvc_avcodec.cpp";
constexpr detail::decoder_table_t avc_table = {
    "video_decoder_avc_avcodec", "h264",
    {avc_source, "void vantor::video::{anonymous}::avcodec_avc_decoder_t::send_packet()"},
    {avc_source, "virtual vantor::video::frame_t "
                 "vantor::video::{anonymous}::avcodec_avc_decoder_t::operator()()"}};
constexpr detail::decoder_table_t hvc_table = {
    "video_decoder_hvc_avcodec", "hevc",
    {hvc_source, "void vantor::video::{anonymous}::avcodec_hvc_decoder_t::send_packet()"},
    {hvc_source, "virtual vantor::video::frame_t "
                 "vantor::video::{anonymous}::avcodec_hvc_decoder_t::operator()()"}};

using avcodec_avc_decoder_t = detail::avcodec_decoder_t<avc_decoder_base_t, avc_table>;
using avcodec_hvc_decoder_t = detail::avcodec_decoder_t<hvc_decoder_base_t, hvc_table>;

}  // namespace

}  // namespace vantor::video
