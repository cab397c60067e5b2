#include "jpeg_outputs.hpp"

#include <algorithm>
#include <utility>

#include "interruption.hpp"
#include "outputs/mp4_track_writer.hpp"
#include "outputs/staged_file.hpp"

namespace vantor::tools {

jpeg_outputs_t::jpeg_outputs_t(settings_t settings)
    : settings_(std::move(settings)),
      files_(settings_.folder, settings_.sheets ? outputs::sheet_file_pattern : outputs::picture_file_pattern) {
  outputs::clear_earlier_series(settings_.folder, settings_.overwrite);
  if (settings_.vtt) outputs::check_replaceable(*settings_.vtt, settings_.overwrite);
  if (settings_.mp4) outputs::check_replaceable(*settings_.mp4, settings_.overwrite);
}

jpeg_outputs_t::~jpeg_outputs_t() {
  if (!mp4_) return;
  // Unfinished: the partial track goes, the file it would replace stays.
  mp4_.reset();
  std::error_code ignored;
  std::filesystem::remove(outputs::staged_file_t::temporary_name_of(*settings_.mp4), ignored);
}

uint64_t jpeg_outputs_t::cue_time(uint64_t ticks) const noexcept {
  return ticks > settings_.cue_origin ? ticks - settings_.cue_origin : 0;
}

void jpeg_outputs_t::write(const trak_t& trak, uint64_t dts, const full_sample_t& sample) {
  files_.write(sample);
  timescale_ = trak.media_timescale;
  if (settings_.vtt && !settings_.sheets) {
    if (!vtt_) vtt_.emplace(*settings_.vtt, timescale_);
    uint64_t const start = cue_time(dts);
    vtt_->add(start, start + sample.duration(), files_.file_of(files_.count()));
  }
  if (settings_.mp4) {
    if (!mp4_) {
      mp4_ = std::make_unique<outputs::mp4_track_writer_t>(outputs::staged_file_t::temporary_name_of(*settings_.mp4), trak, dts);
    }
    mp4_->write(sample);
  }
}

void jpeg_outputs_t::add_tile_cues(const std::vector<stages::sprite_compositor_t::tile_t>& tiles,
                                   uint64_t end, uint32_t tile_width, uint32_t tile_height) {
  if (!settings_.vtt || tiles.empty()) return;
  if (!vtt_) vtt_.emplace(*settings_.vtt, timescale_);
  for (size_t i = 0; i < tiles.size(); ++i) {
    const stages::sprite_compositor_t::tile_t& tile = tiles[i];
    // Only sheets that were written get cues.
    if (tile.sheet >= files_.count()) break;
    uint64_t const until = i + 1 < tiles.size() ? tiles[i + 1].pts : std::max(end, tile.pts);
    vtt_->add(cue_time(tile.pts), cue_time(until), files_.file_of(tile.sheet + 1),
              std::array<uint32_t, 4>{tile.column * tile_width, tile.row * tile_height, tile_width, tile_height});
  }
}

void jpeg_outputs_t::finish() {
  if (settings_.vtt) {
    if (!vtt_) vtt_.emplace(*settings_.vtt, timescale_ ? timescale_ : 1000);
    vtt_->finish();
  }
  if (mp4_) {
    mp4_->finish();
    mp4_.reset();
    outputs::commit_staged(outputs::staged_file_t::temporary_name_of(*settings_.mp4), *settings_.mp4);
  }
}

}  // namespace vantor::tools
