#pragma once

#include <cstdint>
#include <optional>

#include "sources/file_sample_source.hpp"
#include "stages/chunk_window.hpp"

namespace vantor::stages {

// The samples of one part: from the sync sample the file is positioned at
// up to the sync sample of decode time `end`, which goes to the decoder
// only when leading pictures follow it; those follow too. Fills in `span`.
class chunk_samples_t final : public sample_source_t {
 public:
  chunk_samples_t(sources::file_sample_source_t& file, std::optional<uint64_t> end, bool first_chunk,
                  chunk_span_t& span);

  const trak_t& trak() const override { return file_.trak(); }
  uint64_t first_dts() const override { return file_.first_dts(); }
  std::optional<full_sample_t> read_sample() override;

 private:
  std::optional<full_sample_t> next();

  sources::file_sample_source_t& file_;
  std::optional<uint64_t> const end_;
  bool const first_chunk_;
  chunk_span_t& span_;
  uint64_t cursor_;
  uint64_t last_dts_ = 0;  // of the sample read last
  uint64_t last_pts_ = 0;
  std::optional<full_sample_t> held_;
  bool ended_ = false;
};

}  // namespace vantor::stages
