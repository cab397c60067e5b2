#include "stages/picture_picker.hpp"

#include <array>
#include <limits>
#include <string>
#include <utility>

#include "exception.hpp"
#include "libav/libav_helpers.hpp"

namespace vantor::stages {

namespace {

void check_choice(const picture_choice_t& choice) {
  auto const refuse = [](const std::string& why) {
    throw vantor::exception(vantor_result_check_failed, "picture_picker: " + why);
  };
  if (choice.every && choice.count) refuse("marks come from an interval or a count, not both");
  if (choice.every && *choice.every <= 0) refuse("the interval must be above 0");
  if (choice.count && *choice.count == 0) refuse("the count must be above 0");
  if (choice.count && !choice.end) refuse("a count needs the end of the range");
  if (choice.end && *choice.end <= choice.start) refuse("the range ends before it starts");
}

}  // namespace

uint64_t ticks_at_or_after(int64_t microseconds, uint32_t timescale) {
  if (microseconds <= 0) return 0;
  return static_cast<uint64_t>(libav::rescale(microseconds, 1'000'000, timescale, libav::rounding_t::up)
                                   .value_or(std::numeric_limits<int64_t>::max()));
}

unsigned luma_spread(const video::frame_t& frame) {
  if (frame.is_end_of_stream() || frame.width_ == 0 || frame.height_ == 0) return 0;
  bool const wide = frame.format_ == video::frame_t::format_t::yuv420p10le;
  std::array<uint64_t, 256> histogram{};
  uint64_t samples = 0;
  for (uint32_t y = 0; y < frame.height_; y += 4) {
    for (uint32_t x = 0; x < frame.width_; x += 4) {
      size_t const at = size_t{y} * frame.width_ + x;
      unsigned value = frame.data_[wide ? 2 * at : at];
      if (wide) value = (value | unsigned{frame.data_[2 * at + 1]} << 8) >> 2;
      ++histogram[value > 255 ? 255 : value];
      ++samples;
    }
  }
  uint64_t const tail = samples / 100;
  unsigned low = 0;
  for (uint64_t below = 0; low < 255 && below + histogram[low] <= tail; ++low) below += histogram[low];
  unsigned high = 255;
  for (uint64_t above = 0; high > 0 && above + histogram[high] <= tail; --high) above += histogram[high];
  return high > low ? high - low : 0;
}

picture_picker_t::picture_picker_t(log_context_t& log_context, std::unique_ptr<video::frame_source_t> input,
                                   picture_choice_t choice, wanted_from_t wanted_from)
    : log_context_(log_context),
      input_(std::move(input)),
      choice_(choice),
      wanted_from_(std::move(wanted_from)) {
  VANTOR_CHECK(input_);
  check_choice(choice_);
}

bool picture_picker_t::at_or_after(const video::frame_t& frame, int64_t microseconds) const {
  return frame.pts_ >= ticks_at_or_after(microseconds, frame.timescale_);
}

std::optional<int64_t> picture_picker_t::mark(uint64_t index) const {
  if (index > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
  if (choice_.every) {
    int64_t offset = 0;
    int64_t result = 0;
    if (__builtin_mul_overflow(static_cast<int64_t>(index), *choice_.every, &offset) ||
        __builtin_add_overflow(choice_.start, offset, &result))
      return std::nullopt;
    if (choice_.end && result >= *choice_.end) return std::nullopt;
    return result;
  }
  if (index >= *choice_.count) return std::nullopt;
  // (i + 0.5) * length / count, exact in 128 bits.
  __int128 const length = *choice_.end - choice_.start;
  return choice_.start + static_cast<int64_t>((2 * static_cast<__int128>(index) + 1) * length /
                                              (2 * static_cast<__int128>(*choice_.count)));
}

void picture_picker_t::pass_marks_up_to(const video::frame_t& frame) {
  // Marks closer together than the pictures all fall to the same picture;
  // after a jump in a file's clock, billions may. Marks only grow, so the
  // first one still ahead is found by doubling and halving, not by steps.
  auto const passed = [&](uint64_t index) {
    std::optional<int64_t> const at = mark(index);
    return at && at_or_after(frame, *at);
  };
  if (!passed(mark_index_)) return;
  uint64_t low = mark_index_;  // passed
  uint64_t high = low + 1;     // the first one ahead lies in (low, high]
  for (uint64_t step = 1; passed(high); step *= 2) {
    low = high;
    high = low + step;
  }
  while (high - low > 1) {
    uint64_t const middle = low + (high - low) / 2;
    (passed(middle) ? low : high) = middle;
  }
  mark_index_ = high;
}

video::frame_t picture_picker_t::end_frame(video::frame_t upstream_end) {
  video::frame_t end;
  end.timescale_ = upstream_end.timescale_ ? upstream_end.timescale_ : last_timescale_;
  end.pts_ = upstream_end.pts_;
  if (choice_.end && end.timescale_ != 0) {
    uint64_t const range_end = ticks_at_or_after(*choice_.end, end.timescale_);
    if (upstream_end.timescale_ == 0 || range_end < end.pts_) end.pts_ = range_end;
  }
  // The last picture lasts until the end; it never ends before it starts.
  if (chose_any_ && end.timescale_ == last_timescale_ && end.pts_ <= last_pts_) end.pts_ = last_pts_ + 1;
  if (log_context_.level >= vantor_log_info) {
    log_context_.log_at_level(vantor_log_info, "picture_picker: chose " +
                                                   std::to_string(pictures_chosen_) +
                                                   " of " + std::to_string(pictures_seen_) +
                                                   " pictures");
  }
  return end;
}

void picture_picker_t::announce_wanted() {
  announced_ = true;
  if (!wanted_from_) return;
  if (!choice_.has_marks()) return wanted_from_(choice_.start);
  // Past the last mark nothing is wanted; the range end stops the pulls.
  if (std::optional<int64_t> const next = mark(mark_index_)) wanted_from_(*next);
}

video::frame_t picture_picker_t::chose(video::frame_t frame) {
  last_pts_ = frame.pts_;
  last_timescale_ = frame.timescale_;
  chose_any_ = true;
  ++pictures_chosen_;
  if (choice_.has_marks()) announce_wanted();
  return frame;
}

video::frame_t picture_picker_t::take_fallback(video::frame_t next) {
  held_ = std::move(next);
  video::frame_t chosen = std::move(*fallback_);
  fallback_.reset();
  ++mark_index_;
  pass_marks_up_to(chosen);
  return chose(std::move(chosen));
}

video::frame_t picture_picker_t::operator()() {
  if (end_) return *end_;
  if (!announced_) announce_wanted();
  for (;;) {
    video::frame_t frame;
    if (held_) {
      frame = std::move(*held_);
      held_.reset();
    } else {
      frame = (*input_)();
      if (!frame.is_end_of_stream()) ++pictures_seen_;
    }

    bool const range_over = frame.is_end_of_stream() || (choice_.end && at_or_after(frame, *choice_.end)) ||
                            (choice_.has_marks() && !mark(mark_index_));
    if (range_over) {
      if (fallback_) {
        // The flat candidate stands: nothing better came before the end.
        return take_fallback(std::move(frame));
      }
      video::frame_t upstream_end;
      if (frame.is_end_of_stream()) {
        upstream_end = std::move(frame);
      } else if (choice_.end && at_or_after(frame, *choice_.end)) {
        upstream_end.timescale_ = frame.timescale_;
        upstream_end.pts_ = frame.pts_;
      } else {
        // Past the last mark, inside the range: the last picture lasts
        // until the range's end (or, without one, this picture).
        upstream_end.pts_ = frame.pts_;
        if (!choice_.end) upstream_end.timescale_ = frame.timescale_;
      }
      end_ = end_frame(std::move(upstream_end));
      input_.reset();  // nothing more is pulled: release the decoder early
      return *end_;
    }
    if (!at_or_after(frame, choice_.start)) continue;
    if (choice_.keyframes_only && !frame.keyframe_) continue;
    if (!choice_.has_marks()) return chose(std::move(frame));

    int64_t const current = *mark(mark_index_);
    if (!at_or_after(frame, current)) continue;
    std::optional<int64_t> const next = mark(mark_index_ + 1);
    if (fallback_ && next && at_or_after(frame, *next)) {
      // This candidate belongs to a later mark; the flat one stands for its own.
      return take_fallback(std::move(frame));
    }
    if (choice_.skip_flat && luma_spread(frame) <= flat_luma_spread) {
      if (!fallback_) fallback_ = std::move(frame);
      continue;
    }
    fallback_.reset();
    pass_marks_up_to(frame);
    return chose(std::move(frame));
  }
}

}  // namespace vantor::stages
