#include "stages/bt601_matrix.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "exception.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantor::stages {

namespace {

using frame_t = video::frame_t;

// The levels of a range: luma offset and span, chroma span.
struct levels_t {
  double y_offset, y_span, c_span;
};

levels_t levels_of(frame_t::range_t range) {
  return range == frame_t::range_t::full ? levels_t{0, 255, 255} : levels_t{16, 219, 224};
}

// BT.709 Y'CbCr to BT.601 Y'CbCr, both normalised (Y' in [0, 1], Cb and Cr
// in [-0.5, 0.5]): luma gains a little of each chroma, chroma mixes; white
// and black stay where they are.
struct matrix_t {
  double y_cb, y_cr, cb_cb, cb_cr, cr_cb, cr_cr;
};

matrix_t bt709_to_bt601() {
  double const kr7 = 0.2126, kb7 = 0.0722, kg7 = 1 - kr7 - kb7;
  double const kr6 = 0.299, kb6 = 0.114, kg6 = 1 - kr6 - kb6;
  // R'G'B' of a unit of Cb and of Cr in BT.709.
  double const r_cr = 2 - 2 * kr7, b_cb = 2 - 2 * kb7;
  double const g_cb = -2 * kb7 * (1 - kb7) / kg7, g_cr = -2 * kr7 * (1 - kr7) / kg7;
  // BT.601 luma and chroma of those.
  auto const y6 = [&](double r, double g, double b) { return kr6 * r + kg6 * g + kb6 * b; };
  double const y_cb = y6(0, g_cb, b_cb), y_cr = y6(r_cr, g_cr, 0);
  return {y_cb,
          y_cr,
          (b_cb - y_cb) / (2 - 2 * kb6),
          (0 - y_cr) / (2 - 2 * kb6),
          (0 - y_cb) / (2 - 2 * kr6),
          (r_cr - y_cr) / (2 - 2 * kr6)};
}

// The matrix in fixed point, for pictures of `in` levels made `out` levels.
// Every intermediate fits 16 bits, so that the loops below run eight or
// sixteen samples to a vector instruction. Luma is worked in 64ths of a
// level: the value of a sample is (Y * 256 * luma_gain) >> 16, plus the
// offset, plus its chroma's correction.
struct coefficients_t {
  uint16_t luma_gain;   // output levels per input level, times 2^14
  int16_t luma_offset;  // black of the output less the gain at the input's black, and half a level
  int16_t y_cb, y_cr;   // luma correction per chroma level away from 128, 64ths times 2^8
  int16_t cb_cb, cb_cr, cr_cb, cr_cr;  // output chroma per input chroma level, times 2^14

  coefficients_t(const levels_t& in, const levels_t& out) {
    matrix_t const m = bt709_to_bt601();
    auto const fixed = [](double value, int bits) {
      return static_cast<int>(std::lround(std::ldexp(value, bits)));
    };
    double const gain = out.y_span / in.y_span;
    luma_gain = static_cast<uint16_t>(fixed(gain, 14));
    luma_offset = static_cast<int16_t>(fixed(out.y_offset - gain * in.y_offset + 0.5, 6));
    double const to_luma = out.y_span / in.c_span, to_chroma = out.c_span / in.c_span;
    y_cb = static_cast<int16_t>(fixed(m.y_cb * to_luma, 14));
    y_cr = static_cast<int16_t>(fixed(m.y_cr * to_luma, 14));
    cb_cb = static_cast<int16_t>(fixed(m.cb_cb * to_chroma, 14));
    cb_cr = static_cast<int16_t>(fixed(m.cb_cr * to_chroma, 14));
    cr_cb = static_cast<int16_t>(fixed(m.cr_cb * to_chroma, 14));
    cr_cr = static_cast<int16_t>(fixed(m.cr_cr * to_chroma, 14));
  }
};

inline uint8_t saturate(int value) { return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); }

// Where a picture's chroma samples are: Cb of sample i at cb[i * step].
struct chroma_plane_t {
  uint8_t* cb;
  uint8_t* cr;
  size_t step;
  size_t row_bytes;
};

