#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "trak.hpp"

namespace vantor::stages {

// Passes a track's samples through until `stop` says otherwise; it is asked
// before every sample, so Ctrl-C and a time limit end a run between any two
// samples, also where no picture comes out for a long time. The samples end
// there as a file would: the decoder drains and the outputs are finished.
class stop_gate_t final : public sample_source_t {
 public:
  stop_gate_t(std::unique_ptr<sample_source_t> input, std::function<bool()> stop)
      : input_(std::move(input)), stop_(std::move(stop)) {}

  const trak_t& trak() const override { return input_->trak(); }
  uint64_t first_dts() const override { return input_->first_dts(); }
  std::optional<full_sample_t> read_sample() override {
    if (stopped_ || (stopped_ = stop_())) return std::nullopt;
    return input_->read_sample();
  }

 private:
  std::unique_ptr<sample_source_t> input_;
  std::function<bool()> stop_;
  bool stopped_ = false;
};

}  // namespace vantor::stages
