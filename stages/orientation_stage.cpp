#include "stages/orientation_stage.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantor::stages {

namespace {

// One plane of `width` x `height` samples of type T, rows without gaps.
template <typename T>
struct plane_t {
  T* data;
  size_t width;
  size_t height;
};

// A sample of two bytes moved as one: an NV12 U,V pair or a 10-bit sample.
using pair_t = uint16_t;

#if defined(__SSE2__)
// The 16 bytes or the 8 two-byte samples of `v` in reverse order.
inline __m128i reversed(__m128i v, uint8_t) {
  v = _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));
  v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1)), _MM_SHUFFLE(2, 3, 0, 1));
  return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}
inline __m128i reversed(__m128i v, pair_t) {
  v = _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3));
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, _MM_SHUFFLE(2, 3, 0, 1)),
                             _MM_SHUFFLE(2, 3, 0, 1));
}
#endif

template <typename T>
void reverse_row(const T* src, size_t width, T* dst) {
  size_t x = 0;
#if defined(__SSE2__)
  constexpr size_t step = 16 / sizeof(T);
  for (; x + step <= width; x += step) {
    __m128i const v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + width - x - step), reversed(v, T{}));
  }
#endif
  for (; x < width; ++x) dst[width - 1 - x] = src[x];
}

// Rows are copied whole or reversed; `reverse_rows` takes them bottom up.
template <typename T>
void flip_plane(const plane_t<const T>& in, const plane_t<T>& out, bool reverse_rows,
                bool reverse_columns) {
  for (size_t y = 0; y < in.height; ++y) {
    const T* src = in.data + y * in.width;
    T* dst = out.data + (reverse_rows ? in.height - 1 - y : y) * in.width;
    if (reverse_columns) {
      reverse_row(src, in.width, dst);
    } else {
      std::memcpy(dst, src, in.width * sizeof(T));
    }
  }
}

// The transposing turns move sample (x, y) to output row x (or width-1-x
// when `reverse_rows`) and column y (or height-1-y when `reverse_columns`).
// They go in tiles of 8 columns by 8 or 16 rows; a tile reads its input
// rows from `in` a stride apart and writes its output rows to `out` a
// stride apart, and a negative stride is a reversal.
template <typename T>
void transpose_tile_scalar(const T* in, ptrdiff_t in_stride, T* out, ptrdiff_t out_stride,
                           size_t columns, size_t rows) {
  for (size_t r = 0; r < rows; ++r) {
    const T* src = in + static_cast<ptrdiff_t>(r) * in_stride;
    for (size_t c = 0; c < columns; ++c) out[static_cast<ptrdiff_t>(c) * out_stride + r] = src[c];
  }
}

#if defined(__SSE2__)
inline __m128i load64(const void* p) { return _mm_loadl_epi64(static_cast<const __m128i*>(p)); }
inline __m128i load128(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void store128(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

// Columns 0-7 of 8 byte rows as 8 rows of 8 bytes: row c in the low half
// of out[c / 2] when c is even, in the high half when it is odd.
inline void transpose_8x8(const uint8_t* in, ptrdiff_t s, __m128i out[4]) {
  __m128i const a = _mm_unpacklo_epi8(load64(in), load64(in + s));
  __m128i const b = _mm_unpacklo_epi8(load64(in + 2 * s), load64(in + 3 * s));
  __m128i const c = _mm_unpacklo_epi8(load64(in + 4 * s), load64(in + 5 * s));
  __m128i const d = _mm_unpacklo_epi8(load64(in + 6 * s), load64(in + 7 * s));
  __m128i const ab_lo = _mm_unpacklo_epi16(a, b), ab_hi = _mm_unpackhi_epi16(a, b);
  __m128i const cd_lo = _mm_unpacklo_epi16(c, d), cd_hi = _mm_unpackhi_epi16(c, d);
  out[0] = _mm_unpacklo_epi32(ab_lo, cd_lo);
  out[1] = _mm_unpackhi_epi32(ab_lo, cd_lo);
  out[2] = _mm_unpacklo_epi32(ab_hi, cd_hi);
  out[3] = _mm_unpackhi_epi32(ab_hi, cd_hi);
}

void transpose_tile(const uint8_t* in, ptrdiff_t in_stride, uint8_t* out, ptrdiff_t out_stride,
                    size_t rows) {
  __m128i top[4];
  transpose_8x8(in, in_stride, top);
  if (rows == 8) {
    for (int i = 0; i < 4; ++i) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * i * out_stride), top[i]);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (2 * i + 1) * out_stride),
                       _mm_srli_si128(top[i], 8));
    }
    return;
  }
  // 16 rows: whole 16-byte stores, which the write side needs.
  __m128i bottom[4];
  transpose_8x8(in + 8 * in_stride, in_stride, bottom);
  for (int i = 0; i < 4; ++i) {
    store128(out + 2 * i * out_stride, _mm_unpacklo_epi64(top[i], bottom[i]));
    store128(out + (2 * i + 1) * out_stride, _mm_unpackhi_epi64(top[i], bottom[i]));
  }
}

