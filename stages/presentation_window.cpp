#include "stages/presentation_window.hpp"

#include <utility>

namespace vantor::stages {

presentation_window_t::presentation_window_t(std::unique_ptr<video::frame_source_t> input, uint64_t start)
    : input_(std::move(input)), start_(start) {
  VANTOR_CHECK(input_ && "presentation_window_t needs an input");
}

video::frame_t presentation_window_t::operator()() {
  for (;;) {
    video::frame_t frame = (*input_)();
    if (frame.is_end_of_stream()) {
      frame.pts_ = frame.pts_ > start_ ? frame.pts_ - start_ : 0;
      return frame;
    }
    if (frame.pts_ >= start_) {
      frame.pts_ -= start_;
      return frame;
    }
    ++dropped_;
  }
}

}  // namespace vantor::stages
