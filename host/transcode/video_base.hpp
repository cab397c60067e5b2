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
  // How the picture's R'G'B' values become light. Only PQ and HLG are HDR;
  // every other transfer is shown as SDR.
  enum class transfer_t : uint8_t {
    unspecified = 0,
    bt709 = 1,      // also BT.601 (SMPTE 170M) and BT.2020 at 10 and 12 bits: one curve
    srgb = 2,       // IEC 61966-2-1
    gamma22 = 3,    // BT.470 M
    gamma28 = 4,    // BT.470 B/G
    linear = 5,
    pq = 6,         // SMPTE ST 2084, BT.2100
    hlg = 7,        // ARIB STD-B67, BT.2100
    other = 8,
  };
  // The RGB primaries (and white point) the picture's colours refer to.
  enum class primaries_t : uint8_t {
    unspecified = 0,
    bt709 = 1,
    bt601_625 = 2,  // BT.470 B/G, EBU 3213
    bt601_525 = 3,  // SMPTE 170M and 240M
    bt2020 = 4,
    p3 = 5,         // SMPTE EG 432-1: the P3 primaries with the D65 white of phones and HDR masters
    dci_p3 = 6,     // SMPTE RP 431-2: the P3 primaries with the DCI white of cinema
    other = 7,
  };
  // The static metadata of HDR video; 0 wherever the stream gives none.
  struct hdr_metadata_t {
    double mastering_max_nits = 0;  // the mastering display's peak luminance
    double mastering_min_nits = 0;  // and its black
    uint32_t max_cll = 0;           // content light level: the brightest pixel, in nits
    uint32_t max_fall = 0;          // the brightest picture's average, in nits
  };
  // Everything that says how the picture's samples become colours; the
  // stages that make new pictures from old ones carry it over whole.
  struct colour_t {
    range_t range = range_t::limited;
    matrix_t matrix = matrix_t::bt601;
    transfer_t transfer = transfer_t::unspecified;
    primaries_t primaries = primaries_t::unspecified;
    hdr_metadata_t hdr;
  };

  uint32_t width_ = 0;
  uint32_t height_ = 0;
  format_t format_ = format_t::nv12;
  uint64_t pts_ = 0;        // in timescale_ units
  uint32_t timescale_ = 0;  // ticks per second; never 0 in a valid frame
  std::vector<uint8_t> data_;
  bool keyframe_ = false;
  range_t range_ = range_t::limited;
  matrix_t matrix_ = matrix_t::bt601;
  transfer_t transfer_ = transfer_t::unspecified;
  primaries_t primaries_ = primaries_t::unspecified;
  hdr_metadata_t hdr_;

  bool is_end_of_stream() const noexcept { return data_.empty(); }
  bool is_hdr() const noexcept { return transfer_ == transfer_t::pq || transfer_ == transfer_t::hlg; }

  colour_t colour() const { return {range_, matrix_, transfer_, primaries_, hdr_}; }
  void set_colour(const colour_t& colour) {
    range_ = colour.range;
    matrix_ = colour.matrix;
    transfer_ = colour.transfer;
    primaries_ = colour.primaries;
    hdr_ = colour.hdr;
  }

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
// "PQ", "HLG", "BT.709", ...; "BT.2020", "P3 (D65)", ... as a log names them.
std::string to_string(frame_t::transfer_t transfer);
std::string to_string(frame_t::primaries_t primaries);

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
