#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

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

// A part's samples, read whole from the file the parts share before its
// decoder starts, and handed to the decoder in order.
class read_ahead_samples_t final : public sample_source_t {
 public:
  read_ahead_samples_t(const trak_t& trak, uint64_t first_dts) : trak_(trak), first_dts_(first_dts) {}

  const trak_t& trak() const override { return trak_; }
  uint64_t first_dts() const override { return first_dts_; }
  std::optional<full_sample_t> read_sample() override;

  void add(std::optional<full_sample_t> sample) { samples_.push_back(std::move(sample)); }

 private:
  const trak_t& trak_;
  uint64_t const first_dts_;
  std::deque<std::optional<full_sample_t>> samples_;  // optional: GCC 12 misreads a move out of the deque
};

}  // namespace vantor::stages
