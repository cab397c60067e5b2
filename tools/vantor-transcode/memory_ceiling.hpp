#pragma once

#include <cstdint>
#include <string>

#include "tool_options.hpp"
#include "trak.hpp"

namespace vantor::tools {

// A crafted header can claim pictures of any size, and the decoder would
// allocate them all, reference after reference. Two bounds keep a run's
// memory near what its pictures need:

// Refuses a track whose declared pictures have more than `max_pixels`;
// throws input_error_t naming `path`.
void check_declared_size(const std::string& path, const trak_t& trak, uint64_t max_pixels);

// Bounds every single libav allocation (libavformat's index, the decoder's
// picture buffers, also after a size change mid-stream) to what the largest
// picture of the run needs: the decoded ones of `options.max_pixels`, or the
// output pictures (sprite sheets) where those are larger. Process-wide.
void bound_libav_allocations(const tool_options_t& options);

}  // namespace vantor::tools