void transpose_tile(const pair_t* in, ptrdiff_t s, pair_t* out, ptrdiff_t out_stride, size_t) {
  __m128i const r0 = load128(in), r1 = load128(in + s), r2 = load128(in + 2 * s),
                r3 = load128(in + 3 * s), r4 = load128(in + 4 * s), r5 = load128(in + 5 * s),
                r6 = load128(in + 6 * s), r7 = load128(in + 7 * s);
  // a: columns 0-3 of rows 0 and 1 interleaved, b: columns 4-7; c-h likewise.
  __m128i const a = _mm_unpacklo_epi16(r0, r1), b = _mm_unpackhi_epi16(r0, r1);
  __m128i const c = _mm_unpacklo_epi16(r2, r3), d = _mm_unpackhi_epi16(r2, r3);
  __m128i const e = _mm_unpacklo_epi16(r4, r5), f = _mm_unpackhi_epi16(r4, r5);
  __m128i const g = _mm_unpacklo_epi16(r6, r7), h = _mm_unpackhi_epi16(r6, r7);
  __m128i const ac_lo = _mm_unpacklo_epi32(a, c), ac_hi = _mm_unpackhi_epi32(a, c);
  __m128i const eg_lo = _mm_unpacklo_epi32(e, g), eg_hi = _mm_unpackhi_epi32(e, g);
  __m128i const bd_lo = _mm_unpacklo_epi32(b, d), bd_hi = _mm_unpackhi_epi32(b, d);
  __m128i const fh_lo = _mm_unpacklo_epi32(f, h), fh_hi = _mm_unpackhi_epi32(f, h);
  store128(out, _mm_unpacklo_epi64(ac_lo, eg_lo));
  store128(out + out_stride, _mm_unpackhi_epi64(ac_lo, eg_lo));
  store128(out + 2 * out_stride, _mm_unpacklo_epi64(ac_hi, eg_hi));
  store128(out + 3 * out_stride, _mm_unpackhi_epi64(ac_hi, eg_hi));
  store128(out + 4 * out_stride, _mm_unpacklo_epi64(bd_lo, fh_lo));
  store128(out + 5 * out_stride, _mm_unpackhi_epi64(bd_lo, fh_lo));
  store128(out + 6 * out_stride, _mm_unpacklo_epi64(bd_hi, fh_hi));
  store128(out + 7 * out_stride, _mm_unpackhi_epi64(bd_hi, fh_hi));
}
constexpr bool has_tile_kernel = true;
#else
template <typename T>
void transpose_tile(const T* in, ptrdiff_t in_stride, T* out, ptrdiff_t out_stride, size_t rows) {
  transpose_tile_scalar(in, in_stride, out, out_stride, 8, rows);
}
constexpr bool has_tile_kernel = false;
#endif

