#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "outputs/output_sink.hpp"

namespace vantor::outputs {

// The outputs of one run, in the order given: each sample goes to every one
// of them in turn. Dropped unfinished (a failure), every output is abandoned.
class sink_list_t {
 public:
  // `track` gives what the samples do not: the cue origin and sheet layout.
  explicit sink_list_t(track_description_t track) : track_(std::move(track)) {}
  ~sink_list_t();
  sink_list_t(const sink_list_t&) = delete;
  sink_list_t& operator=(const sink_list_t&) = delete;

  // The samples are sprite sheets laid out as `sheets` says.
  void describe_sheets(const sheet_layout_t& sheets) { track_.sheets = sheets; }
  // The first sink is the one whose files the summary counts.
  void add(std::unique_ptr<output_sink_t> sink) { sinks_.push_back(std::move(sink)); }

  // One sample of `trak`, starting at `dts`; the first begins every output.
  void take(const trak_t& trak, uint64_t dts, const full_sample_t& sample);
  void finish(uint64_t end);

  // Samples the first output has written.
  uint64_t written() const noexcept { return written_; }
  // "out/000001.jpg ... out/000075.jpg, thumbs.vtt"
  std::string summary() const;

 private:
  track_description_t track_;
  std::vector<std::unique_ptr<output_sink_t>> sinks_;
  uint64_t written_ = 0;
  bool begun_ = false;
  bool finished_ = false;
};

}  // namespace vantor::outputs
