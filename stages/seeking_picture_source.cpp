#include "stages/seeking_picture_source.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "exception.hpp"
#include "stages/picture_picker.hpp"
#include "stages/presentation_window.hpp"

namespace vantor::stages {

namespace {

// A decoder's view of the shared file source: the seeking source owns the
// file and destroys each decoder before it seeks.
class borrowed_sample_source_t final : public sample_source_t {
 public:
  borrowed_sample_source_t(sources::file_sample_source_t& source, bool one_sample)
      : source_(source), one_sample_(one_sample) {}
  const trak_t& trak() const override { return source_.trak(); }
  uint64_t first_dts() const override { return source_.first_dts(); }
  std::optional<full_sample_t> read_sample() override {
    if (one_sample_ && got_a_sample_) return std::nullopt;
    std::optional<full_sample_t> sample = source_.read_sample();
    got_a_sample_ = got_a_sample_ || sample.has_value();
    return sample;
  }
  const bool& got_a_sample() const noexcept { return got_a_sample_; }

 private:
  sources::file_sample_source_t& source_;
  bool const one_sample_;
  bool got_a_sample_ = false;
};

}  // namespace

seeking_picture_source_t::seeking_picture_source_t(log_context_t& log_context,
                                                   std::unique_ptr<sources::file_sample_source_t> source,
                                                   decoder_factory_t make_decoder, samples_t samples)
    : log_context_(log_context),
      source_(std::move(source)),
      make_decoder_(std::move(make_decoder)),
      samples_(samples) {
  VANTOR_CHECK(source_ && make_decoder_);
  presentation_start_ = source_->presentation_start();
  timescale_ = source_->trak().media_timescale;
  source_->leave_out_before(std::nullopt, sync_only());
}

seeking_picture_source_t::~seeking_picture_source_t() {
  decoder_.reset();  // before the source it reads
  if (log_context_.level >= vantor_log_debug) {
    log_context_.log_at_level(vantor_log_debug,
                              "seeking_picture_source: " + std::to_string(decoders_started_) +
                                  " decoders, " + std::to_string(seeks_) + " seeks");
  }
}

bool seeking_picture_source_t::sync_only() const noexcept { return samples_ != samples_t::needed; }

void seeking_picture_source_t::want_from(int64_t microseconds) {
  uint64_t const wanted = stages::ticks_at_or_after(microseconds, timescale_);
  if (wanted <= wanted_ && decoder_) return;
  wanted_ = std::max(wanted_, wanted);
  uint64_t const source_ticks = presentation_start_ + wanted_;
  source_->leave_out_before(source_ticks, sync_only());
  if (samples_ == samples_t::sync || !source_->can_seek()) return;
  std::optional<uint64_t> const sync = source_->sync_sample_before(source_ticks);
  // Decoding on is cheaper while the decoder has not yet passed the sync
  // sample the time needs: a fresh decoder would start there anyway.
  if (sync && (!decoder_ || *sync > source_->last_delivered_dts())) seek_pending_ = true;
}

void seeking_picture_source_t::start_decoder() {
  decoder_.reset();
  decoder_got_a_sample_ = nullptr;
  if (seek_pending_ && source_->seek(presentation_start_ + wanted_)) {
    ++seeks_;
  } else {
    source_->start_anew();
  }
  seek_pending_ = false;
  auto samples = std::make_unique<borrowed_sample_source_t>(
      *source_, samples_ == samples_t::one_sync_per_decoder);
  decoder_got_a_sample_ = &samples->got_a_sample();
  decoder_ = std::make_unique<stages::presentation_window_t>(make_decoder_(std::move(samples)),
                                                            presentation_start_);
  ++decoders_started_;
}

video::frame_t seeking_picture_source_t::operator()() {
  for (;;) {
    if (!decoder_ || seek_pending_) start_decoder();
    video::frame_t frame = (*decoder_)();
    if (frame.is_end_of_stream()) {
      // A decoder of one sample is done; the next sync sample needs another,
      // unless none was left.
      if (samples_ != samples_t::one_sync_per_decoder || !*decoder_got_a_sample_) return frame;
      decoder_.reset();
      continue;
    }
    if (frame.timescale_ != timescale_ || frame.pts_ >= wanted_) return frame;
  }
}

}  // namespace vantor::stages
