#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "mp4_full_sample.hpp"
#include "outputs/mp4_track_writer.hpp"
#include "outputs/picture_writers.hpp"
#include "trak.hpp"
#include "stages/sprite_compositor.hpp"
#include "outputs/webvtt_index.hpp"

namespace vantor::tools {



// Where the JPEG samples of one run go: the numbered files in the output
// folder (pictures, or sprite sheets), and, when asked for, a WebVTT index
// and an MP4 track of them. Every file is written under a temporary name and
// renamed once complete.
class jpeg_outputs_t {
 public:
  struct settings_t {
    std::filesystem::path folder;
    bool sheets = false;  // the samples are sprite sheets
    std::optional<std::filesystem::path> vtt;
    std::optional<std::filesystem::path> mp4;
    bool overwrite = false;
    uint64_t cue_origin = 0;  // ticks subtracted from cue times (an MPEG-TS clock's start)
  };

  // Refuses an earlier run's series or files unless `overwrite` (and then
  // removes the old series); throws outputs::output_error_t.
  explicit jpeg_outputs_t(settings_t settings);
  ~jpeg_outputs_t();

  // One JPEG sample, `dts` its time in `trak`'s timescale.
  void write(const trak_t& trak, uint64_t dts, const full_sample_t& sample);
  // The cues of sprite sheets: where each picture went, until `end`.
  void add_tile_cues(const std::vector<stages::sprite_compositor_t::tile_t>& tiles, uint64_t end,
                     uint32_t tile_width, uint32_t tile_height);
  // Writes the index and completes the MP4; without it, neither is left.
  void finish();

  const outputs::jpeg_folder_writer_t& files() const noexcept { return files_; }

 private:
  uint64_t cue_time(uint64_t ticks) const noexcept;

  settings_t const settings_;
  outputs::jpeg_folder_writer_t files_;
  std::optional<outputs::webvtt_index_t> vtt_;
  std::unique_ptr<outputs::mp4_track_writer_t> mp4_;
  uint32_t timescale_ = 0;
};

}  // namespace vantor::tools
