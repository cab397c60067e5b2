#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "stages/presentation_window.hpp"

namespace vantor::stages {
using video::frame_t;
using video::frame_source_t;
namespace {

// Plays back pictures at the given times, then end frames at `end`.
class timed_frames_t final : public frame_source_t {
 public:
  timed_frames_t(std::vector<uint64_t> times, uint64_t end) : times_(times.begin(), times.end()), end_(end) {}

  frame_t operator()() override {
    frame_t frame;
    frame.timescale_ = 90000;
    frame.width_ = 2;
    frame.height_ = 2;
    if (times_.empty()) {
      frame.pts_ = end_;
      return frame;
    }
    frame.pts_ = times_.front();
    frame.data_.assign(6, static_cast<uint8_t>(times_.front()));
    times_.pop_front();
    return frame;
  }

 private:
  std::deque<uint64_t> times_;
  uint64_t end_;
};

struct window_result_t {
  std::vector<uint64_t> times;
  std::vector<uint8_t> first_bytes;  // which pictures were kept
  uint64_t end = 0;
  uint64_t dropped = 0;
};

window_result_t run_window(std::vector<uint64_t> times, uint64_t end, uint64_t start) {
  presentation_window_t window(std::make_unique<timed_frames_t>(std::move(times), end), start);
  window_result_t result;
  for (;;) {
    frame_t const frame = window();
    if (frame.is_end_of_stream()) {
      result.end = frame.pts_;
      EXPECT_TRUE(window().is_end_of_stream()) << "the end frame repeats";
      break;
    }
    result.times.push_back(frame.pts_);
    result.first_bytes.push_back(frame.data_.front());
  }
  result.dropped = window.dropped();
  return result;
}

TEST(presentation_window, drops_pictures_before_the_start_and_rebases_the_rest) {
  struct case_t {
    const char* what;
    std::vector<uint64_t> times;
    uint64_t end;
    uint64_t start;
    std::vector<uint64_t> kept_times;
    std::vector<uint8_t> kept;
    uint64_t expected_end;
  };
  std::vector<case_t> const cases = {
      {"no window", {0, 40, 20}, 60, 0, {0, 40, 20}, {0, 40, 20}, 60},
      // Reordered pictures: the window is by time, not by position.
      {"edit list", {10, 50, 30, 70, 60}, 80, 50, {0, 20, 10}, {50, 70, 60}, 30},
      {"picture at the start is kept", {49, 50, 51}, 52, 50, {0, 1}, {50, 51}, 2},
      {"everything before the start", {10, 20}, 30, 50, {}, {}, 0},
      {"no pictures at all", {}, 5, 0, {}, {}, 5},
  };
  for (const case_t& c : cases) {
    window_result_t const result = run_window(c.times, c.end, c.start);
    EXPECT_EQ(result.times, c.kept_times) << c.what;
    EXPECT_EQ(result.first_bytes, c.kept) << c.what;
    EXPECT_EQ(result.end, c.expected_end) << c.what;
    EXPECT_EQ(result.dropped, c.times.size() - c.kept.size()) << c.what;
  }
}

}  // namespace
}  // namespace vantor::stages
