#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "log_context.hpp"
#include "transcode/video_base.hpp"

namespace vantor::stages {

// Which pictures a thumbnail job wants. Times are in microseconds of the
// presentation timeline, the pictures' own pts.
struct picture_choice_t {
  int64_t start = 0;              // pictures before it are passed over
  std::optional<int64_t> end;     // the range ends here (exclusive); none: the stream's end
  std::optional<int64_t> every;   // one picture per interval, marks at start, start+every, ...
  std::optional<uint32_t> count;  // N pictures, marks at start + (i + 0.5) * (end - start) / N
  bool keyframes_only = false;    // candidates are keyframes only
  bool skip_flat = false;         // a nearly one-colour candidate gives way to the next

  // Whether pictures are chosen at marks rather than all passed on.
  bool has_marks() const noexcept { return every || count; }
};

// Microseconds as ticks of `timescale`, rounded up: the first tick at or
// after the time. Saturates at the largest int64_t, so that adding a start
// offset to it cannot wrap.
uint64_t ticks_at_or_after(int64_t microseconds, uint32_t timescale);

// A picture whose luma hardly varies (a black fade, a plain title card): the
// spread between its 1st and 99th percentile luma, in 8-bit levels, is at
// most this.
inline constexpr unsigned flat_luma_spread = 16;

// The 1st-to-99th percentile spread of a picture's luma in 8-bit levels
// (10-bit samples count a quarter), sampled on a grid of every 4th sample.
unsigned luma_spread(const video::frame_t& frame);

// A frame source that passes on only the chosen pictures of its upstream:
// with marks, each mark takes the first candidate at or after it (a flat
// one gives way to the next candidate before the next mark, and is taken
// when none follows); without marks, every candidate in the range. Its
// end frame carries the end of the range, so the last picture lasts until
// there. Once the range is over, it pulls nothing more upstream.
class picture_picker_t final : public video::frame_source_t {
 public:
  // Told, before the first pull and after each choice, from which
  // presentation time (microseconds) on pictures are still wanted, so that
  // the upstream can skip decoding the others.
  using wanted_from_t = std::function<void(int64_t microseconds)>;

  // Throws 13 when the choice is inconsistent: count without an end,
  // every or count of 0, both of them, or an end not after the start.
  picture_picker_t(log_context_t& log_context, std::unique_ptr<video::frame_source_t> input,
                   picture_choice_t choice, wanted_from_t wanted_from = {});
  video::frame_t operator()() override;

 private:
  video::frame_t chose(video::frame_t frame);
  // Chooses the flat candidate after all, keeping `next` for a later pull.
  video::frame_t take_fallback(video::frame_t next);
  // The mark a picture at `pts` must reach, compared exactly.
  bool at_or_after(const video::frame_t& frame, int64_t microseconds) const;
  std::optional<int64_t> mark(uint64_t index) const;
  void pass_marks_up_to(const video::frame_t& frame);
  video::frame_t end_frame(video::frame_t upstream_end);
  void announce_wanted();

  log_context_t& log_context_;
  std::unique_ptr<video::frame_source_t> input_;
  picture_choice_t choice_;
  wanted_from_t wanted_from_;
  bool announced_ = false;
  uint64_t mark_index_ = 0;
  std::optional<video::frame_t> held_;      // pulled, to be looked at again
  std::optional<video::frame_t> fallback_;  // the first, flat candidate of the current mark
  std::optional<video::frame_t> end_;       // once the range is over
  uint64_t pictures_seen_ = 0;    // for the closing message
  uint64_t pictures_chosen_ = 0;
  uint64_t last_pts_ = 0;
  uint32_t last_timescale_ = 0;
  bool chose_any_ = false;
};

}  // namespace vantor::stages
