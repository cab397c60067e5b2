#include "transcode/orientation_stage.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantor::video {

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

// Rows are copied whole or reversed; `reverse_rows` takes them bottom up.
template <typename T>
void flip_plane(const plane_t<const T>& in, const plane_t<T>& out, bool reverse_rows,
                bool reverse_columns) {
  for (size_t y = 0; y < in.height; ++y) {
    const T* src = in.data + y * in.width;
    T* dst = out.data + (reverse_rows ? in.height - 1 - y : y) * in.width;
    if (reverse_columns) {
      std::reverse_copy(src, src + in.width, dst);
    } else {
      std::memcpy(dst, src, in.width * sizeof(T));
    }
  }
}

// The transposing turns move sample (x, y) to output row x (or width-1-x
// when `reverse_rows`) and column y (or height-1-y when `reverse_columns`).
// Tiles of 8 x 8 keep both the reads and the writes within a few cache
// lines; one tile is 8 input rows read in an order, and 8 output rows
// written in an order, so both reversals are a choice of row pointers.
template <typename T>
void transpose_tile_scalar(const T* const rows_in[8], T* const rows_out[8], size_t columns,
                           size_t rows) {
  for (size_t r = 0; r < rows; ++r) {
    for (size_t c = 0; c < columns; ++c) rows_out[c][r] = rows_in[r][c];
  }
}

#if defined(__SSE2__)
inline __m128i load64(const void* p) { return _mm_loadl_epi64(static_cast<const __m128i*>(p)); }

void transpose_tile(const uint8_t* const in[8], uint8_t* const out[8]) {
  __m128i const a = _mm_unpacklo_epi8(load64(in[0]), load64(in[1]));
  __m128i const b = _mm_unpacklo_epi8(load64(in[2]), load64(in[3]));
  __m128i const c = _mm_unpacklo_epi8(load64(in[4]), load64(in[5]));
  __m128i const d = _mm_unpacklo_epi8(load64(in[6]), load64(in[7]));
  __m128i const ab_lo = _mm_unpacklo_epi16(a, b), ab_hi = _mm_unpackhi_epi16(a, b);
  __m128i const cd_lo = _mm_unpacklo_epi16(c, d), cd_hi = _mm_unpackhi_epi16(c, d);
  __m128i const r01 = _mm_unpacklo_epi32(ab_lo, cd_lo), r23 = _mm_unpackhi_epi32(ab_lo, cd_lo);
  __m128i const r45 = _mm_unpacklo_epi32(ab_hi, cd_hi), r67 = _mm_unpackhi_epi32(ab_hi, cd_hi);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out[0]), r01);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out[1]), _mm_srli_si128(r01, 8));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out[2]), r23);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out[3]), _mm_srli_si128(r23, 8));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out[4]), r45);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out[5]), _mm_srli_si128(r45, 8));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out[6]), r67);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out[7]), _mm_srli_si128(r67, 8));
}

