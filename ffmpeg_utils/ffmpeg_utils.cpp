#include "ffmpeg_utils/ffmpeg_utils.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>
#include <utility>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
}

#include "exception.hpp"
#include "ffmpeg_utils/pixel_format_names.hpp"
#include "pellix/hexdump.hpp"
#include "vstringprintf.hpp"

namespace vantor::video {

namespace {

[[noreturn]] void throw_libav_failure(std::string message) {
  throw exception(vantor_result_libav_failure, message);
}

}  // namespace

// ---------------------------------------------------------------------------
// Errors and the log bridge

std::string averror_to_string(int errnum) {
  char buffer[64];
  if (av_strerror(errnum, buffer, sizeof buffer) >= 0) return std::string(buffer);
  // av_strerror may leave a partial text behind; it is not ours to show.
  return "Unknown ffmpeg error " + std::to_string(errnum);
}

namespace {

// Only the low byte is FFmpeg's level; the bits above it are flags.
vantor_log_level_t map_av_log_level(int level) {
  switch (static_cast<unsigned>(level) & 0xffu) {
    case AV_LOG_PANIC:
    case AV_LOG_FATAL:
    case AV_LOG_ERROR: return vantor_log_error;
    case AV_LOG_WARNING: return vantor_log_warning;
    case AV_LOG_INFO: return vantor_log_info;
    case AV_LOG_VERBOSE:
    case AV_LOG_DEBUG: return vantor_log_debug;
    default: return vantor_log_trace;
  }
}

constexpr std::string_view avlog_prefix = "libavcodec: ";

}  // namespace

void avlog_callback(void* avcl, int level, const char* fmt, va_list args) {
  if (avcl == nullptr) return;
  // av_log accepts any struct whose first member is an AVClass pointer;
  // that pointer, or the class's name, may be null.
  AVClass const* const av_class = *static_cast<AVClass const* const*>(avcl);
  if (av_class == nullptr || av_class->class_name == nullptr) return;
  if (std::strcmp(av_default_item_name(avcl), "AVCodecContext") != 0) return;

  auto* const synchronizer =
      static_cast<logging_synchronizer_t*>(static_cast<AVCodecContext*>(avcl)->opaque);
  if (synchronizer == nullptr) return;

  vantor_log_level_t const mapped = map_av_log_level(level);
  // Before any formatting: FFmpeg's debug chatter must cost nothing.
  if (mapped > synchronizer->verbosity_threshold) return;

  va_list copy;
  va_copy(copy, args);
  try {
    std::string text(avlog_prefix);
    text += vstringprintf(fmt, copy);
    synchronizer->store_event(mapped, std::move(text));
  } catch (...) {
    // Nothing may unwind through FFmpeg's C frames; the message is lost.
  }
  va_end(copy);
}

void install_avlog_callback(AVCodecContext* context, logging_synchronizer_t* synchronizer) {
  context->opaque = synchronizer;
  av_log_set_callback(avlog_callback);
}

// ---------------------------------------------------------------------------
// Codec context helpers

AVRational make_rational(uint32_t num, uint32_t den) {
  VANTOR_CHECK(num <= static_cast<uint32_t>(std::numeric_limits<int>::max()));
  VANTOR_CHECK(den <= static_cast<uint32_t>(std::numeric_limits<int>::max()));
  return AVRational{static_cast<int>(num), static_cast<int>(den)};
}

AVRational make_rational(const fraction_t<unsigned int, unsigned int>& fraction) {
  return make_rational(fraction.num, fraction.den);
}

int quality_to_lambda(uint32_t quality) {
  VANTOR_CHECK(quality <= 100);
  double const normalized = quality / 100.0;
  VANTOR_CHECK(normalized >= 0.0 && normalized <= 1.0);
  double const log_result = std::log1p(normalized * 39.0) / 3.6888794541139363;  // ln(40)
  VANTOR_CHECK(log_result >= 0.0 && log_result <= 1.0);
  // Quantiser scale 31 .. 2 on a logarithmic curve, times FF_QP2LAMBDA (118).
  double const qscale = std::fma(-29.0, log_result, 31.0);
  return static_cast<int>(std::fma(qscale, 118.0, 0.5));
}

void avcodec_context_deleter_t::operator()(AVCodecContext* context) const noexcept {
  avcodec_free_context(&context);
}

avdecoder_context_t::avdecoder_context_t(log_context_t& log_context,
                                         const std::string& decoder_name)
    : synchronizer_(log_context, 100) {
  AVCodec const* const decoder = avcodec_find_decoder_by_name(decoder_name.c_str());
  if (decoder == nullptr) {
    throw_libav_failure("avdecoder_context: libavcodec failed to find a " + decoder_name +
                        " decoder");
  }
  context_.reset(avcodec_alloc_context3(decoder));
  if (!context_) {
    throw_libav_failure("avdecoder_context: libavcodec failed to allocate a " + decoder_name +
                        " decoder context");
  }
  install_avlog_callback(context_.get(), &synchronizer_);
  int const result = avcodec_open2(context_.get(), decoder, nullptr);
  // FFmpeg's own account of a failed open belongs in the log before our exception.
  synchronizer_.flush_events();
  if (result < 0) {
    throw_libav_failure("avdecoder_context: libavcodec failed to open a " + decoder_name +
                        " decoder context: " + averror_to_string(result));
  }
}

// ---------------------------------------------------------------------------
// Packet and frame wrappers

void avpacket_deleter_t::operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }

