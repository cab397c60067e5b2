#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "outputs/output_sink.hpp"
#include "outputs/webvtt_index.hpp"

namespace vantor::outputs {

// A WebVTT index of the numbered files in `folder` (named by `pattern`):
// one cue per picture, or with sprite sheets one per tile. Written at
// finish, so a failed run leaves no index.
class webvtt_sink_t final : public output_sink_t {
 public:
  webvtt_sink_t(std::filesystem::path path, std::filesystem::path folder, const char* pattern, bool overwrite);

  void begin(const track_description_t& track) override;
  void take(const track_sample_t& sample) override;
  void finish(uint64_t end) override;
  void abandon() noexcept override {}
  std::string summary() const override { return path_.string(); }

 private:
  uint64_t cue_time(uint64_t ticks) const noexcept;
  void add_tile_cues(uint64_t end);

  std::filesystem::path const path_;
  std::filesystem::path const folder_;
  const char* const pattern_;
  track_description_t track_;
  std::optional<webvtt_index_t> index_;
  uint64_t samples_ = 0;
};

}  // namespace vantor::outputs
