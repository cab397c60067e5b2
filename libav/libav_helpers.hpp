#pragma once

// Small FFmpeg helpers shared by the sources, stages, outputs and the tool:
// owners of the objects libavformat hands out, the text of an error code,
// and conversions between timescales with their rounding named. Include it
// from .cpp files only: it brings in libav's C headers.

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>

extern "C" {
#include <libavcodec/packet.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/mathematics.h>
}

namespace vantor::libav {

struct packet_freer_t {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using packet_ptr_t = std::unique_ptr<AVPacket, packet_freer_t>;

// A demuxer's context, from avformat_open_input.
struct input_context_closer_t {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using input_context_ptr_t = std::unique_ptr<AVFormatContext, input_context_closer_t>;

// A muxer's context, from avformat_alloc_output_context2; its AVIOContext
// is not closed with it.
struct output_context_freer_t {
  void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};
using output_context_ptr_t = std::unique_ptr<AVFormatContext, output_context_freer_t>;

// A file opened with avio_open.
struct io_context_closer_t {
  void operator()(AVIOContext* io) const { avio_closep(&io); }
};
using io_context_ptr_t = std::unique_ptr<AVIOContext, io_context_closer_t>;

// Options for libav calls that take an AVDictionary** and keep what they do
// not use in it; freed on every way out.
class dictionary_t {
 public:
  dictionary_t() = default;
  ~dictionary_t() { av_dict_free(&dictionary_); }
  dictionary_t(const dictionary_t&) = delete;
  dictionary_t& operator=(const dictionary_t&) = delete;

  AVDictionary** out() noexcept { return &dictionary_; }

 private:
  AVDictionary* dictionary_ = nullptr;
};

// av_strerror's text of an AVERROR code (its generic text for an unknown one).
inline std::string error_text(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

enum class rounding_t {
  down = AV_ROUND_DOWN,       // towards minus infinity
  up = AV_ROUND_UP,           // towards plus infinity
  nearest = AV_ROUND_NEAR_INF // halves away from zero, as av_rescale_q
};

// `value` ticks of `from` per second as ticks of `to` per second, computed
// exactly and then rounded; none when the result does not fit in 64 bits,
// `from` is not above 0, `to` is negative or `value` is AV_NOPTS_VALUE.
// Callers that saturate say so with value_or().
inline std::optional<int64_t> rescale(int64_t value, int64_t from, int64_t to, rounding_t rounding) {
  if (from <= 0 || to < 0 || value == AV_NOPTS_VALUE) return std::nullopt;
  int64_t const result = av_rescale_rnd(value, to, from, static_cast<AVRounding>(rounding));
  // av_rescale_rnd's one answer for an overflow; no exact result is it.
  if (result == std::numeric_limits<int64_t>::min()) return std::nullopt;
  return result;
}

}  // namespace vantor::libav
