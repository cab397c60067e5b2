#include "outputs/hls_image_playlist.hpp"

#include <algorithm>
#include <utility>

#include "outputs/picture_writers.hpp"
#include "outputs/webvtt_index.hpp"

namespace vantor::outputs {

namespace {

std::filesystem::path folder_of(const std::filesystem::path& file) {
  return file.parent_path().empty() ? "." : file.parent_path();
}

std::string size_text(uint32_t width, uint32_t height) { return std::to_string(width) + "x" + std::to_string(height); }

bool has_tag(const std::string& text, const std::string& tag) {
  for (size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at + 1)) {
    if (at == 0 || text[at - 1] == '\n') return true;
  }
  return false;
}

}  // namespace

std::string hls_image_playlist(const thumbnail_track_t& track, const sheet_files_t& files,
                               const std::filesystem::path& playlist) {
  uint64_t longest = 0;
  for (size_t i = 0; i < track.sheet_bytes.size(); ++i) longest = std::max(longest, track.sheet_end(i) - track.sheet_start(i));
  // Every #EXTINF, rounded, must be at most the target duration.
  uint64_t const target = std::max<uint64_t>((longest + 999'999) / 1'000'000, 1);
  std::string const tiles = "#EXT-X-TILES:RESOLUTION=" + size_text(track.tile_width, track.tile_height) +
                            ",LAYOUT=" + size_text(track.columns, track.rows) +
                            ",DURATION=" + seconds_text(track.grid.tile_start(1)) + "\n";
  std::string text = "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-TARGETDURATION:" + std::to_string(target) +
                     "\n#EXT-X-PLAYLIST-TYPE:VOD\n#EXT-X-IMAGES-ONLY\n";
  for (size_t i = 0; i < track.sheet_bytes.size(); ++i) {
    text += "#EXTINF:" + seconds_text(track.sheet_end(i) - track.sheet_start(i)) + ",\n" + tiles;
    text += relative_url(numbered_file(files.folder, files.pattern, i + 1), folder_of(playlist)) + "\n";
  }
  return text + "#EXT-X-ENDLIST\n";
}

hls_master_playlist_t::hls_master_playlist_t(std::string text, std::filesystem::path master)
    : text_(std::move(text)), path_(std::move(master)) {
  auto const fail = [&](const std::string& why) { throw output_error_t(path_.string() + ": " + why); };
  if (text_.rfind("#EXTM3U", 0) != 0 && text_.rfind("\xEF\xBB\xBF#EXTM3U", 0) != 0) {
    fail("is not an HLS playlist (it does not start with #EXTM3U)");
  }
  if (has_tag(text_, "#EXTINF")) {
    fail("is a media playlist (it has #EXTINF); the image stream goes into the master playlist that lists it");
  }
  if (!has_tag(text_, "#EXT-X-STREAM-INF")) fail("is not a master playlist (it has no #EXT-X-STREAM-INF)");
}

std::filesystem::path hls_master_playlist_t::copy_path(const std::filesystem::path& master) {
  return master.parent_path() / (master.stem().string() + "-thumbs" + master.extension().string());
}

std::string hls_master_playlist_t::with_image_stream(const thumbnail_track_t& track,
                                                     const std::filesystem::path& playlist) const {
  // The file's own line ends, CR LF or LF.
  std::string const newline = text_.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  std::string text = text_;
  if (!text.empty() && text.back() != '\n') text += newline;
  return text + "#EXT-X-IMAGE-STREAM-INF:BANDWIDTH=" + std::to_string(track.bandwidth()) +
         ",RESOLUTION=" + size_text(track.tile_width, track.tile_height) + ",CODECS=\"jpeg\",URI=\"" +
         relative_url(playlist, folder_of(path_)) + "\"" + newline;
}

}  // namespace vantor::outputs
