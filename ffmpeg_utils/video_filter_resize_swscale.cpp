// The resize filter: scales every picture to a fixed rectangle and places it
// in a black output frame of a fixed size (resize, letterbox, pillarbox).

#include <cstdint>
#include <memory>
#include <sstream>
#include <utility>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "ffmpeg_utils/component_log.hpp"
#include "ffmpeg_utils/exports.hpp"
#include "ffmpeg_utils/ffmpeg_utils.hpp"

namespace vantor::video {
namespace {

constexpr const char* component = "video_filter_resize_swscale";

class swscale_resize_filter_t final : public frame_source_t {
 public:
  swscale_resize_filter_t(log_context_t& log_context, std::unique_ptr<frame_source_t> input,
                          uint32_t dst_width, uint32_t dst_height, uint32_t dst_crop_x,
                          uint32_t dst_crop_y, uint32_t dst_crop_w, uint32_t dst_crop_h);

  frame_t operator()() override;

 private:
  // Makes sure swscale_context_ scales pictures of `frame`'s size and format.
  void prepare_context(const frame_t& frame, AVPixelFormat pixel_format);

  log_context_t& log_context_;
  std::unique_ptr<frame_source_t> input_;
  uint32_t dst_width_;
  uint32_t dst_height_;
  uint32_t dst_crop_x_;
  uint32_t dst_crop_y_;
  uint32_t dst_crop_w_;
  uint32_t dst_crop_h_;
  uint32_t src_width_ = 0;
  uint32_t src_height_ = 0;
  frame_t::format_t src_format_ = frame_t::format_t{0};
  frame_t::range_t src_range_ = frame_t::range_t::limited;
  std::unique_ptr<wrap_swscale_context_t> swscale_context_;
};

swscale_resize_filter_t::swscale_resize_filter_t(log_context_t& log_context,
                                                 std::unique_ptr<frame_source_t> input,
                                                 uint32_t dst_width, uint32_t dst_height,
                                                 uint32_t dst_crop_x, uint32_t dst_crop_y,
                                                 uint32_t dst_crop_w, uint32_t dst_crop_h)
    : log_context_(log_context),
      dst_width_(dst_width),
      dst_height_(dst_height),
      dst_crop_x_(dst_crop_x),
      dst_crop_y_(dst_crop_y),
      dst_crop_w_(dst_crop_w != 0 ? dst_crop_w : dst_width),
      dst_crop_h_(dst_crop_h != 0 ? dst_crop_h : dst_height) {
  VANTOR_CHECK(input);
  // Taken over before the size checks, so a failing check destroys it too.
  input_ = std::move(input);
  VANTOR_CHECK(dst_width_ > 0 && "Output width must be larger than 0");
  VANTOR_CHECK(dst_height_ > 0 && "Output height must be larger than 0");
  // The rectangle and the evenness of the output are checked when the first
  // output frame is built.
}

void swscale_resize_filter_t::prepare_context(const frame_t& frame, AVPixelFormat pixel_format) {
  bool const new_key = !swscale_context_ || frame.width_ != src_width_ ||
                       frame.height_ != src_height_ || frame.format_ != src_format_;
  // The matrix passes through scaling untouched; only the range is the context's.
  if (!new_key && frame.range_ == src_range_) return;
  src_format_ = frame.format_;
  src_width_ = frame.width_;
  src_height_ = frame.height_;
  src_range_ = frame.range_;
  if (new_key) {
    log_line(log_context_, vantor_log_info, component, [&](std::ostream& line) {
      line << "resize from " << to_string(src_format_) << " [" << src_width_ << "," << src_height_
           << "] to [" << dst_width_ << "," << dst_height_ << "], crop [" << dst_crop_w_ << "x"
           << dst_crop_h_ << "], @[" << dst_crop_x_ << "," << dst_crop_y_ << "]";
    });
  }
  // The key already names the new source: should creating its context throw,
  // no context for the old key may survive to scale the next picture.
  swscale_context_.reset();
  swscale_context_ = std::make_unique<wrap_swscale_context_t>(
      src_width_, src_height_, pixel_format, dst_crop_w_, dst_crop_h_, pixel_format);
  // Scaling keeps the levels and the matrix. A fresh context takes both sides
  // as limited range; it is told the real range only when that is full, so
  // that limited pictures keep their exact output.
  if (src_range_ != frame_t::range_t::limited) {
    swscale_context_->set_colorspace(src_range_, frame.matrix_, src_range_, frame.matrix_);
  }
}

// Every pull copies the frame into an image of its own and scales into a new
// image, at every log level: the trace lines describe what the pull does,
// they never decide it.
frame_t swscale_resize_filter_t::operator()() {
  frame_t frame = (*input_)();
  if (frame.data_.empty()) return frame;

  // Source and destination share the pixel format; only the size changes.
  const AVPixelFormat pixel_format = to_avpixelformat(frame.format_);
  prepare_context(frame, pixel_format);

  log_line(log_context_, vantor_log_debug, component, [&](std::ostream& line) {
    line << "making src avimage,  w=" << frame.width_ << " h=" << frame.height_
         << " fmt=" << to_string(pixel_format);
  });
  wrap_avimage_t src_image(frame.width_, frame.height_, pixel_format);
  frame_to_avimage(frame, src_image.planes, src_image.strides);

  log_line(log_context_, vantor_log_debug, component, [&](std::ostream& line) {
    line << "making dst avimage,  w=" << dst_crop_w_ << " h=" << dst_crop_h_
         << " fmt=" << to_string(pixel_format);
  });
  wrap_avimage_t dst_image(dst_crop_w_, dst_crop_h_, pixel_format);

  log_line(log_context_, vantor_log_debug, component, [&](std::ostream& line) {
    line << "calling swscale_context_->scale(swscale_context_="
         << static_cast<const void*>(swscale_context_.get()) << " src image=" << src_image
         << " src_slice_y=" << 0 << " src_height=" << src_height_ << " dst image=" << dst_image
         << ")";
  });
  const int result = swscale_context_->scale(src_image.planes, src_image.strides, 0,
                                             static_cast<int>(src_height_), dst_image.planes,
                                             dst_image.strides);
  if (result < 0) throw_libav_failure(component, "libswscale failed to resize an image", result);
  // libswscale 8 copies an unscaled NV12 picture plane by plane and passes
  // over the interleaved chroma plane, leaving it unwritten; its rows are
  // those frame_to_avimage wrote into the source image.
  if (pixel_format == AV_PIX_FMT_NV12 && frame.width_ == dst_crop_w_ &&
      frame.height_ == dst_crop_h_) {
    av_image_copy_plane(dst_image.planes[1], dst_image.strides[1], src_image.planes[1],
                        src_image.strides[1], static_cast<int>(frame.width_),
                        static_cast<int>(frame.height_ / 2));
  }

  log_line(log_context_, vantor_log_debug, component, [&](std::ostream& line) {
    line << "calling avimage_to_frame(dw=" << dst_width_ << " dh=" << dst_height_
         << " fmt=" << to_string(src_format_) << " dcx=" << dst_crop_x_ << " dcy=" << dst_crop_y_
         << " dcw=" << dst_crop_w_ << " dch=" << dst_crop_h_ << " pts=" << frame.pts_
         << " timescale=" << frame.timescale_ << " keyframe=" << (frame.keyframe_ ? 1 : 0)
         << ")";
  });
  return avimage_to_frame(dst_image.planes, dst_image.strides, dst_width_, dst_height_,
                          src_format_, dst_crop_x_, dst_crop_y_, dst_crop_w_, dst_crop_h_,
                          frame.pts_, frame.timescale_, frame.keyframe_, frame.colour());
}

}  // namespace

std::unique_ptr<frame_source_t> create_swscale_resize_filter(
    log_context_t& log_context, std::unique_ptr<frame_source_t> input, uint32_t dst_width,
    uint32_t dst_height, uint32_t dst_crop_x, uint32_t dst_crop_y, uint32_t dst_crop_w,
    uint32_t dst_crop_h) {
  return std::make_unique<swscale_resize_filter_t>(log_context, std::move(input), dst_width,
                                                   dst_height, dst_crop_x, dst_crop_y,
                                                   dst_crop_w, dst_crop_h);
}

}  // namespace vantor::video
