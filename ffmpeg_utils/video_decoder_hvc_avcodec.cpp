// HEVC decoding on libavcodec's "hevc" decoder: the algorithm it shares
// with the H.264 decoder and the names that set it apart are in
// avcodec_decoder.hpp; this source makes the decoder.

#include "ffmpeg_utils/avcodec_decoder.hpp"
#include "ffmpeg_utils/exports.hpp"

namespace vantor::video {

std::unique_ptr<frame_source_t> create_avcodec_hvc_decoder(log_context_t& log_context,
                                                           std::unique_ptr<sample_source_t> input) {
  return std::make_unique<avcodec_hvc_decoder_t>(log_context, std::move(input));
}

}  // namespace vantor::video