inline __m128i load128(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void store128(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

void transpose_tile(const pair_t* const in[8], pair_t* const out[8]) {
  __m128i const a = _mm_unpacklo_epi16(load128(in[0]), load128(in[1]));
  __m128i const b = _mm_unpackhi_epi16(load128(in[0]), load128(in[1]));
  __m128i const c = _mm_unpacklo_epi16(load128(in[2]), load128(in[3]));
  __m128i const d = _mm_unpackhi_epi16(load128(in[2]), load128(in[3]));
  __m128i const e = _mm_unpacklo_epi16(load128(in[4]), load128(in[5]));
  __m128i const f = _mm_unpackhi_epi16(load128(in[4]), load128(in[5]));
  __m128i const g = _mm_unpacklo_epi16(load128(in[6]), load128(in[7]));
  __m128i const h = _mm_unpackhi_epi16(load128(in[6]), load128(in[7]));
  // a: columns 0-3 of rows 0,1 interleaved; c, e, g the same of rows 2-7.
  __m128i const ac_lo = _mm_unpacklo_epi32(a, c), ac_hi = _mm_unpackhi_epi32(a, c);
  __m128i const eg_lo = _mm_unpacklo_epi32(e, g), eg_hi = _mm_unpackhi_epi32(e, g);
  __m128i const bd_lo = _mm_unpacklo_epi32(b, d), bd_hi = _mm_unpackhi_epi32(b, d);
  __m128i const fh_lo = _mm_unpacklo_epi32(f, h), fh_hi = _mm_unpackhi_epi32(f, h);
  store128(out[0], _mm_unpacklo_epi64(ac_lo, eg_lo));
  store128(out[1], _mm_unpackhi_epi64(ac_lo, eg_lo));
  store128(out[2], _mm_unpacklo_epi64(ac_hi, eg_hi));
  store128(out[3], _mm_unpackhi_epi64(ac_hi, eg_hi));
  store128(out[4], _mm_unpacklo_epi64(bd_lo, fh_lo));
  store128(out[5], _mm_unpackhi_epi64(bd_lo, fh_lo));
  store128(out[6], _mm_unpacklo_epi64(bd_hi, fh_hi));
  store128(out[7], _mm_unpackhi_epi64(bd_hi, fh_hi));
}
#else
template <typename T>
void transpose_tile(const T* const in[8], T* const out[8]) {
  transpose_tile_scalar(in, out, 8, 8);
}
#endif

template <typename T>
void transpose_plane(const plane_t<const T>& in, const plane_t<T>& out, bool reverse_rows,
                     bool reverse_columns) {
  size_t const width = in.width;    // output rows
  size_t const height = in.height;  // output columns
  const T* rows_in[8];
  T* rows_out[8];
  for (size_t y0 = 0; y0 < height; y0 += 8) {
    size_t const rows = std::min<size_t>(8, height - y0);
    for (size_t x0 = 0; x0 < width; x0 += 8) {
      size_t const columns = std::min<size_t>(8, width - x0);
      for (size_t r = 0; r < rows; ++r) {
        // Reversed columns are filled from the right: the tile's input rows
        // are read bottom up so that its output rows run left to right.
        size_t const slot = reverse_columns ? rows - 1 - r : r;
        rows_in[slot] = in.data + (y0 + r) * width + x0;
      }
      size_t const first_out_column = reverse_columns ? height - y0 - rows : y0;
      for (size_t c = 0; c < columns; ++c) {
        size_t const out_row = reverse_rows ? width - 1 - (x0 + c) : x0 + c;
        rows_out[c] = out.data + out_row * height + first_out_column;
      }
      if (rows == 8 && columns == 8) {
        transpose_tile(rows_in, rows_out);
      } else {
        transpose_tile_scalar(rows_in, rows_out, columns, rows);
      }
    }
  }
}

template <typename T>
void orient_plane(const plane_t<const T>& in, T* out, orientation_t orientation) {
  bool const mirror = orientation.mirror;
  switch (orientation.rotation) {
    case 0: return flip_plane(in, plane_t<T>{out, in.width, in.height}, false, mirror);
    case 180: return flip_plane(in, plane_t<T>{out, in.width, in.height}, true, !mirror);
    // (x, y) goes to row x, column height-1-y; the mirror then reverses the columns.
    case 90: return transpose_plane(in, plane_t<T>{out, in.height, in.width}, false, !mirror);
    // (x, y) goes to row width-1-x, column y.
    case 270: return transpose_plane(in, plane_t<T>{out, in.height, in.width}, true, mirror);
  }
  throw exception(vantor_result_check_failed,
                  "orientation: a rotation of " + std::to_string(orientation.rotation) +
                      " degrees is not a quarter turn");
}

// Plane `index` of the picture's layout (see create_frame_data).
template <typename T, typename B>
plane_t<T> plane_of(B* base, size_t width, size_t height, frame_t::format_t format, int index) {
  size_t const pixels = width * height;
  switch (format) {
    case frame_t::format_t::nv12:
      if (index == 0) return {reinterpret_cast<T*>(base), width, height};
      return {reinterpret_cast<T*>(base + pixels), width / 2, height / 2};
    case frame_t::format_t::yuv420p:
      return {reinterpret_cast<T*>(base + (index == 0 ? 0 : pixels + (index - 1) * pixels / 4)),
              index == 0 ? width : width / 2, index == 0 ? height : height / 2};
    case frame_t::format_t::yuv420p10le:
      return {reinterpret_cast<T*>(base + 2 * (index == 0 ? 0 : pixels + (index - 1) * pixels / 4)),
              index == 0 ? width : width / 2, index == 0 ? height : height / 2};
  }
  invalid_frame_format(format);
}

template <typename T>
void orient_plane_at(const uint8_t* in, uint8_t* out, uint32_t width, uint32_t height,
                     frame_t::format_t format, int index, orientation_t orientation) {
  plane_t<const T> const plane = plane_of<const T>(in, width, height, format, index);
  // The upright picture has the same plane offsets: W*H and W*H*5/4 do not
  // change when W and H swap.
  size_t const offset = reinterpret_cast<const uint8_t*>(plane.data) - in;
  orient_plane(plane, reinterpret_cast<T*>(out + offset), orientation);
}

}  // namespace

std::string describe_orientation(orientation_t orientation) {
  if (orientation.rotation == 0) return orientation.mirror ? "mirroring pictures" : "keeping pictures";
  return "rotating pictures " + std::to_string(orientation.rotation) + " degrees clockwise" +
         (orientation.mirror ? " and mirroring" : "");
}

void orient_pixels(const std::vector<uint8_t>& in, uint32_t width, uint32_t height,
                   frame_t::format_t format, orientation_t orientation,
                   std::vector<uint8_t>& out) {
  VANTOR_CHECK(in.size() == frame_data_size(width, height, format));
  if (width % 2 != 0 || height % 2 != 0) {
    throw exception(vantor_result_check_failed,
                    "orientation: cannot turn a " + std::to_string(width) + "x" +
                        std::to_string(height) +
                        " picture upright: 4:2:0 pictures of odd width or height have no chroma "
                        "for their last column or row");
  }
  out.resize(in.size());
  switch (format) {
    case frame_t::format_t::nv12:
      orient_plane_at<uint8_t>(in.data(), out.data(), width, height, format, 0, orientation);
      orient_plane_at<pair_t>(in.data(), out.data(), width, height, format, 1, orientation);
      return;
    case frame_t::format_t::yuv420p:
      for (int p = 0; p < 3; ++p)
        orient_plane_at<uint8_t>(in.data(), out.data(), width, height, format, p, orientation);
      return;
    case frame_t::format_t::yuv420p10le:
      for (int p = 0; p < 3; ++p)
        orient_plane_at<pair_t>(in.data(), out.data(), width, height, format, p, orientation);
      return;
  }
  invalid_frame_format(format);
}

orientation_stage_t::orientation_stage_t(log_context_t& log_context,
                                         std::unique_ptr<frame_source_t> input,
                                         orientation_t orientation)
    : input_(std::move(input)), orientation_(orientation) {
  VANTOR_CHECK(input_ != nullptr);
  if (log_context.level >= vantor_log_info) {
    log_context.log_at_level(vantor_log_info, "orientation: " + describe_orientation(orientation));
  }
}

frame_t orientation_stage_t::operator()() {
  frame_t frame = (*input_)();
  if (frame.is_end_of_stream() || orientation_.is_identity()) return frame;
  std::vector<uint8_t> pixels = std::move(frame.data_);
  // Every other field passes as it is, those added later included.
  frame_t out = frame;
  if (orientation_.swaps_axes()) std::swap(out.width_, out.height_);
  out.data_ = std::move(spare_);
  orient_pixels(pixels, frame.width_, frame.height_, frame.format_, orientation_, out.data_);
  spare_ = std::move(pixels);
  return out;
}

}  // namespace vantor::video
