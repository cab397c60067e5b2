#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "outputs/dash_image_set.hpp"
#include "outputs/thumbnail_track.hpp"

namespace vantor::outputs {

// The sheets as a DASH-IF thumbnail track in `mpd`: the image adaptation
// set alone in a minimal MPD, or, given `video_mpd`, added to a copy of that
// presentation. Written at finish; refused when `mpd` exists, unless
// `overwrite`; `video_mpd` is read and checked at once.
class dash_thumbnails_sink_t final : public thumbnail_track_sink_t {
 public:
  dash_thumbnails_sink_t(std::filesystem::path mpd, std::optional<std::filesystem::path> video_mpd,
                         sheet_files_t files, thumbnail_grid_t grid, uint32_t columns, uint32_t rows,
                         bool overwrite);

  std::string summary() const override { return manifest().string(); }

 private:
  void write(const thumbnail_track_t& track) override;

  sheet_files_t const files_;
  std::optional<dash_video_mpd_t> video_;
};

}  // namespace vantor::outputs
