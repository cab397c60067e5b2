#include "outputs/hls_thumbnails_sink.hpp"

#include <utility>

#include "outputs/manifest_files.hpp"
#include "outputs/picture_writers.hpp"

namespace vantor::outputs {

hls_thumbnails_sink_t::hls_thumbnails_sink_t(std::filesystem::path playlist,
                                             std::optional<std::filesystem::path> master, sheet_files_t files,
                                             thumbnail_grid_t grid, uint32_t columns, uint32_t rows, bool overwrite)
    : thumbnail_track_sink_t(std::move(playlist), grid, columns, rows), files_(std::move(files)) {
  check_replaceable(manifest(), overwrite);
  if (!master) return;
  master_copy_ = hls_master_playlist_t::copy_path(*master);
  if (std::filesystem::absolute(master_copy_).lexically_normal() ==
      std::filesystem::absolute(manifest()).lexically_normal()) {
    throw output_error_t(manifest().string() + ": is where the copy of " + master->string() +
                         " goes; give the image playlist another name");
  }
  check_replaceable(master_copy_, overwrite);
  master_.emplace(read_manifest(*master), *master);
}

std::string hls_thumbnails_sink_t::summary() const {
  return manifest().string() + (master_ ? ", " + master_copy_.string() : "");
}

void hls_thumbnails_sink_t::write(const thumbnail_track_t& track) {
  write_manifest(manifest(), hls_image_playlist(track, files_, manifest()));
  if (master_) write_manifest(master_copy_, master_->with_image_stream(track, manifest()));
}

}  // namespace vantor::outputs
