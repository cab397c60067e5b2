#pragma once

// Setting up libavcodec: fractions as AVRational, JPEG quality as lambda,
// and the owner of an opened decoder context with the log bridge attached.

#include <cstdint>
#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/rational.h>
}

#include "fraction.hpp"
#include "log_context.hpp"

namespace vantor::video {

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

}  // namespace vantor::video
