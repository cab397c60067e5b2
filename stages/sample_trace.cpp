#include "stages/sample_trace.hpp"

#include <sstream>
#include <utility>

#include "buckets.hpp"

namespace vantor::stages {

sample_trace_t::sample_trace_t(std::unique_ptr<sample_source_t> input, log_context_t& log_context)
    : input_(std::move(input)), log_context_(log_context), decode_time_(input_->first_dts()) {}

std::optional<full_sample_t> sample_trace_t::read_sample() {
  std::optional<full_sample_t> sample = input_->read_sample();
  if (sample && log_context_.level >= vantor_log_trace) {
    std::ostringstream line;
    line << "vantor-transcode: sample " << number_ << ": dts " << decode_time_ << ", offset "
         << sample->composition_offset() << ", duration " << sample->duration() << ", "
         << buckets_size(sample->data()) << " bytes" << (sample->is_sync_sample() ? ", sync" : "")
         << " (timescale " << input_->trak().media_timescale << ")";
    log_context_.log_at_level(vantor_log_trace, line.str());
  }
  if (sample) {
    ++number_;
    decode_time_ += sample->duration();
  }
  return sample;
}

}  // namespace vantor::stages
