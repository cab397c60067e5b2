#include "ffmpeg_utils/codec_context.hpp"

#include <cmath>
#include <limits>

#include "ffmpeg_utils/bridge_check.hpp"
#include "ffmpeg_utils/libav_error.hpp"
#include "ffmpeg_utils/log_bridge.hpp"

namespace vantor::video {

constexpr check_site_t make_rational_site =
    detail::bridge_site("AVRational vantor::video::make_rational(uint32_t, uint32_t)");

AVRational make_rational(uint32_t num, uint32_t den) {
  VANTOR_CHECK_AT(num <= static_cast<uint32_t>(std::numeric_limits<int>::max()),
                  make_rational_site);
  VANTOR_CHECK_AT(den <= static_cast<uint32_t>(std::numeric_limits<int>::max()),
                  make_rational_site);
  return AVRational{static_cast<int>(num), static_cast<int>(den)};
}

AVRational make_rational(const fraction_t<unsigned int, unsigned int>& fraction) {
  return make_rational(fraction.num, fraction.den);
}

constexpr check_site_t quality_to_lambda_site =
    detail::bridge_site("int vantor::video::quality_to_lambda(uint32_t)");

int quality_to_lambda(uint32_t quality) {
  VANTOR_CHECK_AT(quality <= 100, quality_to_lambda_site);
  double const normalized = quality / 100.0;
  VANTOR_CHECK_AT(normalized >= 0.0 && normalized <= 1.0, quality_to_lambda_site);
  double const log_result = std::log1p(normalized * 39.0) / 3.6888794541139363;  // ln(40)
  VANTOR_CHECK_AT(log_result >= 0.0 && log_result <= 1.0, quality_to_lambda_site);
  // Quantiser scale 31 .. 2 on a logarithmic curve, times FF_QP2LAMBDA (118).
  double const qscale = std::fma(-29.0, log_result, 31.0);
  return static_cast<int>(std::fma(qscale, 118.0, 0.5));
}

void avcodec_context_deleter_t::operator()(AVCodecContext* context) const noexcept {
  avcodec_free_context(&context);
}

namespace {
constexpr const char* decoder_context = "avdecoder_context";
}  // namespace

avdecoder_context_t::avdecoder_context_t(log_context_t& log_context,
                                         const std::string& decoder_name)
    : synchronizer_(log_context, 100) {
  AVCodec const* const decoder = avcodec_find_decoder_by_name(decoder_name.c_str());
  if (decoder == nullptr) {
    throw_libav_failure(decoder_context,
                        "libavcodec failed to find a " + decoder_name + " decoder");
  }
  context_.reset(avcodec_alloc_context3(decoder));
  if (!context_) {
    throw_libav_failure(decoder_context,
                        "libavcodec failed to allocate a " + decoder_name + " decoder context");
  }
  install_avlog_callback(context_.get(), &synchronizer_);
  int const result = avcodec_open2(context_.get(), decoder, nullptr);
  // FFmpeg's own account of a failed open belongs in the log before our exception.
  synchronizer_.flush_events();
  if (result < 0) {
    throw_libav_failure(decoder_context,
                        "libavcodec failed to open a " + decoder_name + " decoder context", result);
  }
}

}  // namespace vantor::video
