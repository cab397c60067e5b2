#include "outputs/sink_list.hpp"

namespace vantor::outputs {

sink_list_t::~sink_list_t() {
  if (finished_) return;
  for (auto& sink : sinks_) sink->abandon();
}

void sink_list_t::take(const trak_t& trak, uint64_t dts, const full_sample_t& sample) {
  if (!begun_) {
    track_.trak = trak;
    track_.first_dts = dts;
    for (auto& sink : sinks_) sink->begin(track_);
    begun_ = true;
  }
  track_sample_t const taken{sample, written_ + 1, dts};
  for (size_t i = 0; i < sinks_.size(); ++i) {
    sinks_[i]->take(taken);
    // Counted once its file exists, whatever the outputs after it do.
    if (i == 0) ++written_;
  }
}

void sink_list_t::finish(uint64_t end) {
  for (auto& sink : sinks_) sink->finish(end);
  finished_ = true;
}

std::string sink_list_t::summary() const {
  std::string text;
  for (const auto& sink : sinks_) text += (text.empty() ? "" : ", ") + sink->summary();
  return text;
}

}  // namespace vantor::outputs
