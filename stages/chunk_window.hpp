#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "transcode/video_base.hpp"

namespace vantor::stages {

// Where a part's pictures lie, in the samples' presentation ticks: from its
// first sync sample's time (none for the first part) to the next part's.
// chunk_samples_t learns both ends while it reads; chunk_window_t uses them.
struct chunk_span_t {
  std::optional<uint64_t> from;
  std::optional<uint64_t> until;  // known once the next part's sync sample is read
};

// Passes on the decoded pictures that lie in the part's span, so that each
// picture comes out of exactly one part.
class chunk_window_t final : public video::frame_source_t {
 public:
  chunk_window_t(std::unique_ptr<video::frame_source_t> input, const chunk_span_t& span);

  video::frame_t operator()() override;

 private:
  std::unique_ptr<video::frame_source_t> input_;
  const chunk_span_t& span_;
};

}  // namespace vantor::stages
