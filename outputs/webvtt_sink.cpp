#include "outputs/webvtt_sink.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "outputs/picture_writers.hpp"

namespace vantor::outputs {

webvtt_sink_t::webvtt_sink_t(std::filesystem::path path, std::filesystem::path folder, const char* pattern,
                             bool overwrite)
    : path_(std::move(path)), folder_(std::move(folder)), pattern_(pattern) {
  check_replaceable(path_, overwrite);
}

void webvtt_sink_t::begin(const track_description_t& track) {
  track_ = track;
  index_.emplace(path_, track.trak.media_timescale);
}

uint64_t webvtt_sink_t::cue_time(uint64_t ticks) const noexcept {
  return ticks > track_.cue_origin ? ticks - track_.cue_origin : 0;
}

void webvtt_sink_t::take(const track_sample_t& sample) {
  samples_ = sample.number;
  // A sheet's cues are its tiles', known once every sheet is made.
  if (track_.sheets.tiles) return;
  uint64_t const start = cue_time(sample.dts);
  index_->add(start, start + sample.sample.duration(), numbered_file(folder_, pattern_, sample.number));
}

void webvtt_sink_t::add_tile_cues(uint64_t end) {
  const auto& tiles = *track_.sheets.tiles;
  uint32_t const width = track_.sheets.tile_width;
  uint32_t const height = track_.sheets.tile_height;
  for (size_t i = 0; i < tiles.size(); ++i) {
    const stages::sprite_compositor_t::tile_t& tile = tiles[i];
    // Only sheets that were written get cues.
    if (tile.sheet >= samples_) break;
    uint64_t const until = i + 1 < tiles.size() ? tiles[i + 1].pts : std::max(end, tile.pts);
    index_->add(cue_time(tile.pts), cue_time(until), numbered_file(folder_, pattern_, tile.sheet + 1),
                std::array<uint32_t, 4>{tile.column * width, tile.row * height, width, height});
  }
}

void webvtt_sink_t::finish(uint64_t end) {
  // Without a picture the index is empty but still written: players and
  // scripts that expect it find a valid file.
  if (!index_) index_.emplace(path_, 1000);
  if (track_.sheets.tiles) add_tile_cues(end);
  index_->finish();
}

}  // namespace vantor::outputs
