#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mp4_full_sample.hpp"
#include "stages/sprite_compositor.hpp"
#include "trak.hpp"

namespace vantor::outputs {

// Sprite sheets: where each picture went, filled in by the compositor while
// the sheets are made.
struct sheet_layout_t {
  uint32_t tile_width = 0;
  uint32_t tile_height = 0;
  const std::vector<stages::sprite_compositor_t::tile_t>* tiles = nullptr;
};

// What every output is told before the first sample.
struct track_description_t {
  trak_t trak;             // the JPEG track: its timescale and picture size
  uint64_t first_dts = 0;  // where the first sample starts, in the track's ticks
  uint64_t cue_origin = 0; // the tick players show as 0 (an MPEG-TS clock's start)
  sheet_layout_t sheets;   // tiles is null unless the samples are sprite sheets
};

// One sample of the track and its place in it.
struct track_sample_t {
  const full_sample_t& sample;
  uint64_t number;  // 1-based
  uint64_t dts;     // its start, in the track's ticks
};

// One place the JPEG samples of a run go. Every file is written under a
// temporary name and renamed once complete. The order of calls: begin (at
// the first sample, so never for a run without samples), take for each
// sample, then finish or abandon. Failures throw output_error_t.
class output_sink_t {
 public:
  virtual ~output_sink_t() = default;

  virtual void begin(const track_description_t& track) = 0;
  virtual void take(const track_sample_t& sample) = 0;
  // Completes the output; `end` is where the track ends, in its ticks.
  virtual void finish(uint64_t end) = 0;
  // The run failed: nothing unfinished is left, files of earlier runs stay.
  virtual void abandon() noexcept = 0;
  // What the summary line names, e.g. "thumbs.vtt".
  virtual std::string summary() const = 0;
};

}  // namespace vantor::outputs
