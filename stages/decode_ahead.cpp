#include "stages/decode_ahead.hpp"

#include <utility>

#include "exception.hpp"

namespace vantor::stages {

decode_ahead_t::decode_ahead_t(std::unique_ptr<video::frame_source_t> input, size_t capacity)
    : input_(std::move(input)), capacity_(capacity), worker_(&decode_ahead_t::run, this) {
  VANTOR_CHECK(capacity_ > 0);
}

decode_ahead_t::~decode_ahead_t() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void decode_ahead_t::run() noexcept {
  for (;;) {
    video::frame_t frame;
    std::exception_ptr failure;
    try {
      frame = (*input_)();
    } catch (...) {
      failure = std::current_exception();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stopping_ || ready_.size() < capacity_; });
    if (stopping_) return;
    bool const last = failure || frame.is_end_of_stream();
    if (failure) {
      failure_ = failure;
    } else {
      ready_.push_back(std::move(frame));
    }
    finished_ = last;
    lock.unlock();
    changed_.notify_all();
    if (last) return;
  }
}

video::frame_t decode_ahead_t::operator()() {
  if (end_) return *end_;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !ready_.empty() || finished_; });
  if (ready_.empty()) std::rethrow_exception(failure_);
  video::frame_t frame = std::move(ready_.front());
  ready_.pop_front();
  lock.unlock();
  changed_.notify_all();
  if (frame.is_end_of_stream()) end_ = frame;
  return frame;
}

}  // namespace vantor::stages
