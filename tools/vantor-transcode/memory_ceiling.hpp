#pragma once

#include <cstdint>
#include "tool_options.hpp"

namespace vantor::tools {

// A crafted header can claim pictures of any size, and the decoder would
// allocate them all, reference after reference. The file source refuses a
// declared size above --max-pixels; this bounds the rest.

// Bounds every single libav allocation (libavformat's index, the decoder's
// picture buffers, also after a size change mid-stream) to what the largest
// picture of the run needs: the decoded ones of `options.max_pixels`, or the
// output pictures (sprite sheets) where those are larger. Process-wide.
void bound_libav_allocations(const tool_options_t& options);

}  // namespace vantor::tools
