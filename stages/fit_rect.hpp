#pragma once

#include <cstdint>
#include <optional>

#include "fraction.hpp"

namespace vantor::stages {

struct picture_size_t {
  uint32_t width = 0;
  uint32_t height = 0;
};

// A picture's place in a frame, in pixels.
struct picture_rect_t {
  uint32_t x = 0;
  uint32_t y = 0;
  uint32_t width = 0;
  uint32_t height = 0;

  friend bool operator==(const picture_rect_t& a, const picture_rect_t& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
  }
};

// The largest rectangle inside a `frame` that shows a `src_width` x
// `src_height` picture of sample aspect ratio `sar` (none, or a zero term:
// square pixels) at its display aspect ratio, centred. Position and size are
// even, so that 4:2:0 chroma lines up; the size is at least 2 x 2. `frame`
// must have even, non-zero sides, the source non-zero ones.
picture_rect_t fit_rect(uint32_t src_width, uint32_t src_height,
                        const std::optional<fraction_t<unsigned int, unsigned int>>& sar,
                        picture_size_t frame);

// `size` with its missing side (0) filled in from the display aspect ratio of
// a `src_width` x `src_height` picture of sample aspect ratio `sar`, rounded
// to even (at least 2). A size with both sides is returned as it is.
picture_size_t complete_size(uint32_t src_width, uint32_t src_height,
                             const std::optional<fraction_t<unsigned int, unsigned int>>& sar,
                             picture_size_t size);

}  // namespace vantor::stages