#if defined(__SSE2__)
// Chroma samples i..i+7 as (Cb - 128, Cr - 128) pairs of 16-bit lanes:
// samples i..i+3 in `lo`, i+4..i+7 in `hi`. NV12 rows (step 2) already
// hold them in that order.
inline void pairs(const uint8_t* cb, const uint8_t* cr, size_t step, size_t i, __m128i zero, __m128i centre,
                  __m128i& lo, __m128i& hi) {
  if (step == 2) {
    __m128i const uv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + 2 * i));
    lo = _mm_sub_epi16(_mm_unpacklo_epi8(uv, zero), centre);
    hi = _mm_sub_epi16(_mm_unpackhi_epi8(uv, zero), centre);
    return;
  }
  __m128i const u = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + i)), zero), centre);
  __m128i const v = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + i)), zero), centre);
  lo = _mm_unpacklo_epi16(u, v);
  hi = _mm_unpackhi_epi16(u, v);
}
#endif

// The luma corrections (64ths of a level) of one chroma row.
void corrections(const coefficients_t& k, const uint8_t* cb, const uint8_t* cr, size_t step,
                 size_t count, int16_t* __restrict out) {
  size_t i = 0;
#if defined(__SSE2__)
  // Eight Cb,Cr pairs side by side, each pair multiplied and summed at once.
  __m128i const weights = _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(k.y_cb)) |
                                         static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(k.y_cr)) << 16));
  __m128i const zero = _mm_setzero_si128(), centre = _mm_set1_epi16(128), half = _mm_set1_epi32(128);
  for (; i + 8 <= count; i += 8) {
    __m128i lo, hi;
    pairs(cb, cr, step, i, zero, centre, lo, hi);
    __m128i const a = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(lo, weights), half), 8);
    __m128i const b = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(hi, weights), half), 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(a, b));
  }
#endif
  for (; i < count; ++i) {
    int const u = cb[i * step] - 128, v = cr[i * step] - 128;
    out[i] = static_cast<int16_t>((k.y_cb * u + k.y_cr * v + 128) >> 8);
  }
}

// One luma row. Chroma sits between luma rows 2cy and 2cy+1: each takes
// 3/4 of its own chroma row and 1/4 of the next one out (`other`).
// Horizontally it sits on the even columns: odd columns take the mean of
// the samples either side. The weights make 8, taken off again before the
// sum.
void luma_row(const coefficients_t& k, const int16_t* here, const int16_t* other, size_t cw,
              int16_t* __restrict vertical, uint8_t* __restrict row) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 8 <= cw; i += 8) {
    __m128i const h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(here + i));
    __m128i const o = _mm_loadu_si128(reinterpret_cast<const __m128i*>(other + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(vertical + i), _mm_add_epi16(_mm_add_epi16(h, h), _mm_add_epi16(h, o)));
  }
#endif
  for (; i < cw; ++i) vertical[i] = static_cast<int16_t>(3 * here[i] + other[i]);
  vertical[cw] = vertical[cw - 1];
  i = 0;
#if defined(__SSE2__)
  __m128i const zero = _mm_setzero_si128();
  __m128i const gain = _mm_set1_epi16(static_cast<int16_t>(k.luma_gain));
  __m128i const offset = _mm_set1_epi16(k.luma_offset);
  for (; i + 8 <= cw; i += 8) {
    __m128i const v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vertical + i));
    __m128i const next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vertical + i + 1));
    __m128i const even = _mm_srai_epi16(_mm_add_epi16(v, v), 3);
    __m128i const odd = _mm_srai_epi16(_mm_add_epi16(v, next), 3);
    __m128i const y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * i));
    // Y * 256 as 16-bit lanes, times the gain, the high half kept.
    __m128i const lo = _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, y), gain);
    __m128i const hi = _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, y), gain);
    __m128i const sum_lo = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(lo, offset), _mm_unpacklo_epi16(even, odd)), 6);
    __m128i const sum_hi = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(hi, offset), _mm_unpackhi_epi16(even, odd)), 6);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 2 * i), _mm_packus_epi16(sum_lo, sum_hi));
  }
#endif
  for (; i < cw; ++i) {
    int const even = (2 * vertical[i]) >> 3;
    int const odd = (vertical[i] + vertical[i + 1]) >> 3;
    int const y0 = (row[2 * i] * 256 * k.luma_gain) >> 16;
    int const y1 = (row[2 * i + 1] * 256 * k.luma_gain) >> 16;
    row[2 * i] = saturate((y0 + k.luma_offset + even) >> 6);
    row[2 * i + 1] = saturate((y1 + k.luma_offset + odd) >> 6);
  }
}

