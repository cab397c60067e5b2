#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "exception.hpp"
#include "log_context.hpp"
#include "support/frames.hpp"
#include "stages/picture_picker.hpp"

namespace vantor::stages {
using video::frame_t;
using video::frame_source_t;
namespace {

using testing::end_frame;
using testing::play;

// A 16x16 picture at `pts` milliseconds: a luma ramp, or one flat grey.
frame_t picture(uint64_t pts, bool key = false, bool flat = false) {
  frame_t frame;
  frame.width_ = 16;
  frame.height_ = 16;
  frame.format_ = frame_t::format_t::yuv420p;
  frame.pts_ = pts;
  frame.timescale_ = 1000;
  frame.keyframe_ = key;
  frame.data_ = create_frame_data(16, 16, frame.format_, {16, 128, 128});
  for (size_t i = 0; i < 256 && !flat; ++i) frame.data_[i] = static_cast<uint8_t>(16 + i % 16 * 14);
  return frame;
}

// Pictures every 100 ms up to 2 s, a keyframe every 500 ms; flat where listed.
std::vector<frame_t> stream(std::vector<uint64_t> flat = {}) {
  std::vector<frame_t> frames;
  for (uint64_t pts = 0; pts < 2000; pts += 100) {
    bool const is_flat = std::find(flat.begin(), flat.end(), pts) != flat.end();
    frames.push_back(picture(pts, pts % 500 == 0, is_flat));
  }
  return frames;
}

struct picked_t {
  std::vector<uint64_t> pts;
  uint64_t end = 0;
  int pulls = 0;
};

picked_t pick(picture_choice_t choice, std::vector<frame_t> frames = stream()) {
  log_context_t log(vantor_log_error);
  auto pulls = std::make_shared<int>(0);
  picture_picker_t picker(log, play(std::move(frames), end_frame(2000), pulls), choice);
  picked_t picked;
  for (frame_t frame = picker(); !frame.is_end_of_stream(); frame = picker()) picked.pts.push_back(frame.pts_);
  picked.end = picker().pts_;
  EXPECT_EQ(picker().pts_, picked.end) << "an end frame once, end frames ever after";
  picked.pulls = *pulls;
  return picked;
}

using times_t = std::vector<uint64_t>;

// A clock that jumps by 4e9 s between two pictures (a crafted or broken
// file) puts 4e8 marks of 10 s in the gap: they are passed at once, and the
// picture after the jump is the next one chosen.
TEST(picture_picker, a_jump_in_time_passes_every_mark_in_the_gap_at_once) {
  uint64_t const jump = 4'000'000'000'000;  // ms
  std::vector<frame_t> frames{picture(0), picture(100), picture(jump), picture(jump + 5'000), picture(jump + 10'000)};
  picture_choice_t every;
  every.every = 10'000'000;
  log_context_t log(vantor_log_error);
  auto pulls = std::make_shared<int>(0);
  picture_picker_t picker(log, play(std::move(frames), end_frame(jump + 20'000), pulls), every);
  times_t chosen;
  for (frame_t frame = picker(); !frame.is_end_of_stream(); frame = picker()) chosen.push_back(frame.pts_);
  EXPECT_EQ(chosen, (times_t{0, jump, jump + 10'000}));
}

TEST(picture_picker, marks_take_the_first_candidate_at_or_after_them) {
  picture_choice_t every;
  every.every = 450'000;  // marks 0, 450, 900, 1350, 1800 ms
  EXPECT_EQ(pick(every).pts, (times_t{0, 500, 900, 1400, 1800}));
  EXPECT_EQ(pick(every).end, 2000u);

  // Marks closer than the pictures fall to one picture, which comes once.
  every.every = 30'000;
  every.start = 1'850'000;
  EXPECT_EQ(pick(every).pts, (times_t{1900}));

  picture_choice_t count;
  count.count = 4;
  count.end = 2'000'000;  // marks 250, 750, 1250, 1750 ms
  EXPECT_EQ(pick(count).pts, (times_t{300, 800, 1300, 1800}));
  count.count = 1;  // the poster, from the middle
  EXPECT_EQ(pick(count).pts, (times_t{1000}));

  picture_choice_t keyed = count;
  keyed.count = 3;  // marks 333, 1000, 1666 ms: keyframes at 500, 1000, and none after 1500
  keyed.keyframes_only = true;
  EXPECT_EQ(pick(keyed).pts, (times_t{500, 1000}));
}

TEST(picture_picker, a_range_limits_the_pictures_and_ends_the_last_one) {
  picture_choice_t range;
  range.start = 1'250'000;
  range.end = 1'600'000;
  picked_t const picked = pick(range);
  EXPECT_EQ(picked.pts, (times_t{1300, 1400, 1500}));
  EXPECT_EQ(picked.end, 1600u);
  // The picture at 1600 ends the range; nothing after it is pulled.
  EXPECT_EQ(picked.pulls, 17);

  picture_choice_t keyframes;
  keyframes.keyframes_only = true;
  EXPECT_EQ(pick(keyframes).pts, (times_t{0, 500, 1000, 1500}));
  EXPECT_EQ(pick(keyframes).end, 2000u);
}

TEST(picture_picker, flat_candidates_give_way_within_their_interval) {
  picture_choice_t every;
  every.every = 500'000;
  every.skip_flat = true;
  // 0-200 flat: 300 is taken for mark 0. 500-900 all flat: the first stands.
  // 1500 flat, 1600 not.
  std::vector<uint64_t> const flat{0, 100, 200, 500, 600, 700, 800, 900, 1500};
  EXPECT_EQ(pick(every, stream(flat)).pts, (times_t{300, 500, 1000, 1600}));
  every.skip_flat = false;
  EXPECT_EQ(pick(every, stream(flat)).pts, (times_t{0, 500, 1000, 1500}));
  // A flat last candidate stands when the stream ends.
  every.skip_flat = true;
  every.start = 1'900'000;
  EXPECT_EQ(pick(every, stream({1900})).pts, (times_t{1900}));
}

TEST(picture_picker, luma_spread_and_inconsistent_choices) {
  EXPECT_EQ(luma_spread(picture(0, false, true)), 0u);
  EXPECT_EQ(luma_spread(picture(0)), 168u);  // columns 0, 4, 8, 12 of the ramp: 16 to 184
  frame_t ten_bit;
  ten_bit.width_ = 8;
  ten_bit.height_ = 8;
  ten_bit.format_ = frame_t::format_t::yuv420p10le;
  ten_bit.timescale_ = 1;
  ten_bit.data_ = create_frame_data(8, 8, ten_bit.format_, {64, 512, 512});
  ten_bit.data_[0] = 0xfc;  // 1020 among 64s: 255 against 16 in 8-bit levels
  ten_bit.data_[1] = 0x03;
  EXPECT_EQ(luma_spread(ten_bit), 239u);

  log_context_t log(vantor_log_error);
  auto const refused = [&](picture_choice_t choice) {
    try {
      picture_picker_t picker(log, play({}, end_frame(0)), choice);
    } catch (const vantor::exception&) {
      return true;
    }
    return false;
  };
  picture_choice_t both;
  both.every = 1;
  both.count = 1;
  both.end = 10;
  picture_choice_t count_without_end;
  count_without_end.count = 2;
  picture_choice_t backwards;
  backwards.start = 5;
  backwards.end = 5;
  EXPECT_TRUE(refused(both));
  EXPECT_TRUE(refused(count_without_end));
  EXPECT_TRUE(refused(backwards));
}

// A mark is reached by the first tick at or after it: rounded up, never
// before 0, held at the largest int64_t rather than wrapping.
TEST(picture_picker, microseconds_become_the_first_tick_at_or_after_them) {
  EXPECT_EQ(ticks_at_or_after(1'000'000, 90'000), 90'000u);
  EXPECT_EQ(ticks_at_or_after(1, 90'000), 1u);              // 0.09 ticks
  EXPECT_EQ(ticks_at_or_after(1'000'001, 3), 4u);           // 3.000003 ticks
  EXPECT_EQ(ticks_at_or_after(3'000'000'000'001, 12'800), 38'400'000'001u);  // past 32 bits
  EXPECT_EQ(ticks_at_or_after(0, 12'800), 0u);
  EXPECT_EQ(ticks_at_or_after(-40'000, 12'800), 0u);
  EXPECT_EQ(ticks_at_or_after(1'000'000, 0), 0u);
  uint64_t const latest = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  EXPECT_EQ(ticks_at_or_after(std::numeric_limits<int64_t>::max(), 4'294'967'295u), latest);
  int64_t const thousandth = std::numeric_limits<int64_t>::max() / 1000;
  EXPECT_EQ(ticks_at_or_after(thousandth, 1'000'000'000), static_cast<uint64_t>(thousandth) * 1000);
  EXPECT_EQ(ticks_at_or_after(thousandth + 1, 1'000'000'000), latest);
}

}  // namespace
}  // namespace vantor::stages
