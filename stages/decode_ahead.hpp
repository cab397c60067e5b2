#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "transcode/video_base.hpp"

namespace vantor::stages {

// Pulls the pictures of its input on a thread of its own, up to `capacity`
// pictures ahead of its caller: the decoder works on the next pictures while
// the caller scales and encodes this one. The input is driven by that one
// thread only, and destroyed by the caller's thread once the worker has
// stopped. A failure upstream reaches the caller at the picture where it
// happened, after the pictures before it.
class decode_ahead_t final : public video::frame_source_t {
 public:
  decode_ahead_t(std::unique_ptr<video::frame_source_t> input, size_t capacity);
  ~decode_ahead_t() override;

  decode_ahead_t(const decode_ahead_t&) = delete;
  decode_ahead_t& operator=(const decode_ahead_t&) = delete;

  video::frame_t operator()() override;

 private:
  void run() noexcept;

  std::unique_ptr<video::frame_source_t> input_;
  size_t const capacity_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<video::frame_t> ready_;
  bool stopping_ = false;  // the caller wants no more
  bool finished_ = false;  // the worker has pushed its last frame or failure
  std::exception_ptr failure_;
  std::optional<video::frame_t> end_;  // kept once taken: an end frame repeats
  std::thread worker_;  // last: starts once everything above exists
};

}  // namespace vantor::stages
