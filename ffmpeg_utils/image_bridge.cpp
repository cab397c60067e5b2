#include "ffmpeg_utils/image_bridge.hpp"

#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/mem.h>
}

#include "ffmpeg_utils/bridge_check.hpp"
#include "ffmpeg_utils/libav_error.hpp"

namespace vantor::video {

namespace {

// A pixel format that FFmpeg handed over and that has no frame_t format.
[[noreturn]] void throw_unexpected_pixel_format(int format) {
  throw exception(vantor_result_libav_failure,
                  "Unexpected AVPixelFormat " + std::to_string(format));
}

}  // namespace

AVPixelFormat to_avpixelformat(frame_t::format_t format) {
  switch (format) {
    case frame_t::format_t::nv12: return AV_PIX_FMT_NV12;
    case frame_t::format_t::yuv420p: return AV_PIX_FMT_YUV420P;
    case frame_t::format_t::yuv420p10le: return AV_PIX_FMT_YUV420P10LE;
  }
  invalid_frame_format(format);
}

frame_t::format_t to_frame_format(AVPixelFormat format) {
  switch (format) {
    case AV_PIX_FMT_NV12: return frame_t::format_t::nv12;
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P: return frame_t::format_t::yuv420p;
    case AV_PIX_FMT_YUV420P10LE: return frame_t::format_t::yuv420p10le;
    default: break;
  }
  throw_unexpected_pixel_format(static_cast<int>(format));
}

namespace {

// `rows` rows of `row_bytes` bytes; one move when both sides are gapless.
void copy_rows(uint8_t* dst, size_t dst_stride, const uint8_t* src, size_t src_stride,
               size_t row_bytes, size_t rows) {
  if (row_bytes == 0 || rows == 0) return;
  if (dst_stride == row_bytes && src_stride == row_bytes) {
    std::memcpy(dst, src, row_bytes * rows);
    return;
  }
  for (size_t r = 0; r < rows; ++r) {
    std::memcpy(dst, src, row_bytes);
    dst += dst_stride;
    src += src_stride;
  }
}

// One plane of an output frame, appended row by row: rows outside the
// picture are black, rows inside carry the picture between black margins.
struct placed_plane_t {
  size_t row_bytes;      // of the output plane, which has no gaps
  size_t rows;           // of the output plane
  const uint8_t* black;  // one black row of the plane
  size_t first_row;      // of the picture
  size_t picture_rows;
  size_t x_bytes;        // where the picture starts in its rows
  const uint8_t* src;    // the picture's first row
  size_t src_stride;
  size_t src_row_bytes;
};

void append_plane(std::vector<uint8_t>& data, const placed_plane_t& plane) {
  const uint8_t* src = plane.src;
  for (size_t r = 0; r < plane.rows; ++r) {
    if (r < plane.first_row || r - plane.first_row >= plane.picture_rows) {
      data.insert(data.end(), plane.black, plane.black + plane.row_bytes);
      continue;
    }
    size_t const picture_end = plane.x_bytes + plane.src_row_bytes;
    data.insert(data.end(), plane.black, plane.black + plane.x_bytes);
    data.insert(data.end(), src, src + plane.src_row_bytes);
    data.insert(data.end(), plane.black + picture_end, plane.black + plane.row_bytes);
    src += plane.src_stride;
  }
}

// One routine of frame_to_avimage: the function text its checks name, and
// the planes it copies one after another, each plane's rows being
// W * half_widths / 2 bytes long and H >> height_shift in number.
struct avimage_routine_t {
  check_site_t site;
  size_t plane_count;
  struct {
    size_t half_widths;
    unsigned height_shift;
  } planes[3];
};

constexpr avimage_routine_t nv12_routine = {
    detail::bridge_site("void vantor::video::{anonymous}::frame_to_avimage_nv12("
                        "const vantor::video::frame_t&, uint8_t**, int*)"),
    2, {{2, 0}, {2, 1}}};
constexpr avimage_routine_t yuv420p_routine = {
    detail::bridge_site("void vantor::video::{anonymous}::frame_to_avimage_yuv420p("
                        "const vantor::video::frame_t&, uint8_t**, int*)"),
    3, {{2, 0}, {1, 1}, {1, 1}}};
constexpr avimage_routine_t yuv420p10le_routine = {
    detail::bridge_site("void vantor::video::{anonymous}::frame_to_avimage_yuv420p10le("
                        "const vantor::video::frame_t&, uint8_t**, int*)"),
    3, {{4, 0}, {2, 1}, {2, 1}}};

// The frame's planes into FFmpeg planes, row by row, each plane checked just
// before it is copied: a plane that does not fit leaves the earlier ones
// written. The source cursor runs on from plane to plane.
void copy_planes_to_avimage(const frame_t& frame, uint8_t** planes, int* strides,
                            const avimage_routine_t& routine) {
  const uint8_t* src = frame.data_.data();
  for (size_t p = 0; p < routine.plane_count; ++p) {
    size_t const src_stride = size_t{frame.width_} * routine.planes[p].half_widths / 2;
    size_t const rows = size_t{frame.height_} >> routine.planes[p].height_shift;
    int const dst_stride = strides[p];
    VANTOR_CHECK_AT(dst_stride > 0 && src_stride <= static_cast<uint32_t>(dst_stride),
                    routine.site);
    copy_rows(planes[p], static_cast<size_t>(dst_stride), src, src_stride, src_stride, rows);
    src += src_stride * rows;
  }
}

void frame_to_avimage_nv12(const frame_t& frame, uint8_t** planes, int* strides) {
  copy_planes_to_avimage(frame, planes, strides, nv12_routine);
}

void frame_to_avimage_yuv420p(const frame_t& frame, uint8_t** planes, int* strides) {
  copy_planes_to_avimage(frame, planes, strides, yuv420p_routine);
}

void frame_to_avimage_yuv420p10le(const frame_t& frame, uint8_t** planes, int* strides) {
  copy_planes_to_avimage(frame, planes, strides, yuv420p10le_routine);
}

}  // namespace

constexpr check_site_t frame_to_avimage_site = detail::bridge_site(
    "void vantor::video::frame_to_avimage(const vantor::video::frame_t&, uint8_t**, int*)");

void frame_to_avimage(const frame_t& frame, uint8_t** planes, int* strides) {
  // An upstream source may hand over a frame whose buffer is shorter than
  // its sizes claim; the row copies below trust the sizes.
  VANTOR_CHECK_AT(frame.data_.size() >= frame_data_size(frame.width_, frame.height_, frame.format_),
                  frame_to_avimage_site);
  switch (frame.format_) {
    case frame_t::format_t::nv12: frame_to_avimage_nv12(frame, planes, strides); return;
    case frame_t::format_t::yuv420p: frame_to_avimage_yuv420p(frame, planes, strides); return;
    case frame_t::format_t::yuv420p10le:
      frame_to_avimage_yuv420p10le(frame, planes, strides);
      return;
  }
  invalid_frame_format(frame.format_);
}

bool frame_planes_in_place(const frame_t& frame, const uint8_t* planes[4], int strides[4]) {
  size_t const w = frame.width_;
  size_t const h = frame.height_;
  if (w == 0 || h == 0 || w % 2 != 0 || h % 2 != 0 || w > std::numeric_limits<int>::max() / 2)
    return false;
  if (frame.data_.size() < frame_data_size(frame.width_, frame.height_, frame.format_))
    return false;
  const uint8_t* const base = frame.data_.data();
  planes[3] = nullptr;
  strides[3] = 0;
  switch (frame.format_) {
    case frame_t::format_t::nv12:
      planes[0] = base;
      planes[1] = base + w * h;
      planes[2] = nullptr;
      strides[0] = strides[1] = static_cast<int>(w);
      strides[2] = 0;
      return true;
    case frame_t::format_t::yuv420p:
      planes[0] = base;
      planes[1] = base + w * h;
      planes[2] = base + w * h * 5 / 4;
      strides[0] = static_cast<int>(w);
      strides[1] = strides[2] = static_cast<int>(w / 2);
      return true;
    case frame_t::format_t::yuv420p10le:
      planes[0] = base;
      planes[1] = base + 2 * w * h;
      planes[2] = base + 2 * (w * h * 5 / 4);
      strides[0] = static_cast<int>(2 * w);
      strides[1] = strides[2] = static_cast<int>(w);
      return true;
  }
  return false;
}

constexpr check_site_t avimage_to_frame_site = detail::bridge_site(
    "vantor::video::frame_t vantor::video::avimage_to_frame(const uint8_t* const*, const int*, "
    "uint32_t, uint32_t, vantor::video::frame_t::format_t, uint32_t, uint32_t, uint32_t, "
    "uint32_t, uint64_t, uint32_t, bool)");

frame_t avimage_to_frame(const uint8_t* const* planes, const int* strides, uint32_t width_arg,
                         uint32_t height_arg, frame_t::format_t format, uint32_t crop_x_arg,
                         uint32_t crop_y_arg, uint32_t crop_w_arg, uint32_t crop_h_arg,
                         uint64_t pts, uint32_t timescale, bool keyframe) {
  return avimage_to_frame(planes, strides, width_arg, height_arg, format, crop_x_arg,
                          crop_y_arg, crop_w_arg, crop_h_arg, pts, timescale, keyframe,
                          frame_t::range_t::limited, frame_t::matrix_t::bt601);
}

frame_t avimage_to_frame(const uint8_t* const* planes, const int* strides, uint32_t width_arg,
                         uint32_t height_arg, frame_t::format_t format, uint32_t crop_x_arg,
                         uint32_t crop_y_arg, uint32_t crop_w_arg, uint32_t crop_h_arg,
                         uint64_t pts, uint32_t timescale, bool keyframe,
                         frame_t::range_t range, frame_t::matrix_t matrix) {
  frame_t::colour_t colour;
  colour.range = range;
  colour.matrix = matrix;
  return avimage_to_frame(planes, strides, width_arg, height_arg, format, crop_x_arg, crop_y_arg,
                          crop_w_arg, crop_h_arg, pts, timescale, keyframe, colour);
}

frame_t avimage_to_frame(const uint8_t* const* planes, const int* strides, uint32_t width_arg,
                         uint32_t height_arg, frame_t::format_t format, uint32_t crop_x_arg,
                         uint32_t crop_y_arg, uint32_t crop_w_arg, uint32_t crop_h_arg,
                         uint64_t pts, uint32_t timescale, bool keyframe,
                         const frame_t::colour_t& colour) {
  // Widened once, so that every check below means what it says (no 32-bit
  // wrap-around) and every offset is computed in size_t.
  size_t const width = width_arg;
  size_t const height = height_arg;
  size_t const dst_crop_x = crop_x_arg;
  size_t const dst_crop_y = crop_y_arg;
  size_t dst_crop_w = crop_w_arg;
  size_t dst_crop_h = crop_h_arg;
  check_site_t const& site = avimage_to_frame_site;

  VANTOR_CHECK_AT(width > 0, site);
  VANTOR_CHECK_AT(height > 0, site);
  VANTOR_CHECK_AT(width % 2 == 0, site);
  VANTOR_CHECK_AT(height % 2 == 0, site);
  VANTOR_CHECK_AT(dst_crop_x < width, site);
  VANTOR_CHECK_AT(dst_crop_y < height, site);
  if (dst_crop_w == 0) {
    dst_crop_w = width - dst_crop_x;
  } else {
    VANTOR_CHECK_AT(dst_crop_x + dst_crop_w <= width, site);
  }
  if (dst_crop_h == 0) {
    dst_crop_h = height - dst_crop_y;
  } else {
    VANTOR_CHECK_AT(dst_crop_y + dst_crop_h <= height, site);
  }

  bool const three_planes = format != frame_t::format_t::nv12;
  VANTOR_CHECK_AT(strides[0] > 0, site);
  VANTOR_CHECK_AT(strides[1] > 0, site);
  if (three_planes) VANTOR_CHECK_AT(strides[2] > 0, site);
  VANTOR_CHECK_AT(static_cast<uint32_t>(strides[0]) >= dst_crop_w, site);
  VANTOR_CHECK_AT(static_cast<uint32_t>(strides[1]) >= dst_crop_w / 2, site);
  if (three_planes) VANTOR_CHECK_AT(static_cast<uint32_t>(strides[2]) >= dst_crop_w / 2, site);

  bool const ten_bit = format == frame_t::format_t::yuv420p10le;
  if (format != frame_t::format_t::nv12 && format != frame_t::format_t::yuv420p && !ten_bit) {
    invalid_frame_format(format);
  }

  // The checks above cover 8-bit planar rows only: NV12 chroma rows and all
  // 10-bit rows copy more bytes than they test.
  size_t const luma_row_bytes = ten_bit ? 2 * dst_crop_w : dst_crop_w;
  size_t const chroma_row_bytes =
      format == frame_t::format_t::yuv420p ? dst_crop_w / 2 : dst_crop_w & ~size_t{1};
  VANTOR_CHECK_AT(static_cast<size_t>(strides[0]) >= luma_row_bytes, site);
  VANTOR_CHECK_AT(static_cast<size_t>(strides[1]) >= chroma_row_bytes, site);
  if (three_planes) VANTOR_CHECK_AT(static_cast<size_t>(strides[2]) >= chroma_row_bytes, site);

  // The frame is built in one pass, every byte written once: black comes
  // from a two-row black frame of the same width and format, whose first
  // rows hold one black row of each plane.
  yuv_t black_colour = black_of(format);
  if (colour.range == frame_t::range_t::full) black_colour.y = 0;
  std::vector<uint8_t> const black = create_frame_data(width_arg, 2, format, black_colour);
  size_t const chroma_rows = dst_crop_h / 2;
  size_t const chroma_row0 = dst_crop_y / 2;
  auto const stride = [strides](int plane) { return static_cast<size_t>(strides[plane]); };
  // The black row of the plane that starts at `offset_in_two_rows` there.
  auto const black_row = [&black](size_t offset_in_two_rows) {
    return black.data() + offset_in_two_rows;
  };

  placed_plane_t placed[3];
  int plane_count = 3;
  switch (format) {
    case frame_t::format_t::yuv420p: {
      size_t const chroma_width = width / 2;
      placed[0] = {width, height, black_row(0), dst_crop_y, dst_crop_h, dst_crop_x,
                   planes[0], stride(0), luma_row_bytes};
      for (int p = 1; p < 3; ++p) {
        placed[p] = {chroma_width, height / 2, black_row(p == 1 ? 2 * width : 5 * width / 2),
                     chroma_row0, chroma_rows, dst_crop_x / 2, planes[p], stride(p),
                     chroma_row_bytes};
      }
      break;
    }
    case frame_t::format_t::nv12:
      plane_count = 2;
      placed[0] = {width, height, black_row(0), dst_crop_y, dst_crop_h, dst_crop_x,
                   planes[0], stride(0), luma_row_bytes};
      placed[1] = {width, height / 2, black_row(2 * width), chroma_row0, chroma_rows,
                   dst_crop_x & ~size_t{1}, planes[1], stride(1), chroma_row_bytes};
      break;
    case frame_t::format_t::yuv420p10le:
      placed[0] = {2 * width, height, black_row(0), dst_crop_y, dst_crop_h, 2 * dst_crop_x,
                   planes[0], stride(0), luma_row_bytes};
      for (int p = 1; p < 3; ++p) {
        // Chroma rows are width/2 samples of two bytes; x in whole samples.
        placed[p] = {width, height / 2, black_row(p == 1 ? 4 * width : 5 * width),
                     chroma_row0, chroma_rows, dst_crop_x & ~size_t{1}, planes[p], stride(p),
                     chroma_row_bytes};
      }
      break;
  }
  std::vector<uint8_t> data;
  data.reserve(frame_data_size(width_arg, height_arg, format));
  for (int p = 0; p < plane_count; ++p) append_plane(data, placed[p]);

  frame_t frame;
  frame.width_ = width_arg;
  frame.height_ = height_arg;
  frame.format_ = format;
  frame.pts_ = pts;
  frame.timescale_ = timescale;
  frame.data_ = std::move(data);
  frame.keyframe_ = keyframe;
  frame.set_colour(colour);
  frame.sanity_check();
  return frame;
}

constexpr check_site_t avframe_to_frame_site =
    detail::bridge_site("vantor::video::frame_t vantor::video::avframe_to_frame(const "
                        "vantor::video::wrap_avframe_t&, uint64_t, uint32_t)");

frame_t::range_t range_of(const AVFrame& frame) {
  return frame.color_range == AVCOL_RANGE_JPEG || frame.format == AV_PIX_FMT_YUVJ420P
             ? frame_t::range_t::full
             : frame_t::range_t::limited;
}

frame_t::matrix_t matrix_of(const AVFrame& frame) {
  switch (frame.colorspace) {
    case AVCOL_SPC_BT709: return frame_t::matrix_t::bt709;
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_BT470BG: return frame_t::matrix_t::bt601;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return frame_t::matrix_t::bt2020;
    default: break;
  }
  return frame.height >= 720 ? frame_t::matrix_t::bt709 : frame_t::matrix_t::bt601;
}

frame_t::transfer_t transfer_of(const AVFrame& frame) {
  switch (frame.color_trc) {
    case AVCOL_TRC_UNSPECIFIED: return frame_t::transfer_t::unspecified;
    case AVCOL_TRC_BT709:
    case AVCOL_TRC_SMPTE170M:
    case AVCOL_TRC_BT2020_10:
    case AVCOL_TRC_BT2020_12: return frame_t::transfer_t::bt709;
    case AVCOL_TRC_IEC61966_2_1: return frame_t::transfer_t::srgb;
    case AVCOL_TRC_GAMMA22: return frame_t::transfer_t::gamma22;
    case AVCOL_TRC_GAMMA28: return frame_t::transfer_t::gamma28;
    case AVCOL_TRC_LINEAR: return frame_t::transfer_t::linear;
    case AVCOL_TRC_SMPTE2084: return frame_t::transfer_t::pq;
    case AVCOL_TRC_ARIB_STD_B67: return frame_t::transfer_t::hlg;
    default: break;
  }
  return frame_t::transfer_t::other;
}

frame_t::primaries_t primaries_of(const AVFrame& frame) {
  switch (frame.color_primaries) {
    case AVCOL_PRI_UNSPECIFIED: return frame_t::primaries_t::unspecified;
    case AVCOL_PRI_BT709: return frame_t::primaries_t::bt709;
    case AVCOL_PRI_BT470BG: return frame_t::primaries_t::bt601_625;
    case AVCOL_PRI_SMPTE170M:
    case AVCOL_PRI_SMPTE240M: return frame_t::primaries_t::bt601_525;
    case AVCOL_PRI_BT2020: return frame_t::primaries_t::bt2020;
    case AVCOL_PRI_SMPTE432: return frame_t::primaries_t::p3;
    case AVCOL_PRI_SMPTE431: return frame_t::primaries_t::dci_p3;
    default: break;
  }
  return frame_t::primaries_t::other;
}

frame_t::hdr_metadata_t hdr_metadata_of(const AVFrame& frame) {
  frame_t::hdr_metadata_t hdr;
  // A value libav marks as unknown, or one that is not a number, stays 0.
  auto const nits = [](AVRational value) {
    return value.num > 0 && value.den > 0 ? av_q2d(value) : 0.0;
  };
  if (const AVFrameSideData* side = av_frame_get_side_data(&frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA);
      side != nullptr && side->size >= sizeof(AVMasteringDisplayMetadata)) {
    auto const* mastering = reinterpret_cast<const AVMasteringDisplayMetadata*>(side->data);
    if (mastering->has_luminance) {
      hdr.mastering_max_nits = nits(mastering->max_luminance);
      hdr.mastering_min_nits = nits(mastering->min_luminance);
    }
  }
  if (const AVFrameSideData* side = av_frame_get_side_data(&frame, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL);
      side != nullptr && side->size >= sizeof(AVContentLightMetadata)) {
    auto const* light = reinterpret_cast<const AVContentLightMetadata*>(side->data);
    hdr.max_cll = light->MaxCLL;
    hdr.max_fall = light->MaxFALL;
  }
  return hdr;
}

frame_t avframe_to_frame(const wrap_avframe_t& frame, uint64_t pts, uint32_t timescale) {
  AVFrame const& av = *frame;
  // Only values of the enumeration become an AVPixelFormat.
  if (av.format < AV_PIX_FMT_NONE || av.format >= AV_PIX_FMT_NB) {
    throw_unexpected_pixel_format(av.format);
  }
  frame_t::format_t const format = to_frame_format(static_cast<AVPixelFormat>(av.format));
  VANTOR_CHECK_AT(av.width >= 0 && av.height >= 0, avframe_to_frame_site);
  frame_t::colour_t const colour{range_of(av), matrix_of(av), transfer_of(av), primaries_of(av),
                                 hdr_metadata_of(av)};
  return avimage_to_frame(av.data, av.linesize, static_cast<uint32_t>(av.width),
                          static_cast<uint32_t>(av.height), format, 0, 0, 0, 0, pts, timescale,
                          (av.flags & AV_FRAME_FLAG_KEY) != 0, colour);
}

wrap_avimage_t::wrap_avimage_t(uint32_t width, uint32_t height, AVPixelFormat format)
    : planes{}, strides{} {
  int const result = av_image_alloc(planes, strides, static_cast<int>(width),
                                    static_cast<int>(height), format, 16);
  if (result < 0) {
    throw_libav_failure("avimage", "libavutil failed to allocate an image", result);
  }
}

wrap_avimage_t::~wrap_avimage_t() { av_freep(&planes[0]); }

}  // namespace vantor::video