void avframe_deleter_t::operator()(AVFrame* frame) const noexcept { av_frame_free(&frame); }

wrap_avpacket_t::wrap_avpacket_t() : packet_(av_packet_alloc()) {
  if (!packet_) throw_libav_failure("libavcodec failed to allocate a packet");
  packet_->data = nullptr;
  packet_->size = 0;
}

wrap_avpacket_t::wrap_avpacket_t(int64_t dts, int64_t pts, const uint8_t* begin,
                                 const uint8_t* end)
    : packet_(av_packet_alloc()) {
  if (!packet_) throw_libav_failure("libavcodec failed to allocate a packet");
  int64_t const size = end - begin;
  VANTOR_CHECK(size >= 0);
  VANTOR_CHECK(size <= std::numeric_limits<int>::max());
  int const result = av_new_packet(packet_.get(), static_cast<int>(size));
  if (result != 0) {
    throw_libav_failure("libavcodec failed to allocate a packet payload: " +
                        averror_to_string(result));
  }
  if (size != 0) std::memcpy(packet_->data, begin, static_cast<size_t>(size));
  packet_->pts = pts;
  packet_->dts = dts;
}

int wrap_avpacket_t::send_to(AVCodecContext* context) const {
  return avcodec_send_packet(context, packet_.get());
}

int wrap_avpacket_t::receive_from(AVCodecContext* context) {
  return avcodec_receive_packet(context, packet_.get());
}

wrap_avframe_t::wrap_avframe_t() : frame_(av_frame_alloc()) {
  if (!frame_) throw_libav_failure("libavcodec failed to allocate a frame");
}

wrap_avframe_t::wrap_avframe_t(uint32_t width, uint32_t height, AVPixelFormat format,
                               const std::optional<fraction_t<unsigned int, unsigned int>>& sar,
                               uint32_t quality, uint64_t pts, bool keyframe)
    : frame_(av_frame_alloc()) {
  if (!frame_) throw_libav_failure("libavcodec failed to allocate a frame");
  frame_->width = static_cast<int>(width);
  frame_->height = static_cast<int>(height);
  frame_->format = format;
  if (sar) frame_->sample_aspect_ratio = make_rational(*sar);
  int const lambda = quality_to_lambda(quality);
  frame_->pts = static_cast<int64_t>(pts);
  frame_->quality = lambda;
  if (keyframe) {
    frame_->flags |= AV_FRAME_FLAG_KEY;
  } else {
    frame_->flags &= ~AV_FRAME_FLAG_KEY;
  }
  int const result = av_frame_get_buffer(frame_.get(), 0);
  if (result < 0) {
    throw_libav_failure("libavcodec failed to allocate buffers for a frame: " +
                        averror_to_string(result));
  }
  VANTOR_CHECK(av_frame_is_writable(frame_.get()) != 0);
}

int wrap_avframe_t::send_to(AVCodecContext* context) const {
  return avcodec_send_frame(context, frame_.get());
}

