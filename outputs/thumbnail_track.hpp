#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "outputs/output_sink.hpp"
#include "outputs/thumbnail_grid.hpp"

namespace vantor::outputs {

// The numbered sheet files a run writes: FOLDER/sheet-0001.jpg, ... (or
// FOLDER/000001.jpg, ... for one picture per sheet).
struct sheet_files_t {
  std::filesystem::path folder;
  const char* pattern = nullptr;
};

// What the image track of a streaming manifest says: the sheets written,
// their layout and size, and the time each covers.
struct thumbnail_track_t {
  uint32_t columns = 1;
  uint32_t rows = 1;
  uint32_t tile_width = 0;
  uint32_t tile_height = 0;
  thumbnail_grid_t grid;
  std::vector<uint64_t> sheet_bytes;  // of every sheet written, in order
  uint64_t length = 0;  // microseconds from the grid's origin to the end of the video

  uint32_t sheet_width() const noexcept { return columns * tile_width; }
  uint32_t sheet_height() const noexcept { return rows * tile_height; }
  // Sheet `index` (0-based) starts and ends here, in microseconds from the
  // origin; the last one ends with the video.
  uint64_t sheet_start(size_t index) const;
  uint64_t sheet_end(size_t index) const;
  // The largest sheet in bits over its duration, in bits per second.
  uint64_t bandwidth() const;
};

// The base of outputs that index the sheets for streaming players: it
// gathers the sheets as they are written, checks that every picture lies
// on the grid (a manifest cannot say otherwise), and hands the track to
// write() at finish. A run without sheets writes nothing.
class thumbnail_track_sink_t : public output_sink_t {
 public:
  void begin(const track_description_t& track) override;
  void take(const track_sample_t& sample) override;
  void finish(uint64_t end) override;
  void abandon() noexcept override {}

 protected:
  // `manifest` names the file in messages.
  thumbnail_track_sink_t(std::filesystem::path manifest, thumbnail_grid_t grid, uint32_t columns, uint32_t rows);
  virtual void write(const thumbnail_track_t& track) = 0;

  const std::filesystem::path& manifest() const noexcept { return manifest_; }

 private:
  // Checks the tiles of the sheets before `sheets` that are not checked yet.
  void check_tiles(uint64_t sheets);
  [[noreturn]] void off_the_grid(uint64_t tile) const;

  std::filesystem::path const manifest_;
  track_description_t description_;
  thumbnail_track_t track_;
  std::vector<uint64_t> picture_times_;  // without sheets, each sample is a tile
  uint64_t tiles_checked_ = 0;
  bool begun_ = false;
};

}  // namespace vantor::outputs
