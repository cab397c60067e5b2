#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder_test_support.hpp"
#include "sources/file_sample_source.hpp"
#include "stages/seeking_picture_source.hpp"
#include "support/md5.hpp"
#include "stages/picture_picker.hpp"
#include "stages/presentation_window.hpp"

// The seeking source against decoding everything: the same pictures must
// come out, from far fewer decoded samples. (The corpus checks the picks
// against Debian's ffmpeg; this checks that the savings really happen.)
namespace {

using namespace vantor;
using samples_t = vantor::stages::seeking_picture_source_t::samples_t;

struct picked_t {
  std::vector<std::string> md5s;
  size_t samples_decoded = 0;
  uint64_t decoders = 0;
  uint64_t seeks = 0;
};

std::string corpus_clip(const std::string& name) {
  return std::string(VANTOR_TEST_DATA_DIR) + "/corpus/" + name;
}

picked_t pick(const std::string& clip, const std::string& codec, vantor::stages::picture_choice_t choice,
              std::optional<samples_t> seeking) {
  log_context_t log(vantor_log_error);
  picked_t result;
  auto probe = std::make_shared<vantor::testing::source_probe_t>();
  auto const make_decoder = [&](std::unique_ptr<sample_source_t> samples) {
    return vantor::testing::factory_for_codec(codec)(
        log, std::make_unique<vantor::testing::probed_sample_source_t>(std::move(samples), probe));
  };
  std::unique_ptr<vantor::sources::file_sample_source_t> file = vantor::sources::file_sample_source_t::open(clip);
  choice.end = static_cast<int64_t>(file->trak().duration * 1'000'000 / file->trak().media_timescale);
  std::unique_ptr<video::frame_source_t> pictures;
  vantor::stages::seeking_picture_source_t* seeker = nullptr;
  vantor::stages::picture_picker_t::wanted_from_t wanted;
  if (seeking) {
    auto source = std::make_unique<vantor::stages::seeking_picture_source_t>(log, std::move(file), make_decoder, *seeking);
    seeker = source.get();
    wanted = [seeker](int64_t microseconds) { seeker->want_from(microseconds); };
    pictures = std::move(source);
  } else {
    uint64_t const start = file->presentation_start();
    pictures = std::make_unique<vantor::stages::presentation_window_t>(make_decoder(std::move(file)), start);
  }
  // The picker owns the seeker: read its counts before the last pull frees it.
  vantor::stages::picture_picker_t picker(log, std::move(pictures), choice, wanted);
  for (video::frame_t frame = picker(); !frame.is_end_of_stream(); frame = picker()) {
    result.md5s.push_back(vantor::testing::md5_t::of(std::string(frame.data_.begin(), frame.data_.end())));
    if (seeker) result.decoders = seeker->decoders_started(), result.seeks = seeker->seeks();
  }
  result.samples_decoded = probe->samples;
  return result;
}

TEST(seeking_picture_source, gives_the_pictures_of_a_whole_decode_from_fewer_samples) {
  struct case_t {
    const char* clip;
    const char* codec;
    int64_t every;
    bool keyframes;
    samples_t samples;
  };
  for (const case_t& c : {case_t{"choice_h264_bframes.mp4", "avc", 2'900'000, false, samples_t::needed},
                          case_t{"choice_h264.mkv", "avc", 2'900'000, false, samples_t::needed},
                          case_t{"choice_hevc_open_gop.mp4", "hevc", 2'960'000, false, samples_t::needed},
                          case_t{"choice_h264_bframes.mp4", "avc", 1'300'000, true,
                                 samples_t::one_sync_per_decoder},
                          case_t{"choice_hevc_open_gop.mp4", "hevc", 1'300'000, true, samples_t::sync}}) {
    SCOPED_TRACE(std::string(c.clip) + (c.keyframes ? " keyframes" : ""));
    vantor::stages::picture_choice_t choice;
    choice.every = c.every;
    choice.keyframes_only = c.keyframes;
    picked_t const whole = pick(corpus_clip(c.clip), c.codec, choice, std::nullopt);
    picked_t const sought = pick(corpus_clip(c.clip), c.codec, choice, c.samples);
    ASSERT_GE(whole.md5s.size(), 4u);
    EXPECT_EQ(sought.md5s, whole.md5s);
    // 1-s GOPs and marks 1.3 s or more apart: most of every GOP goes undecoded.
    EXPECT_LT(sought.samples_decoded * 2, whole.samples_decoded)
        << sought.samples_decoded << " of " << whole.samples_decoded;
    if (c.samples == samples_t::sync) {
      EXPECT_EQ(sought.decoders, 1u);
    } else {
      EXPECT_GT(sought.seeks, 0u);
    }
    if (c.samples == samples_t::one_sync_per_decoder) {
      EXPECT_EQ(sought.decoders, whole.md5s.size());
    }
  }
}

}  // namespace
