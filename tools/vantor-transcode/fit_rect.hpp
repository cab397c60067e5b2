#pragma once

#include <cstdint>
#include <optional>

#include "fraction.hpp"
#include "tool_options.hpp"

namespace vantor::tools {

// The largest rectangle inside a `frame` that shows a `src_width` x
// `src_height` picture of sample aspect ratio `sar` (none, or a zero term:
// square pixels) at its display aspect ratio, centred. Position and size are
// even, so that 4:2:0 chroma lines up; the size is at least 2 x 2. `frame`
// must have even, non-zero sides, the source non-zero ones.
picture_rect_t fit_rect(uint32_t src_width, uint32_t src_height,
                        const std::optional<fraction_t<unsigned int, unsigned int>>& sar,
                        picture_size_t frame);

}  // namespace vantor::tools
