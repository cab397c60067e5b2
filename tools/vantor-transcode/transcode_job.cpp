#include "transcode_job.hpp"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>

#include "exception.hpp"
#include "sources/file_sample_source.hpp"
#include "fit_rect.hpp"
#include "frame_tap.hpp"
#include "picture_writers.hpp"
#include "plugin_loader.hpp"
#include "progress_meter.hpp"

namespace vantor::tools {

namespace {

constexpr char avc_decoder_name[] = "video_decoder_avc_avcodec";
constexpr char hvc_decoder_name[] = "video_decoder_hvc_avcodec";
constexpr char resize_filter_name[] = "video_filter_resize_swscale";
constexpr char jpeg_encoder_name[] = "video_encoder_jpg_avcodec";

std::string module_path(const std::string& folder, std::string_view name) {
  return (std::filesystem::path(folder) / ("libvantor_" + std::string(name) + ".so")).string();
}

template <typename plugin_t>
plugin_t load_plugin(const std::string& folder, std::string_view name) {
  try {
    return plugin_t(module_path(folder, name));
  } catch (const exception& e) {
    throw plugin_error_t(std::string(e.what()) + " (see --plugins)");
  }
}

// The source's messages start with "file_sample_source: <path>: ", and ours
// name the file once already.
std::string input_cause(const std::string& path, const std::string& message) {
  std::string const prefix = "file_sample_source: " + path + ": ";
  if (message.compare(0, prefix.size(), prefix) == 0) return message.substr(prefix.size());
  return message;
}

// The decoded formats the components handle; others fail in the decoder
// with a libav format number, which says less than the name does.
bool is_supported_pixel_format(const std::string& name) {
  return name.empty() || name == "yuv420p" || name == "yuvj420p" || name == "yuv420p10le" ||
         name == "nv12";
}

std::string size_text(uint32_t width, uint32_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// Picture counts and positions for the progress line, and, where no resize
// filter makes every picture the same size, the end of the pictures at a
// size change (a JPEG track has one picture size); `stop_reason` says why.
class picture_observer_t {
 public:
  picture_observer_t(progress_meter_t& progress, bool needs_constant_size,
                     std::optional<std::string>& stop_reason)
      : progress_(progress), needs_constant_size_(needs_constant_size), stop_reason_(stop_reason) {}

  bool operator()(const video::frame_t& frame) {
    if (pictures_ == 0) {
      first_pts_ = frame.pts_;
      width_ = frame.width_;
      height_ = frame.height_;
    } else if (needs_constant_size_ && (frame.width_ != width_ || frame.height_ != height_)) {
      stop_reason_ = "the picture size changes from " + size_text(width_, height_) + " to " +
                     size_text(frame.width_, frame.height_) + " at picture " +
                     std::to_string(pictures_ + 1) +
                     "; JPEG output needs one size: add --size WxH (and --fit to keep the "
                     "aspect ratio)";
      return false;
    }
    ++pictures_;
    double const position = frame.timescale_ != 0 && frame.pts_ >= first_pts_
                                ? static_cast<double>(frame.pts_ - first_pts_) / frame.timescale_
                                : 0;
    progress_.update(pictures_, position);
    return true;
  }

 private:
  progress_meter_t& progress_;
  bool needs_constant_size_;
  std::optional<std::string>& stop_reason_;
  uint64_t pictures_ = 0;
  uint64_t first_pts_ = 0;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
};

std::string ffmpeg_pixel_format_name(video::frame_t::format_t format) {
  switch (format) {
    case video::frame_t::format_t::nv12: return "nv12";
    case video::frame_t::format_t::yuv420p: return "yuv420p";
    case video::frame_t::format_t::yuv420p10le: return "yuv420p10le";
  }
  return "unknown";
}

}  // namespace

transcode_summary_t run_transcode(const transcode_job_t& job, log_context_t& log_context) {
  tool_options_t const& options = job.options;
  host_context_t host(log_context);

  // Plug-ins first: a broken installation is reported before any output.
  std::optional<video_filter_resize_plugin_t> resize_filter;
  if (options.size)
    resize_filter.emplace(load_plugin<video_filter_resize_plugin_t>(job.plugins_folder, resize_filter_name));
  std::optional<video_encoder_plugin_t> jpeg_encoder;
  if (!options.raw)
    jpeg_encoder.emplace(load_plugin<video_encoder_plugin_t>(job.plugins_folder, jpeg_encoder_name));

  std::unique_ptr<file_sample_source_t> source;
  try {
    source = file_sample_source_t::open(job.input);
  } catch (const exception& e) {
    throw input_error_t(job.input + ": " + input_cause(job.input, e.what()));
  }
  file_stream_info_t const info = source->stream_info();
  trak_t const trak = source->trak();
  if (!is_supported_pixel_format(info.pixel_format_name)) {
    throw input_error_t(job.input + ": unsupported pixel format " + info.pixel_format_name +
                        " (4:2:0 video, 8 or 10 bits, is supported)");
  }
  if (trak.codec != codec_t::avc && trak.codec != codec_t::hevc)
    throw input_error_t(job.input + ": no H.264 or HEVC video stream");

  bool const is_avc = trak.codec == codec_t::avc;
  const char* const decoder_name = is_avc ? avc_decoder_name : hvc_decoder_name;
  auto const decoder = load_plugin<video_decoder_plugin_t>(job.plugins_folder, decoder_name);

  progress_meter_t progress(job.show_progress, info.duration_seconds);
  transcode_summary_t summary;
  std::optional<jpeg_folder_writer_t> jpeg_writer;
  std::optional<raw_writer_t> raw_writer;
  if (options.raw) {
    raw_writer.emplace(*options.raw);
  } else {
    jpeg_writer.emplace(options.output_dir);
  }

  std::optional<std::string> stop_reason;
  std::optional<video::frame_t::format_t> raw_format;
  uint32_t raw_width = 0;
  uint32_t raw_height = 0;
  try {
    std::unique_ptr<video::frame_source_t> pictures = decoder.create(host, std::unique_ptr<sample_source_t>(std::move(source)),
                transcoder_config_t{decoder_name, {}});

    video_description_t description{trak.sar};
    if (resize_filter) {
      picture_rect_t rect{0, 0, options.size->width, options.size->height};
      if (options.rect) rect = *options.rect;
      if (options.fit) rect = fit_rect(trak.width, trak.height, trak.sar, *options.size);
      pictures = resize_filter->create(host, std::move(pictures), options.size->width,
                                       options.size->height, rect.x, rect.y, rect.width,
                                       rect.height, transcoder_config_t{resize_filter_name, {}});
      // Scaled pictures have the aspect ratio of their rectangle: square pixels
      // with --fit, and no better guess for a stretched picture.
      description.sar.reset();
    }
    pictures = std::make_unique<frame_tap_t>(
        std::move(pictures), picture_observer_t(progress, !resize_filter && !options.raw, stop_reason));

    if (raw_writer) {
      // Each picture is released before the next is pulled: assigning the
      // next one to the same variable would hold two pictures at a time.
      for (;;) {
        video::frame_t const frame = (*pictures)();
        if (frame.is_end_of_stream()) break;
        raw_writer->write(frame);
        raw_format = frame.format_;
        raw_width = frame.width_;
        raw_height = frame.height_;
      }
    } else {
      transcoder_config_t config{jpeg_encoder_name, {}};
      if (options.quality) config.attributes.emplace_back("quality", *options.quality);
      std::unique_ptr<sample_source_t> jpegs =
          jpeg_encoder->create(host, std::move(pictures), description, config);
      while (std::optional<full_sample_t> sample = jpegs->read_sample()) jpeg_writer->write(*sample);
    }
    if (raw_writer) raw_writer->finish();
  } catch (const exception& e) {
    progress.finish();
    throw input_error_t(job.input + ": " + input_cause(job.input, e.what()));
  } catch (const output_error_t&) {
    progress.finish();
    throw;
  }
  progress.finish();
  if (stop_reason) throw input_error_t(job.input + ": " + *stop_reason);

  summary.seconds = progress.elapsed_seconds();
  if (raw_writer) {
    summary.pictures = raw_writer->count();
    std::ostringstream output;
    output << raw_writer->name();
    if (raw_format) {
      output << " (" << raw_writer->bytes() << " bytes, last picture " << raw_width << "x"
             << raw_height << " " << ffmpeg_pixel_format_name(*raw_format) << ")";
    }
    summary.output = output.str();
  } else {
    summary.pictures = jpeg_writer->count();
    summary.output = summary.pictures == 0
                         ? jpeg_writer->folder().string() + " (no pictures)"
                         : jpeg_writer->file_of(1).string() +
                               (summary.pictures > 1
                                    ? " ... " + jpeg_writer->file_of(summary.pictures).string()
                                    : std::string());
  }
  return summary;
}

std::string summary_line(const transcode_summary_t& summary) {
  char numbers[96];
  double const fps = summary.seconds > 0 ? static_cast<double>(summary.pictures) / summary.seconds : 0;
  std::snprintf(numbers, sizeof numbers, "%llu pictures in %.2f s (%.1f fps)",
                static_cast<unsigned long long>(summary.pictures), summary.seconds, fps);
  return std::string(numbers) + " -> " + summary.output;
}

}  // namespace vantor::tools
