#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exception.hpp"

namespace vantor::video {

// One decoded picture. All planes lie back to back in `data_`, rows without
// gaps (see create_frame_data). An empty `data_` marks the end of a stream;
// its `pts_` is then the end time of the stream.
struct frame_t {
  enum class format_t : uint8_t {
    nv12 = 0,         // Y plane, then interleaved U,V at half resolution
    yuv420p = 1,      // Y, U, V planes; 8-bit; chroma at half resolution
    yuv420p10le = 2,  // as yuv420p, with 10-bit samples in 16-bit little-endian words
  };

  // Sample value range: limited (video levels, luma 16..235) or full (0..255).
  enum class range_t : uint8_t { limited = 0, full = 1 };
  // The YUV matrix the picture was made with. JPEG viewers assume BT.601.
  enum class matrix_t : uint8_t { bt601 = 0, bt709 = 1, bt2020 = 2 };

  uint32_t width_ = 0;
  uint32_t height_ = 0;
  format_t format_ = format_t::nv12;
  uint64_t pts_ = 0;        // in timescale_ units
  uint32_t timescale_ = 0;  // ticks per second; never 0 in a valid frame
  std::vector<uint8_t> data_;
  bool keyframe_ = false;
  range_t range_ = range_t::limited;
  matrix_t matrix_ = matrix_t::bt601;

  bool is_end_of_stream() const noexcept { return data_.empty(); }

  // Non-const on purpose: the host's checks are named after this signature.
  void sanity_check() { VANTOR_CHECK(timescale_ > 0 && "frame must have nonzero timescale"); }
};

// A colour as three samples; 8-bit formats use the low byte.
struct yuv_t {
  uint16_t y;
  uint16_t u;
  uint16_t v;
};

// Black at video levels for `format`.
yuv_t black_of(frame_t::format_t format);

// The byte size of a `width` x `height` picture in `format`. Throws 13 when
// the size does not fit in memory addresses or the format is unknown.
size_t frame_data_size(unsigned width, unsigned height, frame_t::format_t format);

// A pixel buffer for a `width` x `height` picture in `format`, every sample
// set to `colour`. Plane offsets (W = width, H = height):
//   nv12:        Y at 0 (W*H bytes), UV pairs at W*H (H/2 rows of W bytes)
//   yuv420p:     Y at 0, U at W*H, V at W*H*5/4 (H/2 rows of W/2 bytes each)
//   yuv420p10le: Y at 0 (2*W*H bytes), U at 2*W*H, V at 2*(W*H*5/4)
std::vector<uint8_t> create_frame_data(unsigned width, unsigned height, frame_t::format_t format,
                                       yuv_t colour);

// Throws 13, naming the value.
[[noreturn]] void invalid_frame_format(frame_t::format_t format);

std::string to_string(frame_t::format_t format);

// "1280x720 yuv420p pts=40/1000 key bytes=1382400"; `detailed` adds the
// plane offsets and the first bytes of each plane.
std::string to_string(const frame_t& frame, bool detailed);

// Pull interface of pictures. Every call returns one frame; after the end
// frame a source keeps returning end frames.
class frame_source_t {
 public:
  virtual ~frame_source_t();
  virtual frame_t operator()() = 0;
};

}  // namespace vantor::video