// Blocks of 64 bytes square: each block writes whole cache lines of a few
// output rows, where a walk along whole input rows would touch every output
// row (and its page) for each band of rows.
template <typename T>
void transpose_plane(const plane_t<const T>& in, const plane_t<T>& out, bool reverse_rows,
                     bool reverse_columns) {
  auto const width = static_cast<ptrdiff_t>(in.width);    // output rows
  auto const height = static_cast<ptrdiff_t>(in.height);  // output columns
  ptrdiff_t const in_stride = reverse_columns ? -width : width;
  ptrdiff_t const out_stride = reverse_rows ? -height : height;
  ptrdiff_t const block = 64 / sizeof(T);
  ptrdiff_t const band_rows = sizeof(T) == 1 && has_tile_kernel ? 16 : 8;
  for (ptrdiff_t yb = 0; yb < height; yb += block) {
    ptrdiff_t const y_end = std::min(height, yb + block);
    for (ptrdiff_t xb = 0; xb < width; xb += block) {
      ptrdiff_t const x_end = std::min(width, xb + block);
#if defined(__SSE2__)
      // The next block's output lines are 64 rows apart, too far for the
      // hardware to guess; fetching them ahead measured faster for bytes
      // (not for two-byte samples).
      if (sizeof(T) == 1 && x_end < width) {
        ptrdiff_t const next_end = std::min(width, x_end + block);
        ptrdiff_t const column = reverse_columns ? height - y_end : yb;
        for (ptrdiff_t x = x_end; x < next_end; ++x) {
          T const* const line = out.data + (reverse_rows ? width - 1 - x : x) * height + column;
          _mm_prefetch(reinterpret_cast<const char*>(line), _MM_HINT_T0);
        }
      }
#endif
      for (ptrdiff_t y0 = yb; y0 < y_end;) {
        ptrdiff_t const left = y_end - y0;
        ptrdiff_t const rows = left >= band_rows ? band_rows : left >= 8 ? 8 : left;
        // Reversed columns are filled from the right: the band's input rows
        // are read bottom up so that its output rows run left to right.
        const T* const band_in = in.data + (reverse_columns ? y0 + rows - 1 : y0) * width;
        ptrdiff_t const out_column = reverse_columns ? height - y0 - rows : y0;
        for (ptrdiff_t x0 = xb; x0 < x_end; x0 += 8) {
          ptrdiff_t const columns = std::min<ptrdiff_t>(8, x_end - x0);
          T* const tile_out = out.data + (reverse_rows ? width - 1 - x0 : x0) * height + out_column;
          if (columns == 8 && rows >= 8) {
            transpose_tile(band_in + x0, in_stride, tile_out, out_stride,
                           static_cast<size_t>(rows));
          } else {
            transpose_tile_scalar(band_in + x0, in_stride, tile_out, out_stride,
                                  static_cast<size_t>(columns), static_cast<size_t>(rows));
          }
        }
        y0 += rows;
      }
    }
  }
}

template <typename T>
void orient_plane(const plane_t<const T>& in, T* out, orientation_t orientation) {
  bool const mirror = orientation.mirror;
  switch (orientation.rotation) {
    case 0:
      return flip_plane(in, plane_t<T>{out, in.width, in.height}, false, mirror);
    case 180:
      return flip_plane(in, plane_t<T>{out, in.width, in.height}, true, !mirror);
    // (x, y) goes to row x, column height-1-y; the mirror then reverses the columns.
    case 90:
      return transpose_plane(in, plane_t<T>{out, in.height, in.width}, false, !mirror);
    // (x, y) goes to row width-1-x, column y.
    case 270:
      return transpose_plane(in, plane_t<T>{out, in.height, in.width}, true, mirror);
  }
  throw exception(vantor_result_check_failed, "orientation: a rotation of " +
                                                  std::to_string(orientation.rotation) +
                                                  " degrees is not a quarter turn");
}

