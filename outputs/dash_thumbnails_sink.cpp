#include "outputs/dash_thumbnails_sink.hpp"

#include <utility>

#include "outputs/manifest_files.hpp"
#include "outputs/picture_writers.hpp"

namespace vantor::outputs {

dash_thumbnails_sink_t::dash_thumbnails_sink_t(std::filesystem::path mpd, std::optional<std::filesystem::path> video_mpd,
                                               sheet_files_t files, thumbnail_grid_t grid, uint32_t columns,
                                               uint32_t rows, bool overwrite)
    : thumbnail_track_sink_t(std::move(mpd), grid, columns, rows), files_(std::move(files)) {
  check_replaceable(manifest(), overwrite);
  if (video_mpd) video_.emplace(read_manifest(*video_mpd), *video_mpd);
}

void dash_thumbnails_sink_t::write(const thumbnail_track_t& track) {
  write_manifest(manifest(), video_ ? video_->with_thumbnails(track, files_, manifest())
                                    : dash_thumbnails_mpd(track, files_, manifest()));
}

}  // namespace vantor::outputs
