#include "transcode_job.hpp"

#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <utility>

#include "chunked_decode.hpp"
#include "stages/decode_ahead.hpp"
#include "exception.hpp"
#include "interruption.hpp"
#include "jpeg_outputs.hpp"
#include "stages/frame_tap.hpp"
#include "outputs/picture_writers.hpp"
#include "plugin_loader.hpp"
#include "progress_meter.hpp"
#include "stages/sample_trace.hpp"
#include "time_value.hpp"
#include "sources/file_sample_source.hpp"
#include "stages/fit_rect.hpp"
#include "stages/seeking_picture_source.hpp"
#include "stages/orientation_stage.hpp"
#include "stages/picture_picker.hpp"
#include "stages/presentation_window.hpp"
#include "stages/sprite_compositor.hpp"

namespace vantor::tools {

namespace {

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
                     std::optional<std::string>& stop_reason, bool& interrupted)
      : progress_(progress),
        needs_constant_size_(needs_constant_size),
        stop_reason_(stop_reason),
        interrupted_(interrupted) {}

  bool operator()(const video::frame_t& frame) {
    if (interrupt_requested()) {
      interrupted_ = true;
      return false;
    }
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
  bool& interrupted_;
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

// The modules that shape the output, loaded before anything is read: a
// broken installation is reported before any output.
struct output_plugins_t {
  std::optional<video_filter_resize_plugin_t> resize_filter;
  std::optional<video_encoder_plugin_t> jpeg_encoder;
};

output_plugins_t load_output_plugins(const transcode_job_t& job, plugin_set_t& modules) {
  output_plugins_t plugins;
  if (job.options.size) plugins.resize_filter.emplace(modules.resize_filter());
  if (!job.options.raw) plugins.jpeg_encoder.emplace(modules.jpeg_encoder());
  return plugins;
}

// `ticks` of `timescale` in microseconds (rounded down); none when that
// does not fit or there is no timescale.
std::optional<int64_t> microseconds_of(uint64_t ticks, uint32_t timescale) {
  if (timescale == 0) return std::nullopt;
  unsigned __int128 const scaled = static_cast<unsigned __int128>(ticks) * 1'000'000 / timescale;
  if (scaled > static_cast<unsigned __int128>(std::numeric_limits<int64_t>::max())) return std::nullopt;
  return static_cast<int64_t>(scaled);
}

// The input file, refused early when its video is nothing the chain takes.
struct opened_input_t {
  std::unique_ptr<sources::file_sample_source_t> source;
  sources::file_stream_info_t info;
  trak_t trak;
  uint64_t presentation_start = 0;
  uint64_t start_ticks = 0;  // where the video starts; the options' times count from here
  std::shared_ptr<const sources::source_fault_t> fault;  // reported once the chain has drained
};

opened_input_t open_input(const std::string& path) {
  opened_input_t input;
  try {
    input.source = sources::file_sample_source_t::open(path);
  } catch (const exception& e) {
    throw input_error_t(path + ": " + input_cause(path, e.what()));
  }
  input.info = input.source->stream_info();
  input.trak = input.source->trak();
  input.presentation_start = input.source->presentation_start();
  input.start_ticks = input.source->start_time();
  input.fault = input.source->fault();
  if (!is_supported_pixel_format(input.info.pixel_format_name)) {
    throw input_error_t(path + ": unsupported pixel format " + input.info.pixel_format_name +
                        " (4:2:0 video, 8 or 10 bits, is supported)");
  }
  if (input.trak.codec != codec_t::avc && input.trak.codec != codec_t::hevc)
    throw input_error_t(path + ": no H.264 or HEVC video stream");
  return input;
}

// The track as shown once the orientation stage has turned it upright.
trak_t upright_trak(trak_t trak) {
  if (trak.orientation.swaps_axes()) {
    std::swap(trak.width, trak.height);
    if (trak.sar) trak.sar = fraction_t<unsigned int, unsigned int>{trak.sar->den, trak.sar->num};
  }
  trak.orientation = {};
  return trak;
}

// The video's length in microseconds; none when the file does not say.
std::optional<int64_t> duration_microseconds(const trak_t& trak) {
  if (trak.duration == 0) return std::nullopt;
  return microseconds_of(trak.duration, trak.media_timescale);
}

// The pictures the options ask for, in a video of `trak`'s length.
stages::picture_choice_t picture_choice(const tool_options_t& options, const trak_t& trak,
                                       int64_t origin, const std::string& path) {
  stages::picture_choice_t choice;
  choice.start = options.start.value_or(0);
  choice.every = options.every;
  choice.count = options.count;
  choice.keyframes_only = options.keyframes;
  choice.skip_flat = !options.keep_flat && choice.has_marks();
  std::optional<int64_t> const length = duration_microseconds(trak);
  choice.end = options.end;
  if (length) {
    if (choice.start >= *length) {
      throw input_error_t(path + ": --start " + time_text(choice.start) +
                          " lies beyond the end of the video (" + time_text(*length) + ")");
    }
    if (!choice.end || *choice.end > *length) choice.end = *length;
  } else if (options.count && !options.end) {
    throw input_error_t(path + ": --count spreads the pictures over the video's length, which the "
                               "file does not give; give --end as well");
  }
  choice.start += origin;
  if (choice.end) *choice.end += origin;
  return choice;
}

// The decoded pictures on the container's timeline: every one of them, or,
// when the options choose some, the chosen ones, decoding only what they
// need (a picture not chosen is never turned, scaled or encoded).
using decoder_factory_t = stages::seeking_picture_source_t::decoder_factory_t;

decoder_factory_t decoder_factory(host_context_t& host, const video_decoder_plugin_t& decoder,
                                  const char* decoder_name) {
  return [&host, decoder, decoder_name](std::unique_ptr<sample_source_t> samples) {
    return decoder.create(host, std::make_unique<stages::sample_trace_t>(std::move(samples), host.log_context),
                          transcoder_config_t{decoder_name, {}});
  };
}

std::unique_ptr<video::frame_source_t> decoded_pictures(host_context_t& host,
                                                        const decoder_factory_t& make_decoder,
                                                        opened_input_t& input,
                                                        const tool_options_t& options,
                                                        const std::string& path) {
  if (!options.chooses_pictures()) {
    return std::make_unique<stages::presentation_window_t>(make_decoder(std::move(input.source)),
                                                          input.presentation_start);
  }
  int64_t const origin = microseconds_of(input.start_ticks, input.trak.media_timescale).value_or(0);
  stages::picture_choice_t const choice = picture_choice(options, input.trak, origin, path);
  using samples_t = stages::seeking_picture_source_t::samples_t;
  samples_t const samples = !options.keyframes  ? samples_t::needed
                            : choice.has_marks() ? samples_t::one_sync_per_decoder
                                                 : samples_t::sync;
  auto seeking = std::make_unique<stages::seeking_picture_source_t>(host.log_context, std::move(input.source),
                                                            make_decoder, samples);
  stages::seeking_picture_source_t& wanted = *seeking;
  // The picker owns the seeking source, so the callback never outlives it.
  return std::make_unique<stages::picture_picker_t>(
      host.log_context, std::move(seeking), choice,
      [&wanted](int64_t microseconds) { wanted.want_from(microseconds); });
}

// What follows the decoder: the orientation stage unless the stored
// orientation is kept, then the resize filter when a size is asked for.
// `decode_ahead` puts the decoder on a thread of its own.
struct picture_stages_t {
  host_context_t& host;
  const output_plugins_t& plugins;
  const tool_options_t& options;
  trak_t stored;  // the track as the file stores it
  bool decode_ahead = false;

  bool turns() const { return options.autorotate && !stored.orientation.is_identity(); }
  trak_t shown() const { return turns() ? upright_trak(stored) : stored; }
  // What the JPEG encoder is told about the pictures that come out.
  video_description_t description() const {
    // Scaled pictures have the aspect ratio of their rectangle: square pixels
    // with --fit, and no better guess for a stretched picture.
    return video_description_t{plugins.resize_filter ? std::nullopt : shown().sar};
  }
  std::unique_ptr<video::frame_source_t> operator()(std::unique_ptr<video::frame_source_t> pictures) const;
};

std::unique_ptr<video::frame_source_t> picture_stages_t::operator()(
    std::unique_ptr<video::frame_source_t> pictures) const {
  if (turns()) {
    pictures = std::make_unique<stages::orientation_stage_t>(host.log_context, std::move(pictures),
                                                            stored.orientation);
  }
  // Two pictures ahead keep both threads busy; more would only cost memory.
  if (decode_ahead) pictures = std::make_unique<stages::decode_ahead_t>(std::move(pictures), 2);
  trak_t const trak = shown();
  if (plugins.resize_filter) {
    stages::picture_size_t const size = stages::complete_size(trak.width ? trak.width : 1, trak.height ? trak.height : 1,
                                              trak.sar, *options.size);
    stages::picture_rect_t rect{0, 0, size.width, size.height};
    if (options.rect) rect = *options.rect;
    if (options.fit) rect = stages::fit_rect(trak.width, trak.height, trak.sar, size);
    pictures = plugins.resize_filter->create(host, std::move(pictures), size.width,
                                             size.height, rect.x, rect.y, rect.width,
                                             rect.height, transcoder_config_t{resize_filter_name, {}});
  }
  return pictures;
}

// What the raw output's summary says about the last picture written.
struct raw_picture_t {
  video::frame_t::format_t format;
  uint32_t width;
  uint32_t height;
};

std::optional<raw_picture_t> drain_into_raw(video::frame_source_t& pictures, outputs::raw_writer_t& writer) {
  std::optional<raw_picture_t> last;
  // Each picture is released before the next is pulled: assigning the next
  // one to the same variable would hold two pictures at a time.
  for (;;) {
    video::frame_t const frame = pictures();
    if (frame.is_end_of_stream()) break;
    writer.write(frame);
    last = raw_picture_t{frame.format_, frame.width_, frame.height_};
  }
  writer.finish();
  return last;
}

std::unique_ptr<sample_source_t> jpeg_samples(host_context_t& host, std::unique_ptr<video::frame_source_t> pictures,
                                              const video_encoder_plugin_t& encoder,
                                              const video_description_t& description,
                                              const tool_options_t& options) {
  transcoder_config_t config{jpeg_encoder_name, {}};
  if (options.quality) config.attributes.emplace_back("quality", *options.quality);
  return encoder.create(host, std::move(pictures), description, config);
}

// The chunks of a job that wants every picture, scaled; none where one chain
// does as well (a file without a complete index, too few sync samples) or
// must (sprite sheets gather the pictures of every chunk).
std::vector<uint64_t> parallel_chunks(const transcode_job_t& job, const opened_input_t& input) {
  const tool_options_t& options = job.options;
  if (job.decode_threads < 2 || options.raw || !options.size || options.chooses_pictures() ||
      options.sprite) {
    return {};
  }
  // A chunk's chains cost a few milliseconds to build: a second of video at
  // least makes that small.
  std::vector<uint64_t> starts = chunk_starts(*input.source, input.trak.media_timescale);
  if (starts.size() < 2) starts.clear();
  return starts;
}

std::string raw_output_text(const outputs::raw_writer_t& writer, const std::optional<raw_picture_t>& last) {
  std::ostringstream output;
  output << writer.name();
  if (last) {
    output << " (" << writer.bytes() << " bytes, last picture " << last->width << "x"
           << last->height << " " << ffmpeg_pixel_format_name(last->format) << ")";
  }
  return output.str();
}

std::string jpeg_files_text(const outputs::jpeg_folder_writer_t& writer) {
  uint64_t const pictures = writer.count();
  if (pictures == 0) return writer.folder().string() + " (no pictures)";
  std::string text = writer.file_of(1).string();
  if (pictures > 1) text += " ... " + writer.file_of(pictures).string();
  return text;
}

std::string jpeg_output_text(const outputs::jpeg_folder_writer_t& writer, const tool_options_t& options) {
  std::string text = jpeg_files_text(writer);
  if (options.vtt) text += ", " + *options.vtt;
  if (options.mp4) text += ", " + *options.mp4;
  return text;
}

// Tells the caller how many pictures were written on every way out of a
// run, failures included: those files are kept.
struct written_count_t {
  uint64_t* target;
  const std::optional<outputs::raw_writer_t>& raw_writer;
  const std::optional<jpeg_outputs_t>& outputs;

  ~written_count_t() {
    if (target == nullptr) return;
    *target = raw_writer ? raw_writer->count() : outputs ? outputs->files().count() : 0;
  }
};

jpeg_outputs_t::settings_t output_settings(const tool_options_t& options, const opened_input_t& input) {
  jpeg_outputs_t::settings_t settings;
  settings.folder = options.output_dir;
  settings.sheets = options.sprite.has_value();
  if (options.vtt) settings.vtt = *options.vtt;
  if (options.mp4) settings.mp4 = *options.mp4;
  settings.overwrite = options.overwrite;
  // A player shows an MPEG-TS from 0 at its first picture, whatever its clock.
  if (input.info.container == "mpegts") settings.cue_origin = input.start_ticks;
  return settings;
}

}  // namespace

transcode_summary_t run_transcode(const transcode_job_t& job, log_context_t& log_context,
                                  plugin_set_t& modules, uint64_t* written) {
  tool_options_t const& options = job.options;
  host_context_t host(log_context);

  output_plugins_t const plugins = load_output_plugins(job, modules);
  opened_input_t input = open_input(job.input);
  bool const is_avc = input.trak.codec == codec_t::avc;
  const char* const decoder_name = is_avc ? avc_decoder_name : hvc_decoder_name;
  auto const decoder = is_avc ? modules.avc_decoder() : modules.hvc_decoder();

  progress_meter_t progress(job.show_progress, input.info.duration_seconds);
  std::optional<jpeg_outputs_t> outputs;
  std::optional<outputs::raw_writer_t> raw_writer;
  if (options.raw) {
    raw_writer.emplace(*options.raw);
  } else {
    outputs.emplace(output_settings(options, input));
  }
  written_count_t const count_on_exit{written, raw_writer, outputs};

  std::optional<std::string> stop_reason;
  bool interrupted = false;
  std::optional<uint64_t> pictures_on_sheets;
  std::optional<raw_picture_t> last_raw_picture;
  try {
    decoder_factory_t const make_decoder = decoder_factory(host, decoder, decoder_name);
    picture_stages_t stages{host, plugins, options, input.trak};
    std::vector<uint64_t> const chunks = parallel_chunks(job, input);
    if (!chunks.empty()) {
      chunk_chain_t const chain{make_decoder, stages, [&](std::unique_ptr<video::frame_source_t> pictures) {
                                  return jpeg_samples(host, std::move(pictures), *plugins.jpeg_encoder,
                                                      stages.description(), options);
                                }};
      uint64_t ticks = 0;
      run_chunked(job.input, chunks, job.decode_threads, chain, [&](timed_sample_t timed) {
        if (interrupt_requested()) return !(interrupted = true);
        outputs->write(timed.trak, timed.dts, timed.sample);
        ticks += timed.sample.duration();
        progress.update(outputs->files().count(), static_cast<double>(ticks) / input.trak.media_timescale);
        return true;
      });
    } else {
      // One chain; its decoder runs on a thread of its own.
      stages.decode_ahead = true;
      std::unique_ptr<video::frame_source_t> pictures =
          stages(decoded_pictures(host, make_decoder, input, options, job.input));
      pictures = std::make_unique<stages::frame_tap_t>(
          std::move(pictures),
          picture_observer_t(progress, !plugins.resize_filter && !options.raw, stop_reason, interrupted));
      stages::sprite_compositor_t* sheets = nullptr;
      if (options.sprite) {
        auto compositor = std::make_unique<stages::sprite_compositor_t>(std::move(pictures), options.sprite->first,
                                                                       options.sprite->second);
        sheets = compositor.get();
        pictures = std::move(compositor);
      }
      if (raw_writer) {
        last_raw_picture = drain_into_raw(*pictures, *raw_writer);
      } else {
        std::unique_ptr<sample_source_t> jpegs =
            jpeg_samples(host, std::move(pictures), *plugins.jpeg_encoder, stages.description(), options);
        uint64_t dts = jpegs->first_dts();
        while (std::optional<full_sample_t> sample = jpegs->read_sample()) {
          outputs->write(jpegs->trak(), dts, *sample);
          dts += sample->duration();
        }
        if (sheets) {
          pictures_on_sheets = 0;
          for (const auto& tile : sheets->tiles()) *pictures_on_sheets += tile.sheet < outputs->files().count();
          outputs->add_tile_cues(sheets->tiles(), sheets->end_pts().value_or(dts), options.size->width,
                                 options.size->height);
        }
      }
    }
    if (outputs) outputs->finish();
  } catch (const exception& e) {
    progress.finish();
    throw input_error_t(job.input + ": " + input_cause(job.input, e.what()));
  } catch (const outputs::output_error_t&) {
    progress.finish();
    throw;
  }
  progress.finish();
  if (stop_reason) throw input_error_t(job.input + ": " + *stop_reason);
  // A damaged file gives every picture before the damage, then fails.
  if (input.fault->error && !interrupted) {
    throw input_error_t(job.input + ": " + input_cause(job.input, input.fault->error->what()));
  }

  transcode_summary_t summary;
  summary.seconds = progress.elapsed_seconds();
  summary.interrupted = interrupted;
  summary.pictures = raw_writer ? raw_writer->count() : pictures_on_sheets.value_or(outputs->files().count());
  summary.output = raw_writer ? raw_output_text(*raw_writer, last_raw_picture)
                              : jpeg_output_text(outputs->files(), options);
  return summary;
}

std::string summary_line(const transcode_summary_t& summary) {
  char numbers[96];
  double const fps = summary.seconds > 0 ? static_cast<double>(summary.pictures) / summary.seconds : 0;
  std::snprintf(numbers, sizeof numbers, "%llu pictures in %.2f s (%.1f fps)",
                static_cast<unsigned long long>(summary.pictures), summary.seconds, fps);
  return std::string(numbers) + " -> " + summary.output;
}

transcode_outcome_t transcode_one(const transcode_job_t& job, log_context_t& log_context,
                                  plugin_set_t& modules) noexcept {
  transcode_outcome_t outcome;
  uint64_t written = 0;
  auto const failed = [&](const std::string& message) {
    outcome.failed = true;
    outcome.message = message;
    outcome.summary.pictures = written;
  };
  try {
    outcome.summary = run_transcode(job, log_context, modules, &written);
  } catch (const input_error_t& e) {
    failed(e.what());
  } catch (const plugin_error_t& e) {
    failed(e.what());
  } catch (const outputs::output_error_t& e) {
    failed(e.what());
  } catch (const std::bad_alloc&) {
    failed(job.input + ": out of memory");
  } catch (const std::exception& e) {
    failed(job.input + ": " + e.what());
  }
  return outcome;
}

}  // namespace vantor::tools
