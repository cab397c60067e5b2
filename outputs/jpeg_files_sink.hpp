#pragma once

#include <filesystem>
#include <string>

#include "outputs/output_sink.hpp"
#include "outputs/picture_writers.hpp"

namespace vantor::outputs {

// Every sample as a numbered JPEG file in a folder: pictures (000001.jpg)
// or sprite sheets (sheet-0001.jpg). A folder that holds an earlier run's
// series is refused unless `overwrite`.
class jpeg_files_sink_t final : public output_sink_t {
 public:
  jpeg_files_sink_t(const std::filesystem::path& folder, const char* pattern, bool overwrite);

  void begin(const track_description_t&) override {}
  void take(const track_sample_t& sample) override { files_.write(sample.sample); }
  void finish(uint64_t) override {}
  // Each file is complete once written, so there is nothing to undo.
  void abandon() noexcept override {}
  std::string summary() const override;

 private:
  jpeg_folder_writer_t files_;
};

}  // namespace vantor::outputs
