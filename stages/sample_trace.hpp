#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "log_context.hpp"
#include "trak.hpp"

namespace vantor::stages {

// Passes a track's samples through unchanged and, at log level 4, writes one
// line per sample as the file gave it: the decode time the decoder derives
// its picture times from, the composition offset, duration, size and sync
// flag. Picture times that look wrong are judged against these.
class sample_trace_t final : public sample_source_t {
 public:
  sample_trace_t(std::unique_ptr<sample_source_t> input, log_context_t& log_context);

  const trak_t& trak() const override { return input_->trak(); }
  uint64_t first_dts() const override { return input_->first_dts(); }
  std::optional<full_sample_t> read_sample() override;

 private:
  std::unique_ptr<sample_source_t> input_;
  log_context_t& log_context_;
  uint64_t number_ = 0;
  uint64_t decode_time_;
};

}  // namespace vantor::stages