int wrap_avframe_t::receive_from(AVCodecContext* context) {
  return avcodec_receive_frame(context, frame_.get());
}

// ---------------------------------------------------------------------------
// Image bridging

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
  throw_libav_failure("Unexpected AVPixelFormat " + std::to_string(static_cast<int>(format)));
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

// One plane of a frame_t into an FFmpeg plane. `src` runs on to the next
// plane. The check names the calling routine (`caller`), whose plane did
// not fit.
void copy_plane_to_avimage(const uint8_t*& src, uint8_t* dst, int dst_stride, size_t src_stride,
                           size_t rows, const char* caller) {
#undef VANTOR_CHECK_FUNCTION
#define VANTOR_CHECK_FUNCTION caller
  VANTOR_CHECK(dst_stride > 0 && src_stride <= static_cast<uint32_t>(dst_stride));
#undef VANTOR_CHECK_FUNCTION
#define VANTOR_CHECK_FUNCTION __PRETTY_FUNCTION__
  copy_rows(dst, static_cast<size_t>(dst_stride), src, src_stride, src_stride, rows);
  src += src_stride * rows;
}

void frame_to_avimage_nv12(const frame_t& frame, uint8_t** planes, int* strides) {
  size_t const w = frame.width_;
  size_t const h = frame.height_;
  const uint8_t* src = frame.data_.data();
  copy_plane_to_avimage(src, planes[0], strides[0], w, h, __PRETTY_FUNCTION__);
  copy_plane_to_avimage(src, planes[1], strides[1], w, h / 2, __PRETTY_FUNCTION__);
}

void frame_to_avimage_yuv420p(const frame_t& frame, uint8_t** planes, int* strides) {
  size_t const w = frame.width_;
  size_t const h = frame.height_;
  const uint8_t* src = frame.data_.data();
  copy_plane_to_avimage(src, planes[0], strides[0], w, h, __PRETTY_FUNCTION__);
  copy_plane_to_avimage(src, planes[1], strides[1], w / 2, h / 2, __PRETTY_FUNCTION__);
  copy_plane_to_avimage(src, planes[2], strides[2], w / 2, h / 2, __PRETTY_FUNCTION__);
}

void frame_to_avimage_yuv420p10le(const frame_t& frame, uint8_t** planes, int* strides) {
  size_t const w = frame.width_;
  size_t const h = frame.height_;
  const uint8_t* src = frame.data_.data();
  copy_plane_to_avimage(src, planes[0], strides[0], 2 * w, h, __PRETTY_FUNCTION__);
  copy_plane_to_avimage(src, planes[1], strides[1], w, h / 2, __PRETTY_FUNCTION__);
  copy_plane_to_avimage(src, planes[2], strides[2], w, h / 2, __PRETTY_FUNCTION__);
}

}  // namespace

// GCC shortens the parameter to "const frame_t&" here, unlike in the
// routines above; the texts of this file's checks are fully qualified.
#undef VANTOR_CHECK_FUNCTION
#define VANTOR_CHECK_FUNCTION \
  "void vantor::video::frame_to_avimage(const vantor::video::frame_t&, uint8_t**, int*)"

