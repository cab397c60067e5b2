// The JPEG encoder: one libavcodec MJPEG picture per sample. Every picture is
// converted to full-range BT.601 YUV 4:2:0 first; each sample lasts until the next
// picture's time, so the encoder always holds one picture ahead.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <utility>

#include "buckets.hpp"
#include "ffmpeg_utils/component_log.hpp"
#include "ffmpeg_utils/exports.hpp"
#include "ffmpeg_utils/ffmpeg_utils.hpp"
#include "mp4_full_sample.hpp"
#include "trak.hpp"

namespace vantor::video {
namespace {

using sar_t = std::optional<fraction_t<unsigned int, unsigned int>>;

constexpr const char* component = "video_encoder_jpg_avcodec";

// An opened MJPEG encoder context with the log bridge attached. The context
// is declared after the synchronizer so that it is freed first.
struct avencoder_context_t {
  avencoder_context_t(log_context_t& log_context, uint32_t width, uint32_t height,
                      const sar_t& sar, uint32_t quality, uint32_t timescale);

  avencoder_context_t(const avencoder_context_t&) = delete;
  avencoder_context_t& operator=(const avencoder_context_t&) = delete;

  logging_synchronizer_t synchronizer;
  std::unique_ptr<AVCodecContext, avcodec_context_deleter_t> context;
};

avencoder_context_t::avencoder_context_t(log_context_t& log_context, uint32_t width,
                                         uint32_t height, const sar_t& sar, uint32_t quality,
                                         uint32_t timescale)
    : synchronizer(log_context, 100) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  if (codec == nullptr) throw_libav_failure(component, "libavcodec failed to find a MJPEG encoder");
  context.reset(avcodec_alloc_context3(codec));
  if (!context) {
    throw_libav_failure(component, "libavcodec failed to allocate a MJPEG encoder context");
  }
  install_avlog_callback(context.get(), &synchronizer);

  log_line(log_context, vantor_log_debug, component,
           [&](std::ostream& line) { line << "timescale=" << timescale; });
  log_line(log_context, vantor_log_info, component, [&](std::ostream& line) {
    line << "width=" << width << " height=" << height << " sar=";
    if (sar)
      line << sar->num << "/" << sar->den;
    else
      line << "nullopt";
    line << " quality=" << quality;
  });

  // Only these parameters: libavcodec's defaults for everything else.
  context->global_quality = quality_to_lambda(quality);
  context->flags |= AV_CODEC_FLAG_QSCALE;
  context->time_base = make_rational(1, timescale);
  context->pix_fmt = AV_PIX_FMT_YUVJ420P;
  context->width = static_cast<int>(width);
  context->height = static_cast<int>(height);
  context->sample_aspect_ratio = sar ? make_rational(*sar) : make_rational(1, 1);

  log_line(log_context, vantor_log_debug, component,
           [&](std::ostream& line) { line << "opening avencoder=" << *context; });
  const int result = avcodec_open2(context.get(), nullptr, nullptr);
  synchronizer.flush_events();
  // "libvavcodec" is the long-standing wording; callers match on it.
  if (result < 0) {
    throw_libav_failure(component, "libvavcodec failed to open a MJPEG encoder context", result);
  }
  log_line(log_context, vantor_log_debug, component,
           [&](std::ostream& line) { line << "opened avencoder=" << *context; });
}

class avcodec_jpg_encoder_t final : public sample_source_t {
 public:
  avcodec_jpg_encoder_t(log_context_t& log_context, std::unique_ptr<frame_source_t> input,
                        const sar_t& sar, uint32_t quality);

  const trak_t& trak() const override { return trak_; }
  uint64_t first_dts() const override { return first_pts_; }
  std::optional<full_sample_t> read_sample() override;

 private:
  static std::unique_ptr<frame_source_t> take_input(std::unique_ptr<frame_source_t> input);
  static frame_t pull_frame(log_context_t& log_context, frame_source_t& source);
  void prepare_converter();
  full_sample_t make_sample(uint64_t pts, uint64_t next_pts, const uint8_t* first,
                            const uint8_t* last);

