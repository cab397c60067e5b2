#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "transcode/video_base.hpp"

namespace vantor::stages {

// Passes the pictures of a source through unchanged and shows each one to an
// observer first (progress, checks). An observer that returns false ends the
// stream before that picture: the tap returns an end frame at its time, so
// that everything downstream finishes the pictures it already has.
class frame_tap_t final : public video::frame_source_t {
 public:
  using observer_t = std::function<bool(const video::frame_t&)>;

  frame_tap_t(std::unique_ptr<video::frame_source_t> input, observer_t observer)
      : input_(std::move(input)), observer_(std::move(observer)) {}

  video::frame_t operator()() override {
    if (ended_) return end_frame_;
    video::frame_t frame = (*input_)();
    if (frame.is_end_of_stream() || observer_(frame)) return frame;
    ended_ = true;
    end_frame_.format_ = frame.format_;
    end_frame_.pts_ = frame.pts_;
    end_frame_.timescale_ = frame.timescale_;
    return end_frame_;
  }

 private:
  std::unique_ptr<video::frame_source_t> input_;
  observer_t observer_;
  bool ended_ = false;
  video::frame_t end_frame_;
};

}  // namespace vantor::stages
