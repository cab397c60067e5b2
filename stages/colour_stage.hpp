#pragma once

#include <memory>
#include <optional>

#include "log_context.hpp"
#include "stages/bt601_matrix.hpp"
#include "stages/hdr_to_sdr.hpp"
#include "transcode/video_base.hpp"

namespace vantor::stages {

// What the colour stage does with the pictures it passes.
struct colour_settings_t {
  // HDR pictures (PQ, HLG) become SDR; otherwise they pass as they are.
  bool tone_map = true;
  // The pictures are for JPEG viewers, which decode full-range BT.601:
  // mapped pictures come out so, and 8-bit SDR BT.709 pictures are turned
  // into BT.601 here, at their final size, which leaves the encoder's
  // converter only the range to expand. Otherwise SDR pictures pass
  // untouched and mapped ones come out as limited-range BT.709 video.
  bool for_jpeg = true;
};

// Pulls pictures from `input` and returns them in the colours their
// output wants (see colour_settings_t); end frames pass through. It runs
// after scaling, so that its cost follows the thumbnail's size and not the
// video's. Level 2 of the log names the transfer, the primaries and the
// peak a mapping uses, and where the peak came from, whenever they change.
class colour_stage_t final : public video::frame_source_t {
 public:
  colour_stage_t(log_context_t& log_context, std::unique_ptr<video::frame_source_t> input,
                 colour_settings_t settings);

  video::frame_t operator()() override;

 private:
  void log_mapping(const video::frame_t& picture, const hdr_peak_t& peak);

  log_context_t& log_context_;
  std::unique_ptr<video::frame_source_t> input_;
  colour_settings_t settings_;
  hdr_to_sdr_t hdr_to_sdr_;
  bt601_matrix_t bt601_;
  bool bt601_logged_ = false;
  // What the last level-2 line said.
  std::optional<video::frame_t::transfer_t> logged_transfer_;
  video::frame_t::primaries_t logged_primaries_{};
  hdr_peak_t logged_peak_;
};

}  // namespace vantor::stages