void chroma_row(const coefficients_t& k, uint8_t* cb, uint8_t* cr, size_t step, size_t count) {
  int const rounding = (128 << 14) + (1 << 13);
  size_t i = 0;
#if defined(__SSE2__)
  auto const pair_of = [](int16_t a, int16_t b) {
    return _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(a)) |
                          static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16));
  };
  __m128i const to_cb = pair_of(k.cb_cb, k.cb_cr), to_cr = pair_of(k.cr_cb, k.cr_cr);
  __m128i const zero = _mm_setzero_si128(), centre = _mm_set1_epi16(128), round = _mm_set1_epi32(rounding);
  for (; i + 8 <= count; i += 8) {
    __m128i lo, hi;
    pairs(cb, cr, step, i, zero, centre, lo, hi);
    auto const mix = [&](__m128i weights) {
      __m128i const a = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(lo, weights), round), 14);
      __m128i const b = _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(hi, weights), round), 14);
      return _mm_packs_epi32(a, b);  // eight values, each within 16 bits
    };
    __m128i const new_cb = mix(to_cb), new_cr = mix(to_cr);
    if (step == 2) {
      // NV12: the pairs go back interleaved.
      _mm_storeu_si128(reinterpret_cast<__m128i*>(cb + 2 * i),
                       _mm_packus_epi16(_mm_unpacklo_epi16(new_cb, new_cr), _mm_unpackhi_epi16(new_cb, new_cr)));
    } else {
      __m128i const bytes = _mm_packus_epi16(new_cb, new_cr);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(cb + i), bytes);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(cr + i), _mm_srli_si128(bytes, 8));
    }
  }
#endif
  for (; i < count; ++i) {
    int const u = cb[i * step] - 128, v = cr[i * step] - 128;
    cb[i * step] = saturate((k.cb_cb * u + k.cb_cr * v + rounding) >> 14);
    cr[i * step] = saturate((k.cr_cb * u + k.cr_cr * v + rounding) >> 14);
  }
}

}  // namespace

bt601_matrix_t::bt601_matrix_t(frame_t::range_t range) : range_(range) {}

bool bt601_matrix_t::applies_to(const frame_t& picture) {
  return picture.matrix_ == frame_t::matrix_t::bt709 &&
         (picture.format_ == frame_t::format_t::yuv420p || picture.format_ == frame_t::format_t::nv12);
}

void bt601_matrix_t::operator()(frame_t& picture) {
  VANTOR_CHECK(applies_to(picture));
  size_t const w = picture.width_, h = picture.height_;
  VANTOR_CHECK(w % 2 == 0 && h % 2 == 0 &&
               picture.data_.size() >= video::frame_data_size(picture.width_, picture.height_, picture.format_));
  coefficients_t const k(levels_of(picture.range_), levels_of(range_));
  size_t const cw = w / 2, ch = h / 2;
  uint8_t* const luma = picture.data_.data();
  chroma_plane_t const chroma =
      picture.format_ == frame_t::format_t::nv12
          ? chroma_plane_t{luma + w * h, luma + w * h + 1, 2, w}
          : chroma_plane_t{luma + w * h, luma + w * h * 5 / 4, 1, cw};
  if (cw == 0 || ch == 0) return;

  // The luma corrections of the chroma rows above, at and below the one in
  // hand, each made before its row is converted; and the row's vertical mix.
  rows_.resize(4 * cw + 1);
  int16_t* above = rows_.data();
  int16_t* here = above + cw;
  int16_t* below = here + cw;
  int16_t* const vertical = below + cw;
  auto const corrections_of = [&](size_t row, int16_t* out) {
    corrections(k, chroma.cb + row * chroma.row_bytes, chroma.cr + row * chroma.row_bytes, chroma.step, cw,
                out);
  };
  corrections_of(0, here);
  std::copy(here, here + cw, above);
  for (size_t cy = 0; cy < ch; ++cy) {
    if (cy + 1 < ch) {
      corrections_of(cy + 1, below);
    } else {
      std::copy(here, here + cw, below);
    }
    luma_row(k, here, above, cw, vertical, luma + 2 * cy * w);
    luma_row(k, here, below, cw, vertical, luma + (2 * cy + 1) * w);
    chroma_row(k, chroma.cb + cy * chroma.row_bytes, chroma.cr + cy * chroma.row_bytes, chroma.step, cw);
    std::swap(above, here);
    std::swap(here, below);
  }
  picture.matrix_ = frame_t::matrix_t::bt601;
  picture.range_ = range_;
}

}  // namespace vantor::stages
