#include "stages/chunk_window.hpp"

#include <utility>

namespace vantor::stages {

chunk_window_t::chunk_window_t(std::unique_ptr<video::frame_source_t> input, const chunk_span_t& span)
    : input_(std::move(input)), span_(span) {}

video::frame_t chunk_window_t::operator()() {
  for (;;) {
    video::frame_t frame = (*input_)();
    if (frame.is_end_of_stream()) {
      if (span_.until) frame.pts_ = *span_.until;  // the next part starts there
      return frame;
    }
    if (span_.from && frame.pts_ < *span_.from) continue;
    if (span_.until && frame.pts_ >= *span_.until) continue;
    return frame;
  }
}

}  // namespace vantor::stages
