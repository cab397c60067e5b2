#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "outputs/hls_image_playlist.hpp"
#include "outputs/thumbnail_track.hpp"

namespace vantor::outputs {

// The sheets as an HLS image media playlist in `playlist`, and, given
// `master`, a copy of that master playlist beside it that lists the image
// playlist too (hls_master_playlist_t::copy_path). Written at finish;
// refused when either exists, unless `overwrite`; `master` is read and
// checked at once.
class hls_thumbnails_sink_t final : public thumbnail_track_sink_t {
 public:
  hls_thumbnails_sink_t(std::filesystem::path playlist, std::optional<std::filesystem::path> master,
                        sheet_files_t files, thumbnail_grid_t grid, uint32_t columns, uint32_t rows,
                        bool overwrite);

  std::string summary() const override;

 private:
  void write(const thumbnail_track_t& track) override;

  sheet_files_t const files_;
  std::optional<hls_master_playlist_t> master_;
  std::filesystem::path master_copy_;
};

}  // namespace vantor::outputs
