#pragma once

// The H.264 and HEVC decoders are one algorithm on two host bases. This
// internal header holds it once, as a template over the base and a table of
// the names that tell the two apart; each decoder's source instantiates it.
// Only those two sources include it.

#include <cstdint>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "exception.hpp"
#include "ffmpeg_utils/ffmpeg_utils.hpp"
#include "log_context.hpp"
#include "trak.hpp"
#include "transcode/decoder_base.hpp"

namespace vantor::video::detail {

// `names_t` supplies, as static constexpr const char* members:
//   decoder_name     the component name ("video_decoder_avc_avcodec")
//   codec_name       the libavcodec decoder ("h264")
//   source_file      the file named by failed checks
//   send_packet_text the function text of the checks in send_packet()
//   call_text        the function text of the checks in operator()()
template <typename base_t, typename names_t>
class avcodec_decoder_t final : public base_t {
 public:
  avcodec_decoder_t(log_context_t& log_context, std::unique_ptr<sample_source_t> input)
      : base_t(log_context, std::move(input)), context_(log_context, names_t::codec_name) {
    // The codec holds the first sample (or end of stream) before the first pull.
    send_packet();
  }

  frame_t operator()() override;

 private:
  std::string decoder_name() override { return names_t::decoder_name; }
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

  bool logs_traces() { return this->log_context().level >= vantor_log_debug; }
  void log_trace(const std::ostringstream& line) {
    this->log_context().log_at_level(vantor_log_debug, line.str());
  }
  void flush_events() { context_.synchronizer().flush_events(); }
  [[noreturn]] static void fail(const char* what, int result) {
    throw vantor::exception(vantor_result_libav_failure, std::string(names_t::decoder_name) +
                                                             ": libavcodec failed to " + what +
                                                             ": " + averror_to_string(result));
  }

  avdecoder_context_t context_;
  uint64_t packet_dts_ = 0;
  uint64_t packet_pts_ = 0;
  std::vector<uint8_t> bitstream_;
  uint32_t frame_count_ = 0;
  std::optional<frame_t::format_t> opt_format_;
};

// Failed checks name the decoder's own source and function, not this header's.
#undef VANTOR_CHECK_FILE
#define VANTOR_CHECK_FILE names_t::source_file
#undef VANTOR_CHECK_FUNCTION
#define VANTOR_CHECK_FUNCTION names_t::send_packet_text

template <typename base_t, typename names_t>
void avcodec_decoder_t<base_t, names_t>::send_packet() {
  if (this->pending_sample()) {
    bitstream_.clear();  // keeps the storage for the next sample
    this->read_input();
    VANTOR_CHECK(!bitstream_.empty());
    wrap_avpacket_t packet(static_cast<int64_t>(packet_dts_), static_cast<int64_t>(packet_pts_),
                           bitstream_.data(), bitstream_.data() + bitstream_.size());
    if (logs_traces()) {
      std::ostringstream line;
      line << names_t::decoder_name << ": sending packet: " << packet;
      log_trace(line);
    }
    int const result = packet.send_to(context_.context());
    flush_events();
    if (result != 0) fail("send a packet", result);
  } else {
    if (logs_traces()) {
      std::ostringstream line;
      line << names_t::decoder_name << ": sending EOF";
      log_trace(line);
    }
    int const result = avcodec_send_packet(context_.context(), nullptr);
    flush_events();
    if (result != 0) fail("send EOF", result);
  }
}

#undef VANTOR_CHECK_FUNCTION
#define VANTOR_CHECK_FUNCTION names_t::call_text

template <typename base_t, typename names_t>
frame_t avcodec_decoder_t<base_t, names_t>::operator()() {
  wrap_avframe_t avframe;
  int result = avframe.receive_from(context_.context());
  flush_events();
  while (result == AVERROR(EAGAIN)) {
    send_packet();
    result = avframe.receive_from(context_.context());
    flush_events();
  }
  if (result == AVERROR_EOF) return end_frame();
  if (result != 0) fail("produce a frame", result);
  return picture_frame(avframe);
}

template <typename base_t, typename names_t>
frame_t avcodec_decoder_t<base_t, names_t>::picture_frame(const wrap_avframe_t& avframe) {
  if (logs_traces()) {
    std::ostringstream line;
    line << names_t::decoder_name << ": got a frame: " << avframe;
    log_trace(line);
  }
  frame_t::format_t const format = to_frame_format(static_cast<AVPixelFormat>(avframe->format));
  if (!opt_format_) {
    opt_format_ = format;
  } else {
    VANTOR_CHECK(*opt_format_ == format);
  }
  VANTOR_CHECK(avframe.pts() >= 0);
  uint64_t const output_pts = static_cast<uint64_t>(avframe.pts()) + this->output_pts_offset();
  if (logs_traces()) {
    std::ostringstream line;
    line << names_t::decoder_name << ": out [" << frame_count_ << "] pts=" << output_pts << " ("
         << avframe.pts() << ") fmt=" << pix_fmt_name(avframe);
    log_trace(line);
  }
  ++frame_count_;
  frame_t frame = avframe_to_frame(avframe, output_pts, this->timescale());
  this->check_output_pts(frame.pts_);
  return frame;
}

template <typename base_t, typename names_t>
frame_t avcodec_decoder_t<base_t, names_t>::end_frame() {
  int32_t const offset = this->pending_sample() ? this->pending_sample()->composition_offset()
                                                : this->composition_offset();
  // Sign-extended and added modulo 2^64.
  uint64_t const end_pts =
      this->decode_time() + static_cast<uint64_t>(static_cast<int64_t>(offset));
  if (logs_traces()) {
    std::ostringstream line;
    line << names_t::decoder_name << ": flush [" << frame_count_ << "] pts=" << end_pts;
    log_trace(line);
  }
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

#undef VANTOR_CHECK_FILE
#define VANTOR_CHECK_FILE __FILE__
#undef VANTOR_CHECK_FUNCTION
#define VANTOR_CHECK_FUNCTION __PRETTY_FUNCTION__

}  // namespace vantor::video::detail
