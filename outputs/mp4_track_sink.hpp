#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "outputs/mp4_track_writer.hpp"
#include "outputs/output_sink.hpp"

namespace vantor::outputs {

// The samples as the MJPEG track of an MP4 file, made at the first sample
// (a run without pictures leaves no file) and put in place at finish.
class mp4_track_sink_t final : public output_sink_t {
 public:
  mp4_track_sink_t(std::filesystem::path path, bool overwrite);
  ~mp4_track_sink_t() override { abandon(); }

  void begin(const track_description_t& track) override;
  void take(const track_sample_t& sample) override { writer_->write(sample.sample); }
  void finish(uint64_t end) override;
  void abandon() noexcept override;
  std::string summary() const override { return path_.string(); }

 private:
  std::filesystem::path const path_;
  std::unique_ptr<staging_t> file_;
  std::unique_ptr<mp4_track_writer_t> writer_;  // writes into file_
};

}  // namespace vantor::outputs
