#include "stages/fit_rect.hpp"

#include <algorithm>

#include "exception.hpp"

namespace vantor::stages {

namespace {

using wide_t = unsigned __int128;  // products of three 32-bit terms

// numerator / denominator rounded to the nearest even number, within [2, limit].
uint32_t nearest_even(wide_t numerator, wide_t denominator, uint32_t limit) {
  wide_t const pairs = (numerator + denominator) / (2 * denominator);
  wide_t const even = pairs * 2;
  return static_cast<uint32_t>(std::clamp<wide_t>(even, 2, limit));
}

uint32_t centred_even(uint32_t outer, uint32_t inner) { return ((outer - inner) / 2) & ~1u; }

}  // namespace

picture_rect_t fit_rect(uint32_t src_width, uint32_t src_height,
                        const std::optional<fraction_t<unsigned int, unsigned int>>& sar,
                        picture_size_t frame) {
  VANTOR_CHECK(src_width > 0 && src_height > 0);
  VANTOR_CHECK(frame.width >= 2 && frame.height >= 2);
  VANTOR_CHECK(frame.width % 2 == 0 && frame.height % 2 == 0);

  bool const square = !sar || sar->num == 0 || sar->den == 0;
  // Display aspect ratio = display_w / display_h.
  wide_t const display_w = wide_t{src_width} * (square ? 1u : sar->num);
  wide_t const display_h = wide_t{src_height} * (square ? 1u : sar->den);

  picture_rect_t rect;
  // Full width unless that makes the picture taller than the frame.
  if (wide_t{frame.width} * display_h <= wide_t{frame.height} * display_w) {
    rect.width = frame.width;
    rect.height = nearest_even(wide_t{frame.width} * display_h, display_w, frame.height);
  } else {
    rect.height = frame.height;
    rect.width = nearest_even(wide_t{frame.height} * display_w, display_h, frame.width);
  }
  rect.x = centred_even(frame.width, rect.width);
  rect.y = centred_even(frame.height, rect.height);
  return rect;
}

picture_size_t complete_size(uint32_t src_width, uint32_t src_height,
                             const std::optional<fraction_t<unsigned int, unsigned int>>& sar,
                             picture_size_t size) {
  VANTOR_CHECK(src_width > 0 && src_height > 0);
  if (size.width != 0 && size.height != 0) return size;
  VANTOR_CHECK(size.width != 0 || size.height != 0);
  bool const square = !sar || sar->num == 0 || sar->den == 0;
  wide_t const display_w = wide_t{src_width} * (square ? 1u : sar->num);
  wide_t const display_h = wide_t{src_height} * (square ? 1u : sar->den);
  // Even and at most 32768: a sliver of a picture must not ask for gigapixels.
  constexpr uint32_t largest_side = 32768;
  if (size.height == 0) {
    size.height = nearest_even(wide_t{size.width} * display_h, display_w, largest_side);
  } else {
    size.width = nearest_even(wide_t{size.height} * display_w, display_h, largest_side);
  }
  return size;
}

}  // namespace vantor::stages
