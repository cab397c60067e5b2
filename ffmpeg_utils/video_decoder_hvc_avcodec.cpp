// HEVC decoding on libavcodec's "hevc" decoder; the algorithm is shared
// with the H.264 decoder in avcodec_decoder.hpp.

#include "ffmpeg_utils/avcodec_decoder.hpp"
#include "ffmpeg_utils/exports.hpp"

namespace vantor::video {

namespace {

struct hvc_names_t {
  static constexpr const char* decoder_name = "video_decoder_hvc_avcodec";
  static constexpr const char* codec_name = "hevc";
  static constexpr const char* source_file = __FILE__;
  static constexpr const char* send_packet_text =
      "void vantor::video::{anonymous}::avcodec_hvc_decoder_t::send_packet()";
  static constexpr const char* call_text =
      "virtual vantor::video::frame_t "
      "vantor::video::{anonymous}::avcodec_hvc_decoder_t::operator()()";
};

using avcodec_hvc_decoder_t = detail::avcodec_decoder_t<hvc_decoder_base_t, hvc_names_t>;

}  // namespace

std::unique_ptr<frame_source_t> create_avcodec_hvc_decoder(log_context_t& log_context,
                                                           std::unique_ptr<sample_source_t> input) {
  return std::make_unique<avcodec_hvc_decoder_t>(log_context, std::move(input));
}

}  // namespace vantor::video
