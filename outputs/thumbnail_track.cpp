#include "outputs/thumbnail_track.hpp"

#include <algorithm>
#include <utility>

#include "buckets.hpp"
#include "outputs/clock_text.hpp"
#include "outputs/picture_writers.hpp"
#include "stages/picture_picker.hpp"

namespace vantor::outputs {

namespace {

uint64_t microseconds_of(uint64_t ticks, uint32_t timescale) {
  return static_cast<uint64_t>(static_cast<unsigned __int128>(ticks) * 1'000'000 / timescale);
}

}  // namespace

uint64_t thumbnail_track_t::sheet_start(size_t index) const {
  return grid.tile_start(static_cast<uint64_t>(index) * columns * rows);
}

uint64_t thumbnail_track_t::sheet_end(size_t index) const {
  return index + 1 < sheet_bytes.size() ? sheet_start(index + 1) : length;
}

uint64_t thumbnail_track_t::bandwidth() const {
  if (sheet_bytes.empty()) return 0;
  size_t const largest =
      static_cast<size_t>(std::max_element(sheet_bytes.begin(), sheet_bytes.end()) - sheet_bytes.begin());
  uint64_t const duration = std::max<uint64_t>(sheet_end(largest) - sheet_start(largest), 1);
  unsigned __int128 const bits = static_cast<unsigned __int128>(sheet_bytes[largest]) * 8 * 1'000'000;
  return static_cast<uint64_t>((bits + duration - 1) / duration);
}

thumbnail_track_sink_t::thumbnail_track_sink_t(std::filesystem::path manifest, thumbnail_grid_t grid,
                                               uint32_t columns, uint32_t rows)
    : manifest_(std::move(manifest)) {
  track_.grid = grid;
  track_.columns = columns;
  track_.rows = rows;
}

void thumbnail_track_sink_t::begin(const track_description_t& track) {
  description_ = track;
  begun_ = true;
  if (track.sheets.tiles) {
    track_.tile_width = track.sheets.tile_width;
    track_.tile_height = track.sheets.tile_height;
  } else {
    // Each sample is one picture: a sheet of one tile.
    track_.columns = track_.rows = 1;
    track_.tile_width = track.trak.width;
    track_.tile_height = track.trak.height;
  }
}

void thumbnail_track_sink_t::take(const track_sample_t& sample) {
  track_.sheet_bytes.push_back(buckets_size(sample.sample.data()));
  if (!description_.sheets.tiles) picture_times_.push_back(sample.dts);
  // A sheet is made once its tiles are placed: a picture off the grid
  // stops the run here rather than at the end of the video.
  check_tiles(sample.number);
}

void thumbnail_track_sink_t::check_tiles(uint64_t sheets) {
  const auto* const tiles = description_.sheets.tiles;
  uint32_t const timescale = description_.trak.media_timescale;
  for (;; ++tiles_checked_) {
    uint64_t pts = 0;
    if (tiles) {
      if (tiles_checked_ >= tiles->size() || (*tiles)[tiles_checked_].sheet >= sheets) return;
      pts = (*tiles)[tiles_checked_].pts;
    } else {
      if (tiles_checked_ >= picture_times_.size()) return;
      pts = picture_times_[tiles_checked_];
    }
    // The picker took this picture for the first mark at or before it; it
    // stands for its tile only when that mark is the tile's own.
    const thumbnail_grid_t& grid = track_.grid;
    if (pts < stages::ticks_at_or_after(grid.mark(tiles_checked_), timescale) ||
        pts >= stages::ticks_at_or_after(grid.mark(tiles_checked_ + 1), timescale)) {
      off_the_grid(tiles_checked_);
    }
  }
}

void thumbnail_track_sink_t::off_the_grid(uint64_t tile) const {
  const thumbnail_grid_t& grid = track_.grid;
  throw output_error_t(manifest_.string() + ": players show a thumbnail track on an even grid of " +
                       seconds_text(grid.tile_start(1)) + " s tiles, and no picture was chosen for the tile from " +
                       clock_text(grid.tile_start(tile) / 1000, 1) + " to " +
                       clock_text(grid.tile_start(tile + 1) / 1000, 1) +
                       " (the video has a gap there, its pictures lie further apart than the tiles, or with "
                       "--keyframes no keyframe falls in it); give a longer --every or a smaller --count");
}

void thumbnail_track_sink_t::finish(uint64_t end) {
  if (!begun_) return;
  uint64_t const written = track_.sheet_bytes.size();
  check_tiles(written);
  // The last sheet ends with the video: after its last tile's start, and
  // never past the sheet's own end (a run stopped by Ctrl-C ends early).
  uint64_t const video_end = microseconds_of(end, description_.trak.media_timescale);
  int64_t const length = static_cast<int64_t>(video_end) - track_.grid.origin;
  uint64_t const shortest = track_.grid.tile_start(tiles_checked_ == 0 ? 0 : tiles_checked_ - 1) + 1;
  uint64_t const longest = std::max(track_.sheet_start(written), shortest);
  track_.length = std::clamp<uint64_t>(length > 0 ? static_cast<uint64_t>(length) : 0, shortest, longest);
  write(track_);
}

}  // namespace vantor::outputs
