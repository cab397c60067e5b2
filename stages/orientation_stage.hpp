#pragma once

#include <memory>
#include <string>
#include <vector>

#include "log_context.hpp"
#include "trak.hpp"
#include "transcode/video_base.hpp"

namespace vantor::stages {

// "rotating pictures 90 degrees clockwise and mirroring", as the log says it.
std::string describe_orientation(orientation_t orientation);

// The pixels `in` of a `width` x `height` picture in `format` turned by
// `orientation` into `out`, resized to fit (its buffer is reused when it has
// room). Pictures of odd width or height are refused (13): their half-size
// chroma has no sample for the last column or row, so no upright chroma
// lines up with the upright luma.
void orient_pixels(const std::vector<uint8_t>& in, uint32_t width, uint32_t height,
                   video::frame_t::format_t format, orientation_t orientation, std::vector<uint8_t>& out);

// Pulls pictures from `input` and returns them upright; end frames pass
// through unchanged. Level 2 of the log names the turn once, at creation.
class orientation_stage_t final : public video::frame_source_t {
 public:
  orientation_stage_t(log_context_t& log_context, std::unique_ptr<video::frame_source_t> input,
                      orientation_t orientation);

  video::frame_t operator()() override;

 private:
  std::unique_ptr<video::frame_source_t> input_;
  orientation_t orientation_;
  // The pixels of the previous input picture, the next output's buffer:
  // a stream of one size then turns without allocating.
  std::vector<uint8_t> spare_;
};

}  // namespace vantor::stages
