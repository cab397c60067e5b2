#pragma once

#include <cstdint>

#include "trak.hpp"

struct AVStream;

namespace vantor::sources {

// How pictures stored under the display matrix `matrix` (FFmpeg's layout,
// 16.16 fixed point) turn upright. Matrices that rotate by other than a
// multiple of 90 degrees are taken at the nearest multiple: a picture a few
// degrees off is better shown upright than refused, and no resize filter
// turns by arbitrary angles. A degenerate matrix gives the identity.
orientation_t orientation_of_display_matrix(const int32_t matrix[9]);

// The orientation of a stream's pictures: from its display matrix side
// data, or the identity when it has none.
orientation_t orientation_of_stream(const AVStream& stream);

}  // namespace vantor::sources