void frame_to_avimage(const frame_t& frame, uint8_t** planes, int* strides) {
  // An upstream source may hand over a frame whose buffer is shorter than
  // its sizes claim; the row copies below trust the sizes.
  VANTOR_CHECK(frame.data_.size() >= frame_data_size(frame.width_, frame.height_, frame.format_));
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

// GCC spells the format parameter "frame_t::format_t"; the documented text
// of this function's checks is fully qualified.
#undef VANTOR_CHECK_FUNCTION
#define VANTOR_CHECK_FUNCTION                                                                     \
  "vantor::video::frame_t vantor::video::avimage_to_frame(const uint8_t* const*, const int*, "    \
  "uint32_t, uint32_t, vantor::video::frame_t::format_t, uint32_t, uint32_t, uint32_t, uint32_t, " \
  "uint64_t, uint32_t, bool)"

frame_t avimage_to_frame(const uint8_t* const* planes, const int* strides, uint32_t width_arg,
                         uint32_t height_arg, frame_t::format_t format, uint32_t crop_x_arg,
                         uint32_t crop_y_arg, uint32_t crop_w_arg, uint32_t crop_h_arg,
                         uint64_t pts, uint32_t timescale, bool keyframe) {
  // Widened once, so that every check below means what it says (no 32-bit
  // wrap-around) and every offset is computed in size_t.
  size_t const width = width_arg;
  size_t const height = height_arg;
  size_t const dst_crop_x = crop_x_arg;
  size_t const dst_crop_y = crop_y_arg;
  size_t dst_crop_w = crop_w_arg;
  size_t dst_crop_h = crop_h_arg;

  VANTOR_CHECK(width > 0);
  VANTOR_CHECK(height > 0);
  VANTOR_CHECK(width % 2 == 0);
  VANTOR_CHECK(height % 2 == 0);
  VANTOR_CHECK(dst_crop_x < width);
  VANTOR_CHECK(dst_crop_y < height);
  if (dst_crop_w == 0) {
    dst_crop_w = width - dst_crop_x;
  } else {
    VANTOR_CHECK(dst_crop_x + dst_crop_w <= width);
  }
  if (dst_crop_h == 0) {
    dst_crop_h = height - dst_crop_y;
  } else {
    VANTOR_CHECK(dst_crop_y + dst_crop_h <= height);
  }

  bool const three_planes = format != frame_t::format_t::nv12;
  VANTOR_CHECK(strides[0] > 0);
  VANTOR_CHECK(strides[1] > 0);
  if (three_planes) VANTOR_CHECK(strides[2] > 0);
  VANTOR_CHECK(static_cast<uint32_t>(strides[0]) >= dst_crop_w);
  VANTOR_CHECK(static_cast<uint32_t>(strides[1]) >= dst_crop_w / 2);
  if (three_planes) VANTOR_CHECK(static_cast<uint32_t>(strides[2]) >= dst_crop_w / 2);

  bool const ten_bit = format == frame_t::format_t::yuv420p10le;
  if (format != frame_t::format_t::nv12 && format != frame_t::format_t::yuv420p && !ten_bit) {
    invalid_frame_format(format);
  }

  // The checks above cover 8-bit planar rows only: NV12 chroma rows and all
  // 10-bit rows copy more bytes than they test.
  size_t const luma_row_bytes = ten_bit ? 2 * dst_crop_w : dst_crop_w;
  size_t const chroma_row_bytes =
      format == frame_t::format_t::yuv420p ? dst_crop_w / 2 : dst_crop_w & ~size_t{1};
  VANTOR_CHECK(static_cast<size_t>(strides[0]) >= luma_row_bytes);
  VANTOR_CHECK(static_cast<size_t>(strides[1]) >= chroma_row_bytes);
  if (three_planes) VANTOR_CHECK(static_cast<size_t>(strides[2]) >= chroma_row_bytes);

  // The frame is built in one pass, every byte written once: black comes
  // from a two-row black frame of the same width and format, whose first
  // rows hold one black row of each plane.
  std::vector<uint8_t> const black = create_frame_data(width_arg, 2, format, black_of(format));
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
  frame.sanity_check();
  return frame;
}

#undef VANTOR_CHECK_FUNCTION
#define VANTOR_CHECK_FUNCTION                                                                 \
  "vantor::video::frame_t vantor::video::avframe_to_frame(const vantor::video::wrap_avframe_t&, " \
  "uint64_t, uint32_t)"

frame_t avframe_to_frame(const wrap_avframe_t& frame, uint64_t pts, uint32_t timescale) {
  AVFrame const& av = *frame;
  // Only values of the enumeration become an AVPixelFormat.
  if (av.format < AV_PIX_FMT_NONE || av.format >= AV_PIX_FMT_NB) {
    throw_libav_failure("Unexpected AVPixelFormat " + std::to_string(av.format));
  }
  frame_t::format_t const format = to_frame_format(static_cast<AVPixelFormat>(av.format));
  VANTOR_CHECK(av.width >= 0 && av.height >= 0);
  return avimage_to_frame(av.data, av.linesize, static_cast<uint32_t>(av.width),
                          static_cast<uint32_t>(av.height), format, 0, 0, 0, 0, pts, timescale,
                          (av.flags & AV_FRAME_FLAG_KEY) != 0);
}

#undef VANTOR_CHECK_FUNCTION
#define VANTOR_CHECK_FUNCTION __PRETTY_FUNCTION__

wrap_avimage_t::wrap_avimage_t(uint32_t width, uint32_t height, AVPixelFormat format)
    : planes{}, strides{} {
  int const result = av_image_alloc(planes, strides, static_cast<int>(width),
                                    static_cast<int>(height), format, 16);
  if (result < 0) {
    throw_libav_failure("avimage: libavutil failed to allocate an image: " +
                        averror_to_string(result));
  }
}

wrap_avimage_t::~wrap_avimage_t() { av_freep(&planes[0]); }

// ---------------------------------------------------------------------------
// Scaling context

wrap_swscale_context_t::wrap_swscale_context_t(uint32_t src_width, uint32_t src_height,
                                               AVPixelFormat src_format, uint32_t dst_width,
                                               uint32_t dst_height, AVPixelFormat dst_format)
    : context_(create_sws_context(src_width, src_height, src_format, dst_width, dst_height,
                                  dst_format)) {}

wrap_swscale_context_t::~wrap_swscale_context_t() {
  if (context_ != nullptr) sws_freeContext(context_);
}

SwsContext* wrap_swscale_context_t::create_sws_context(uint32_t src_width, uint32_t src_height,
                                                       AVPixelFormat src_format,
                                                       uint32_t dst_width, uint32_t dst_height,
                                                       AVPixelFormat dst_format) {
  VANTOR_CHECK(src_width <= static_cast<uint32_t>(std::numeric_limits<int>::max()));
  VANTOR_CHECK(src_height <= static_cast<uint32_t>(std::numeric_limits<int>::max()));
  VANTOR_CHECK(dst_width <= static_cast<uint32_t>(std::numeric_limits<int>::max()));
  VANTOR_CHECK(dst_height <= static_cast<uint32_t>(std::numeric_limits<int>::max()));
  // libswscale asserts (aborts the process) on a format it has no
  // descriptor for, instead of failing; such formats fail here as it would.
  SwsContext* const context =
      sws_isSupportedInput(src_format) == 0 || sws_isSupportedOutput(dst_format) == 0
          ? nullptr
          : sws_getContext(static_cast<int>(src_width), static_cast<int>(src_height), src_format,
                           static_cast<int>(dst_width), static_cast<int>(dst_height),
                           dst_format, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (context == nullptr) {
    throw_libav_failure("swscale_context: libswscale failed to initialize a rescaling context");
  }
  return context;
}

int wrap_swscale_context_t::scale(const uint8_t* const* src_planes, const int* src_strides,
                                  int src_slice_y, int src_height, uint8_t* const* dst_planes,
                                  const int* dst_strides) {
  return sws_scale(context_, src_planes, src_strides, src_slice_y, src_height, dst_planes,
                   dst_strides);
}

// ---------------------------------------------------------------------------
// Diagnostic printers

namespace {

const void* address(const void* pointer) { return pointer; }

// An enumeration field of a C struct may hold any int (an unknown picture
// type, a newer pixel format); reading it through the C++ enum type would be
// undefined for values outside the enumerators' range, so its storage is
// read as the int it is.
template <typename E>
int raw_enum(const E& field) {
  static_assert(std::is_enum_v<E> && sizeof(E) == sizeof(int), "a C enumeration field");
  int value;
  std::memcpy(&value, &field, sizeof value);
  return value;
}

// A flag word: hexadecimal digits after the label's "0x", then decimal again.
template <typename T>
void print_flags(std::ostream& os, T value) {
  os << std::hex << value << std::dec;
}

// A null text marks the record broken instead of being dereferenced.
bool print_text(std::ostream& os, const char* text) {
  if (text == nullptr) {
    os.setstate(std::ios_base::badbit);
    return false;
  }
  os << text;
  return true;
}

const char* picture_type_name(int type) {
  switch (type) {
    case AV_PICTURE_TYPE_NONE: return "NONE";
    case AV_PICTURE_TYPE_I: return "I";
    case AV_PICTURE_TYPE_P: return "P";
    case AV_PICTURE_TYPE_B: return "B";
    case AV_PICTURE_TYPE_S: return "S";
    case AV_PICTURE_TYPE_SI: return "SI";
    case AV_PICTURE_TYPE_SP: return "SP";
    case AV_PICTURE_TYPE_BI: return "BI";
    default: return nullptr;
  }
}

void print_picture_type(std::ostream& os, int type) {
  if (const char* name = picture_type_name(type)) {
    os << name;
  } else {
    os << "Unknown picture type " << type;
  }
}

void print_media_type(std::ostream& os, int type) {
  switch (type) {
    case AVMEDIA_TYPE_VIDEO: os << "video"; return;
    case AVMEDIA_TYPE_AUDIO: os << "audio"; return;
    case AVMEDIA_TYPE_DATA: os << "data"; return;
    case AVMEDIA_TYPE_SUBTITLE: os << "subtitle"; return;
    case AVMEDIA_TYPE_ATTACHMENT: os << "attachment"; return;
    default: os << "Unknown media type " << type; return;
  }
}

void print_pixel_format(std::ostream& os, int format) {
  if (const char* name = detail::pixel_format_name(format)) {
    os << name;
  } else {
    os << "Unknown pixel format " << format;
  }
}

}  // namespace

std::ostream& operator<<(std::ostream& os, const AVRational& rational) {
  return os << rational.num << "/" << rational.den;
}

std::string to_string(AVPixelFormat format) {
  if (const char* name = detail::pixel_format_name(format)) return name;
  return "Unknown pixel format " + std::to_string(static_cast<int>(format));
}

std::string pix_fmt_name(const wrap_avframe_t& frame) {
  int const format = frame->format;
  if (format >= 0 && format < AV_PIX_FMT_NB) {
    if (const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(format))) return name;
  }
  return std::to_string(format);
}

std::ostream& operator<<(std::ostream& os, const wrap_avpacket_t& packet) {
  AVPacket const& p = *packet.get();
  os << "{AVPacket at " << address(&p) << ":";
  os << " buf=" << address(p.buf) << " pts=" << p.pts << " dts=" << p.dts
     << " data=" << address(p.data) << " size=" << p.size << " stream_index=" << p.stream_index
     << " flags=0x";
  print_flags(os, p.flags);
  os << " side_data=" << address(p.side_data) << " side_data_elems=" << p.side_data_elems
     << " duration=" << p.duration << " pos=" << p.pos << "}";
  return os;
}

std::ostream& operator<<(std::ostream& os, const wrap_avframe_t& frame) {
  AVFrame const& f = *frame;
  os << "{AVFrame at " << address(&f) << ":";
  for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) os << " data[" << i << "]=" << address(f.data[i]);
  for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) os << " linesize[" << i << "]=" << f.linesize[i];
  os << " extended_data=" << address(f.extended_data) << " width=" << f.width
     << " height=" << f.height << " nb_samples=" << f.nb_samples << " format=";
  print_pixel_format(os, f.format);
  os << " pict_type=";
  print_picture_type(os, raw_enum(f.pict_type));
  os << " sample_aspect_ratio=" << f.sample_aspect_ratio << " pts=" << f.pts
     << " pkt_dts=" << f.pkt_dts << " quality=" << f.quality << " opaque=" << address(f.opaque)
     << " repeat_pict=" << f.repeat_pict << " sample_rate=" << f.sample_rate;
  for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) os << " buf[" << i << "]=" << address(f.buf[i]);
  os << " extended_buf=" << address(f.extended_buf) << " nb_extended_buf=" << f.nb_extended_buf
     << " side_data=" << address(f.side_data) << " nb_side_data=" << f.nb_side_data
     << " flags=0x";
  print_flags(os, f.flags);
  os << " color_range=" << raw_enum(f.color_range)
     << " color_primaries=" << raw_enum(f.color_primaries)
     << " color_trc=" << raw_enum(f.color_trc)
     << " colorspace=" << raw_enum(f.colorspace)
     << " chroma_location=" << raw_enum(f.chroma_location)
     << " best_effort_timestamp=" << f.best_effort_timestamp
     << " metadata=" << address(f.metadata) << " decode_error_flags=" << f.decode_error_flags
     << " hw_frames_ctx=" << address(f.hw_frames_ctx) << " opaque_ref=" << address(f.opaque_ref)
     << " crop_top=" << f.crop_top << " crop_bottom=" << f.crop_bottom
     << " crop_left=" << f.crop_left << " crop_right=" << f.crop_right
     << " private_ref=" << address(f.private_ref) << "}";
  return os;
}