  log_context_t& log_context_;
  std::unique_ptr<frame_source_t> input_;
  frame_t frame_;
  uint32_t width_;
  uint32_t height_;
  frame_t::format_t src_format_;
  frame_t::range_t src_range_;
  frame_t::matrix_t src_matrix_;
  sar_t sar_;
  uint32_t quality_;
  trak_t trak_;
  uint64_t sample_count_ = 0;
  std::unique_ptr<wrap_swscale_context_t> swscale_context_;
  uint64_t first_pts_;
  avencoder_context_t context_;
  unique_buckets_ptr_t buckets_;
  bucket_writer_t bucket_writer_;
};

// The null-input check belongs to the constructor, whose member initialisers
// need the input before its body runs.
constexpr check_site_t constructor_site = {
    __FILE__,
    "vantor::video::{anonymous}::avcodec_jpg_encoder_t::avcodec_jpg_encoder_t("
    "vantor::log_context_t&, std::unique_ptr<vantor::video::frame_source_t>, const "
    "std::optional<vantor::fraction_t<unsigned int, unsigned int> >&, uint32_t)"};

std::unique_ptr<frame_source_t> avcodec_jpg_encoder_t::take_input(
    std::unique_ptr<frame_source_t> input) {
  VANTOR_CHECK_AT(input, constructor_site);
  return input;
}

avcodec_jpg_encoder_t::avcodec_jpg_encoder_t(log_context_t& log_context,
                                             std::unique_ptr<frame_source_t> input,
                                             const sar_t& sar, uint32_t quality)
    : log_context_(log_context),
      input_(take_input(std::move(input))),
      frame_(pull_frame(log_context_, *input_)),
      width_(frame_.width_),
      height_(frame_.height_),
      src_format_(frame_.format_),
      src_range_(frame_.range_),
      src_matrix_(frame_.matrix_),
      sar_(sar),
      quality_(quality),
      trak_(create_jpeg_trak(width_, height_, sar_)),
      first_pts_(frame_.pts_),
      context_(log_context_, width_, height_, sar_, quality_, frame_.timescale_),
      buckets_(buckets_create()),
      bucket_writer_(*buckets_, 0x10000) {
  trak_.media_timescale = frame_.timescale_;
}

frame_t avcodec_jpg_encoder_t::pull_frame(log_context_t& log_context, frame_source_t& source) {
  log_line(log_context, vantor_log_debug, component,
           [](std::ostream& line) { line << "calling frame_source_t::operator()"; });
  frame_t frame = source();
  log_line(log_context, vantor_log_debug, component, [&](std::ostream& line) {
    line << "called frame_source_t::operator(), frame={" << to_string(frame, false) << "}";
  });
  return frame;
}

void avcodec_jpg_encoder_t::prepare_converter() {
  bool const new_format = !swscale_context_ || frame_.format_ != src_format_;
  if (!new_format && frame_.range_ == src_range_ && frame_.matrix_ == src_matrix_) return;
  src_format_ = frame_.format_;
  src_range_ = frame_.range_;
  src_matrix_ = frame_.matrix_;
  if (new_format) {
    log_line(log_context_, vantor_log_info, component, [&](std::ostream& line) {
      line << "convert from format " << to_string(src_format_) << " to format YUVJ420P";
    });
  }
  // src_format_ already names the new format: should building its converter
  // throw, the old converter must not survive to read the next picture.
  swscale_context_.reset();
  swscale_context_ = std::make_unique<wrap_swscale_context_t>(
      width_, height_, to_avpixelformat(src_format_), width_, height_, AV_PIX_FMT_YUVJ420P);
  // A fresh converter expands limited BT.601 to full range, which is what
  // JPEG viewers decode. Other pictures need their own levels read as they
  // are and their matrix turned into BT.601; limited BT.601 is left to the
  // defaults so that its output stays exactly as it was.
  if (src_range_ != frame_t::range_t::limited || src_matrix_ != frame_t::matrix_t::bt601) {
    swscale_context_->set_colorspace(src_range_, src_matrix_, frame_t::range_t::full,
                                     frame_t::matrix_t::bt601);
  }
}

std::optional<full_sample_t> avcodec_jpg_encoder_t::read_sample() {
  if (frame_.data_.empty()) {
    log_line(log_context_, vantor_log_info, component,
             [&](std::ostream& line) { line << "encoded " << sample_count_ << " samples"; });
    return std::nullopt;
  }
  ++sample_count_;

  frame_t next_frame = pull_frame(log_context_, *input_);
  VANTOR_CHECK(next_frame.width_ == 0 || next_frame.width_ == width_);
  VANTOR_CHECK(next_frame.height_ == 0 || next_frame.height_ == height_);

  prepare_converter();

  // libswscale reads the frame's planes where they are; only a frame whose
  // planes cannot be addressed in place goes through a checked copy.
  const uint8_t* src_planes[4];
  int src_strides[4];
  std::unique_ptr<wrap_avimage_t> src_copy;
  if (!frame_planes_in_place(frame_, src_planes, src_strides)) {
    src_copy = std::make_unique<wrap_avimage_t>(frame_.width_, frame_.height_,
                                                to_avpixelformat(frame_.format_));
    frame_to_avimage(frame_, src_copy->planes, src_copy->strides);
    std::copy(src_copy->planes, src_copy->planes + 4, src_planes);
    std::copy(src_copy->strides, src_copy->strides + 4, src_strides);
  }

  wrap_avframe_t avframe(width_, height_, AV_PIX_FMT_YUVJ420P, sar_, quality_, frame_.pts_,
                         frame_.keyframe_);
  const int scaled = swscale_context_->scale(src_planes, src_strides, 0,
                                             static_cast<int>(height_), avframe->data,
                                             avframe->linesize);
  if (scaled < 0) throw_libav_failure(component, "libswscale failed to resize an image", scaled);

  log_line(log_context_, vantor_log_debug, component,
           [&](std::ostream& line) { line << "sending avframe=" << avframe; });
  const int sent = avframe.send_to(context_.context.get());
  context_.synchronizer.flush_events();
  // The wording is long-standing; callers match on it.
  if (sent < 0) throw_libav_failure(component, "libavcodec failed to receive a frame", sent);

  log_line(log_context_, vantor_log_debug, component,
           [](std::ostream& line) { line << "receiving packet"; });
  wrap_avpacket_t avpacket;
  const int received = avpacket.receive_from(context_.context.get());
  context_.synchronizer.flush_events();
  if (received < 0) {
    throw_libav_failure(component, "libavcodec failed to produce a packet", received);
  }
  log_line(log_context_, vantor_log_debug, component,
           [&](std::ostream& line) { line << "got a packet: " << avpacket; });

  VANTOR_CHECK(avpacket.pts() >= 0);
  VANTOR_CHECK(static_cast<uint64_t>(avpacket.pts()) == frame_.pts_);
  VANTOR_CHECK(avpacket.pts() == avpacket.dts());
  VANTOR_CHECK(avpacket.data() != nullptr);
  VANTOR_CHECK(avpacket.size() > 0);
  VANTOR_CHECK(avpacket.flags() == AV_PKT_FLAG_KEY);
  VANTOR_CHECK(avpacket.duration() == 0);
  VANTOR_CHECK(avpacket.pos() == -1);

  full_sample_t sample = make_sample(static_cast<uint64_t>(avpacket.pts()), next_frame.pts_,
                                     avpacket.data(), avpacket.data() + avpacket.size());
  frame_ = std::move(next_frame);
  return sample;
}

full_sample_t avcodec_jpg_encoder_t::make_sample(uint64_t pts, uint64_t next_pts,
                                                 const uint8_t* first, const uint8_t* last) {
  VANTOR_CHECK(next_pts > pts);
  const uint64_t duration = next_pts - pts;
  VANTOR_CHECK(duration <= std::numeric_limits<uint32_t>::max());

  bucket_writer_.reset();
  bucket_writer_.write(first, last);
  unique_buckets_ptr_t data = buckets_split(*buckets_, bucket_writer_.size());

  // Every JPEG picture is a sync sample that nothing depends on. The word is
  // value-initialised so that the bits outside the low 28 are defined too.
  sample_flags_t flags{};
  flags.bits_ = sample_flags_t::sync_sample | sample_flags_t::depends_on_none |
                sample_flags_t::not_depended_on;

  return full_sample_t(static_cast<uint32_t>(duration), 0, 1, flags, std::nullopt,
                       std::move(data), buckets_create());
}

}  // namespace

std::unique_ptr<sample_source_t> create_avcodec_jpg_encoder(log_context_t& log_context,
                                                            std::unique_ptr<frame_source_t> input,
                                                            const sar_t& sar, uint32_t quality) {
  return std::make_unique<avcodec_jpg_encoder_t>(log_context, std::move(input), sar, quality);
}

}  // namespace vantor::video
