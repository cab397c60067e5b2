#include "memory_ceiling.hpp"

#include <algorithm>

extern "C" {
#include <libavutil/mem.h>
}

namespace vantor::tools {

void bound_libav_allocations(const tool_options_t& options) {
  uint64_t output_pixels = 0;
  if (options.size) {
    output_pixels = uint64_t{options.size->width} * std::max(options.size->height, options.size->width);
    if (options.sprite) output_pixels *= uint64_t{options.sprite->first} * options.sprite->second;
  }
  // Two bytes a sample (10-bit video) for the largest plane, and room for
  // the padding and tables that come with it.
  uint64_t const bytes = std::max(options.max_pixels, output_pixels) * 2 + (16u << 20);
  av_max_alloc(static_cast<size_t>(std::min<uint64_t>(bytes, SIZE_MAX / 2)));
}

}  // namespace vantor::tools
