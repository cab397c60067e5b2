#pragma once

#include <cstdint>
#include <string>

namespace vantor::outputs {

// The even grid of time that streaming players lay thumbnails on: tile i
// stands for [i * tile, (i + 1) * tile) from the start of the video, and a
// sheet of C x R tiles for C * R of them. The picture picker chose each
// picture at a mark of the same grid (--every at the start of a tile,
// --count in its middle), so picture i belongs to tile i as long as no
// mark went without a picture of its own.
struct thumbnail_grid_t {
  int64_t origin = 0;  // microseconds on the pictures' timeline where tile 0 starts
  // One tile's length in microseconds: tile_numerator / tile_denominator
  // (--every D is D / 1, --count N over a video of length L is L / N).
  uint64_t tile_numerator = 0;
  uint64_t tile_denominator = 1;
  bool marks_mid_tile = false;  // --count: each mark lies in the middle of its tile

  // The mark of tile `index` in microseconds, exactly as the picker places it.
  int64_t mark(uint64_t index) const;
  // Where tile `index` starts, in microseconds from the origin (rounded).
  uint64_t tile_start(uint64_t index) const;
};

// A length of time in seconds with up to six decimals and at least three
// ("8.000", "3.333333"): what playlists and manifests write.
std::string seconds_text(uint64_t microseconds);

}  // namespace vantor::outputs
