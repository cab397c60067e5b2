#include "transcode/video_base.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <sstream>

namespace vantor::video {

frame_source_t::~frame_source_t() = default;

yuv_t black_of(frame_t::format_t format) {
  switch (format) {
    case frame_t::format_t::nv12:
    case frame_t::format_t::yuv420p: return {16, 128, 128};
    case frame_t::format_t::yuv420p10le: return {64, 512, 512};
  }
  invalid_frame_format(format);
}

namespace {

struct plane_layout_t {
  size_t luma;         // bytes of plane 0
  size_t chroma;       // bytes of plane 1 (and of plane 2 when there is one)
  bool two_chroma;
};

// All products are taken in 64 bits from 32-bit factors and checked, so a
// hostile width or height throws instead of wrapping.
plane_layout_t layout_of(unsigned width, unsigned height, frame_t::format_t format) {
  uint64_t const pixels = uint64_t{width} * height;  // < 2^64
  auto const checked_mul = [](uint64_t a, uint64_t b) {
    VANTOR_CHECK(a == 0 || b <= std::numeric_limits<uint64_t>::max() / a);
    return a * b;
  };
  switch (format) {
    case frame_t::format_t::nv12:
      return {static_cast<size_t>(pixels), size_t{height / 2} * width, false};
    case frame_t::format_t::yuv420p: {
      uint64_t const v_offset = checked_mul(pixels, 5) / 4;
      return {static_cast<size_t>(pixels), static_cast<size_t>(v_offset - pixels), true};
    }
    case frame_t::format_t::yuv420p10le: {
      uint64_t const luma = checked_mul(pixels, 2);
      uint64_t const v_offset = checked_mul(checked_mul(pixels, 5) / 4, 2);
      return {static_cast<size_t>(luma), static_cast<size_t>(v_offset - luma), true};
    }
  }
  invalid_frame_format(format);
}

// The last plane's exact rows: H/2 rows of its row length.
size_t last_plane_bytes(unsigned width, unsigned height, frame_t::format_t format) {
  switch (format) {
    case frame_t::format_t::nv12: return size_t{height / 2} * width;
    case frame_t::format_t::yuv420p: return size_t{height / 2} * (width / 2);
    case frame_t::format_t::yuv420p10le: return size_t{height / 2} * width;
  }
  invalid_frame_format(format);
}

// Fills [out, out + bytes) with the two-byte `pattern` repeated: a short
// seed, then doubling copies, so the whole fill runs at memcpy speed.
void fill_pattern(uint8_t* out, size_t bytes, uint8_t first, uint8_t second) {
  size_t const seed = std::min<size_t>(bytes, 64);
  for (size_t i = 0; i < seed; ++i) out[i] = (i % 2 == 0) ? first : second;
  for (size_t done = seed; done < bytes;) {
    size_t const chunk = std::min(done, bytes - done);
    std::memcpy(out + done, out, chunk);
    done += chunk;
  }
}

void fill_16bit(uint8_t* out, size_t bytes, uint16_t value) {
  fill_pattern(out, bytes & ~size_t{1}, static_cast<uint8_t>(value & 0xff),
               static_cast<uint8_t>(value >> 8));
}

}  // namespace

size_t frame_data_size(unsigned width, unsigned height, frame_t::format_t format) {
  plane_layout_t const layout = layout_of(width, height, format);
  size_t const last = last_plane_bytes(width, height, format);
  size_t size = layout.luma;
  if (layout.two_chroma) {
    size_t const before_v = layout.luma + layout.chroma;
    VANTOR_CHECK(before_v >= layout.luma && before_v + last >= before_v);
    size = before_v + last;
  } else {
    VANTOR_CHECK(size + last >= size);
    size += last;
  }
  return size;
}

std::vector<uint8_t> create_frame_data(unsigned width, unsigned height, frame_t::format_t format,
                                       yuv_t colour) {
  plane_layout_t const layout = layout_of(width, height, format);
  // 8-bit buffers start out in the luma value, so only chroma is written twice.
  uint8_t const initial = format == frame_t::format_t::yuv420p10le ? 0 : static_cast<uint8_t>(colour.y);
  std::vector<uint8_t> data(frame_data_size(width, height, format), initial);
  uint8_t* const base = data.data();
  switch (format) {
    case frame_t::format_t::nv12: {
      fill_pattern(base + layout.luma, (data.size() - layout.luma) & ~size_t{1},
                   static_cast<uint8_t>(colour.u), static_cast<uint8_t>(colour.v));
      break;
    }
    case frame_t::format_t::yuv420p:
      std::fill_n(base + layout.luma, layout.chroma, static_cast<uint8_t>(colour.u));
      std::fill(base + layout.luma + layout.chroma, base + data.size(),
                static_cast<uint8_t>(colour.v));
      break;
    case frame_t::format_t::yuv420p10le:
      fill_16bit(base, layout.luma, colour.y);
      fill_16bit(base + layout.luma, layout.chroma, colour.u);
      fill_16bit(base + layout.luma + layout.chroma, data.size() - layout.luma - layout.chroma,
                 colour.v);
      break;
  }
  return data;
}

void invalid_frame_format(frame_t::format_t format) {
  throw exception(vantor_result_check_failed,
                  "invalid frame format " + std::to_string(static_cast<unsigned>(format)));
}

std::string to_string(frame_t::format_t format) {
  switch (format) {
    case frame_t::format_t::nv12: return "nv12";
    case frame_t::format_t::yuv420p: return "yuv420p";
    case frame_t::format_t::yuv420p10le: return "yuv420p10le";
  }
  return "format(" + std::to_string(static_cast<unsigned>(format)) + ")";
}

std::string to_string(frame_t::transfer_t transfer) {
  switch (transfer) {
    case frame_t::transfer_t::unspecified: return "unspecified transfer";
    case frame_t::transfer_t::bt709: return "BT.709";
    case frame_t::transfer_t::srgb: return "sRGB";
    case frame_t::transfer_t::gamma22: return "gamma 2.2";
    case frame_t::transfer_t::gamma28: return "gamma 2.8";
    case frame_t::transfer_t::linear: return "linear";
    case frame_t::transfer_t::pq: return "PQ";
    case frame_t::transfer_t::hlg: return "HLG";
    case frame_t::transfer_t::other: return "other transfer";
  }
  return "transfer(" + std::to_string(static_cast<unsigned>(transfer)) + ")";
}

std::string to_string(frame_t::primaries_t primaries) {
  switch (primaries) {
    case frame_t::primaries_t::unspecified: return "unspecified primaries";
    case frame_t::primaries_t::bt709: return "BT.709";
    case frame_t::primaries_t::bt601_625: return "BT.601 (625 lines)";
    case frame_t::primaries_t::bt601_525: return "BT.601 (525 lines)";
    case frame_t::primaries_t::bt2020: return "BT.2020";
    case frame_t::primaries_t::p3: return "P3 (D65)";
    case frame_t::primaries_t::dci_p3: return "DCI-P3";
    case frame_t::primaries_t::other: return "other primaries";
  }
  return "primaries(" + std::to_string(static_cast<unsigned>(primaries)) + ")";
}

std::string to_string(const frame_t& frame, bool detailed) {
  std::ostringstream out;
  out << frame.width_ << "x" << frame.height_ << " " << to_string(frame.format_)
      << " pts=" << frame.pts_ << "/" << frame.timescale_ << (frame.keyframe_ ? " key" : "")
      << " bytes=" << frame.data_.size();
  if (frame.is_end_of_stream()) out << " (end of stream)";
  if (detailed && !frame.data_.empty()) {
    out << " first bytes=[";
    size_t const shown = std::min<size_t>(frame.data_.size(), 8);
    out << std::hex;
    for (size_t i = 0; i < shown; ++i) out << (i ? " " : "") << unsigned{frame.data_[i]};
    out << std::dec << "]";
  }
  return out.str();
}

}  // namespace vantor::video
