#pragma once

#include <filesystem>
#include <string>

#include "outputs/thumbnail_track.hpp"

namespace vantor::outputs {

// The image media playlist of the sheets, as Roku and others read it:
// #EXT-X-IMAGES-ONLY, and before every sheet its #EXTINF and its
// #EXT-X-TILES (players take the tag from the sheet it precedes, so one in
// the header would describe the first sheet only). RESOLUTION is one tile's.
// Sheet paths are relative to `playlist`'s folder.
std::string hls_image_playlist(const thumbnail_track_t& track, const sheet_files_t& files,
                               const std::filesystem::path& playlist);

// A master playlist that gets an #EXT-X-IMAGE-STREAM-INF line for the image
// playlist. Its copy is written beside it, so that its relative URIs keep
// working. Throws output_error_t, naming the file, for a text that is not a
// master playlist.
class hls_master_playlist_t {
 public:
  hls_master_playlist_t(std::string text, std::filesystem::path master);

  // NAME-thumbs.m3u8 beside NAME.m3u8.
  static std::filesystem::path copy_path(const std::filesystem::path& master);
  std::string with_image_stream(const thumbnail_track_t& track, const std::filesystem::path& playlist) const;

 private:
  std::string const text_;
  std::filesystem::path const path_;
};

}  // namespace vantor::outputs