std::ostream& operator<<(std::ostream& os, const AVCodecContext& c) {
  os << "{AVCodecContext at " << address(&c) << ":";
  os << " av_class=";
  if (!print_text(os, c.av_class != nullptr ? c.av_class->class_name : nullptr)) return os;
  os << " codec_type=";
  print_media_type(os, raw_enum(c.codec_type));
  os << " codec=";
  if (!print_text(os, c.codec != nullptr ? c.codec->name : nullptr)) return os;
  os << " codec_id=" << raw_enum(c.codec_id) << " codec_tag=0x";
  print_flags(os, c.codec_tag);
  os << " priv_data=" << address(c.priv_data) << " internal=" << address(c.internal)
     << " opaque=" << address(c.opaque) << " bit_rate=" << c.bit_rate
     << " bit_rate_tolerance=" << c.bit_rate_tolerance << " global_quality=" << c.global_quality
     << " compression_level=" << c.compression_level << " flags=0x";
  print_flags(os, c.flags);
  os << " flags2=0x";
  print_flags(os, c.flags2);
  os << " extradata=";
  pellix::hexdump_t(c.extradata, c.extradata + (c.extradata != nullptr ? c.extradata_size : 0))
      .print(os);
  os << " extradata_size=" << c.extradata_size << " time_base=" << c.time_base
     << " delay=" << c.delay << " width=" << c.width << " height=" << c.height
     << " coded_width=" << c.coded_width << " coded_height=" << c.coded_height
     << " gop_size=" << c.gop_size << " pix_fmt=";
  print_pixel_format(os, raw_enum(c.pix_fmt));
  os << " sample_aspect_ratio=" << c.sample_aspect_ratio << " keyint_min=" << c.keyint_min
     << " refs=" << c.refs << " color_primaries=" << raw_enum(c.color_primaries)
     << " color_trc=" << raw_enum(c.color_trc)
     << " colorspace=" << raw_enum(c.colorspace)
     << " color_range=" << raw_enum(c.color_range)
     << " chroma_sample_location=" << raw_enum(c.chroma_sample_location)
     << " sample_rate=" << c.sample_rate << " sample_fmt=" << raw_enum(c.sample_fmt)
     << " frame_size=" << c.frame_size
     << " audio_service_type=" << raw_enum(c.audio_service_type)
     << " request_sample_fmt=" << raw_enum(c.request_sample_fmt)
     << " qcompress=" << static_cast<double>(c.qcompress)
     << " qblur=" << static_cast<double>(c.qblur) << " qmin=" << c.qmin << " qmax=" << c.qmax
     << " max_qdiff=" << c.max_qdiff << " workaround_bugs=0x";
  print_flags(os, c.workaround_bugs);
  os << " strict_std_compliance=" << c.strict_std_compliance
     << " error_concealment=" << c.error_concealment << " debug=0x";
  print_flags(os, c.debug);
  os << " err_recognition=" << c.err_recognition << " error[0]=" << c.error[0]
     << " thread_count=" << c.thread_count << " thread_type=" << c.thread_type
     << " active_thread_type=" << c.active_thread_type << " profile=" << c.profile
     << " level=" << c.level << " initial_padding=" << c.initial_padding
     << " framerate=" << c.framerate << " pkt_timebase=" << c.pkt_timebase
     << " apply_cropping=" << c.apply_cropping << "}";
  return os;
}

std::ostream& operator<<(std::ostream& os, const wrap_avimage_t& image) {
  os << "wrap_avimage_t at " << address(&image) << " (planes=" << address(image.planes[0]) << ","
     << address(image.planes[1]) << "," << address(image.planes[2])
     << " strides=" << image.strides[0] << "," << image.strides[1] << "," << image.strides[2]
     << ")";
  return os;
}

}  // namespace vantor::video