// Plane `index` of the picture's layout (see video::create_frame_data).
template <typename T, typename B>
plane_t<T> plane_of(B* base, size_t width, size_t height, video::frame_t::format_t format, int index) {
  size_t const pixels = width * height;
  switch (format) {
    case video::frame_t::format_t::nv12:
      if (index == 0) return {reinterpret_cast<T*>(base), width, height};
      return {reinterpret_cast<T*>(base + pixels), width / 2, height / 2};
    case video::frame_t::format_t::yuv420p:
      return {reinterpret_cast<T*>(base + (index == 0 ? 0 : pixels + (index - 1) * pixels / 4)),
              index == 0 ? width : width / 2, index == 0 ? height : height / 2};
    case video::frame_t::format_t::yuv420p10le:
      return {reinterpret_cast<T*>(base + 2 * (index == 0 ? 0 : pixels + (index - 1) * pixels / 4)),
              index == 0 ? width : width / 2, index == 0 ? height : height / 2};
  }
  video::invalid_frame_format(format);
}

template <typename T>
void orient_plane_at(const uint8_t* in, uint8_t* out, uint32_t width, uint32_t height,
                     video::frame_t::format_t format, int index, orientation_t orientation) {
  plane_t<const T> const plane = plane_of<const T>(in, width, height, format, index);
  // The upright picture has the same plane offsets: W*H and W*H*5/4 do not
  // change when W and H swap.
  size_t const offset = reinterpret_cast<const uint8_t*>(plane.data) - in;
  orient_plane(plane, reinterpret_cast<T*>(out + offset), orientation);
}

}  // namespace

std::string describe_orientation(orientation_t orientation) {
  if (orientation.rotation == 0)
    return orientation.mirror ? "mirroring pictures" : "keeping pictures";
  return "rotating pictures " + std::to_string(orientation.rotation) + " degrees clockwise" +
         (orientation.mirror ? " and mirroring" : "");
}

void orient_pixels(const std::vector<uint8_t>& in, uint32_t width, uint32_t height,
                   video::frame_t::format_t format, orientation_t orientation, std::vector<uint8_t>& out) {
  VANTOR_CHECK(in.size() == video::frame_data_size(width, height, format));
  if (width % 2 != 0 || height % 2 != 0) {
    throw exception(vantor_result_check_failed,
                    "orientation: cannot turn a " + std::to_string(width) + "x" +
                        std::to_string(height) +
                        " picture upright: 4:2:0 pictures of odd width or height have no chroma "
                        "for their last column or row");
  }
  out.resize(in.size());
  switch (format) {
    case video::frame_t::format_t::nv12:
      orient_plane_at<uint8_t>(in.data(), out.data(), width, height, format, 0, orientation);
      orient_plane_at<pair_t>(in.data(), out.data(), width, height, format, 1, orientation);
      return;
    case video::frame_t::format_t::yuv420p:
      for (int p = 0; p < 3; ++p)
        orient_plane_at<uint8_t>(in.data(), out.data(), width, height, format, p, orientation);
      return;
    case video::frame_t::format_t::yuv420p10le:
      for (int p = 0; p < 3; ++p)
        orient_plane_at<pair_t>(in.data(), out.data(), width, height, format, p, orientation);
      return;
  }
  video::invalid_frame_format(format);
}

orientation_stage_t::orientation_stage_t(log_context_t& log_context,
                                         std::unique_ptr<video::frame_source_t> input,
                                         orientation_t orientation)
    : input_(std::move(input)), orientation_(orientation) {
  VANTOR_CHECK(input_ != nullptr);
  if (log_context.level >= vantor_log_info) {
    log_context.log_at_level(vantor_log_info, "orientation: " + describe_orientation(orientation));
  }
}

video::frame_t orientation_stage_t::operator()() {
  video::frame_t frame = (*input_)();
  if (frame.is_end_of_stream() || orientation_.is_identity()) return frame;
  std::vector<uint8_t> pixels = std::move(frame.data_);
  // Every other field passes as it is, those added later included.
  video::frame_t out = frame;
  if (orientation_.swaps_axes()) std::swap(out.width_, out.height_);
  out.data_ = std::move(spare_);
  orient_pixels(pixels, frame.width_, frame.height_, frame.format_, orientation_, out.data_);
  spare_ = std::move(pixels);
  return out;
}

}  // namespace vantor::stages
