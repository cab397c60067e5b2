#pragma once

#include <filesystem>
#include <string>

#include "outputs/thumbnail_track.hpp"

namespace vantor::outputs {

// DASH-IF thumbnail tiles: an image adaptation set whose segments are the
// sheets, one SegmentTemplate segment per sheet, and in its Representation
// (players ignore it on the adaptation set) the tile layout as an
// EssentialProperty. The Representation's width and height are the whole
// sheet's; players divide them by the layout.

// "sheets/sheet-$Number%04d$.jpg": the SegmentTemplate media of the sheet
// files, relative to the folder `base` and percent-encoded.
std::string dash_media_template(const sheet_files_t& files, const std::filesystem::path& base);

// A minimal MPD of the image adaptation set alone, written as `mpd`, for
// packagers that merge adaptation sets.
std::string dash_thumbnails_mpd(const thumbnail_track_t& track, const sheet_files_t& files,
                                const std::filesystem::path& mpd);

// The MPD `video_text` (read from `video_mpd`) with the image adaptation set
// added to its Period, written as `mpd`; everything else stays as it was,
// but where `mpd` lies in another folder, the video's relative URLs get a
// BaseURL that keeps them resolving. Throws output_error_t, naming
// `video_mpd`, for what does not take a thumbnail track: not an MPD, a live
// presentation, several periods, segments set on the Period, an absolute
// BaseURL.
class dash_video_mpd_t {
 public:
  dash_video_mpd_t(std::string video_text, std::filesystem::path video_mpd);

  std::string with_thumbnails(const thumbnail_track_t& track, const sheet_files_t& files,
                              const std::filesystem::path& mpd) const;

 private:
  std::string const text_;
  std::filesystem::path const path_;
};

}  // namespace vantor::outputs
