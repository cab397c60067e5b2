#include "stages/chunk_samples.hpp"

#include <utility>

namespace vantor::stages {

chunk_samples_t::chunk_samples_t(sources::file_sample_source_t& file, std::optional<uint64_t> end,
                                 bool first_chunk, chunk_span_t& span)
    : file_(file), end_(end), first_chunk_(first_chunk), span_(span), cursor_(file.first_dts()) {}

std::optional<full_sample_t> chunk_samples_t::read_sample() {
  if (held_) return std::exchange(held_, std::nullopt);
  if (ended_) return std::nullopt;
  std::optional<full_sample_t> sample = next();
  if (!sample) return sample;
  // A decoder that starts at a later sync sample shows nothing good
  // before it: those pictures come from the part before.
  if (!first_chunk_ && !span_.from) span_.from = last_pts_;
  if (!end_ || last_dts_ < *end_) return sample;
  if (!span_.until) {
    span_.until = last_pts_;
    std::optional<full_sample_t> following = next();
    if (following && last_pts_ < *span_.until) {
      held_ = std::move(following);
      return sample;
    }
  } else if (last_pts_ < *span_.until) {
    return sample;
  }
  ended_ = true;
  return std::nullopt;
}

std::optional<full_sample_t> chunk_samples_t::next() {
  std::optional<full_sample_t> sample = file_.read_sample();
  if (sample) {
    last_dts_ = cursor_;
    last_pts_ = static_cast<uint64_t>(static_cast<int64_t>(cursor_) + sample->composition_offset());
    cursor_ += sample->duration();
  }
  return sample;
}

std::optional<full_sample_t> read_ahead_samples_t::read_sample() {
  if (samples_.empty()) return std::nullopt;
  std::optional<full_sample_t> sample = std::exchange(samples_.front(), std::nullopt);
  samples_.pop_front();
  return sample;
}

}  // namespace vantor::stages
