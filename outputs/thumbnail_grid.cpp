#include "outputs/thumbnail_grid.hpp"

#include <cstdio>

namespace vantor::outputs {

int64_t thumbnail_grid_t::mark(uint64_t index) const {
  // (2i + 1) * L / 2N for --count, i * D for --every: the picker's own
  // integer arithmetic, so that a picture at a mark is never judged early.
  unsigned __int128 const halves = 2 * static_cast<unsigned __int128>(index) + (marks_mid_tile ? 1 : 0);
  return origin + static_cast<int64_t>(halves * tile_numerator / (2 * static_cast<unsigned __int128>(tile_denominator)));
}

uint64_t thumbnail_grid_t::tile_start(uint64_t index) const {
  unsigned __int128 const scaled = static_cast<unsigned __int128>(index) * tile_numerator;
  return static_cast<uint64_t>((scaled + tile_denominator / 2) / tile_denominator);
}

std::string seconds_text(uint64_t microseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu.%06llu", static_cast<unsigned long long>(microseconds / 1000000),
                static_cast<unsigned long long>(microseconds % 1000000));
  std::string result = text;
  // Trailing zeros say nothing; three decimals stay, as players print them.
  while (result.size() > result.find('.') + 4 && result.back() == '0') result.pop_back();
  return result;
}

}  // namespace vantor::outputs
