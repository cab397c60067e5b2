#include "input_pictures.hpp"

#include <limits>
#include <optional>
#include <utility>

#include "exception.hpp"
#include "libav/libav_helpers.hpp"
#include "plugin_set.hpp"
#include "stages/picture_picker.hpp"
#include "stages/presentation_window.hpp"
#include "stages/sample_trace.hpp"
#include "stages/stop_gate.hpp"
#include "time_value.hpp"

namespace vantor::tools {

namespace {

// The decoded formats the components handle; others fail in the decoder
// with a libav format number, which says less than the name does.
bool is_supported_pixel_format(const std::string& name) {
  return name.empty() || name == "yuv420p" || name == "yuvj420p" || name == "yuv420p10le" ||
         name == "nv12";
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

}  // namespace

std::optional<int64_t> microseconds_of(uint64_t ticks, uint32_t timescale) {
  if (ticks > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
  return libav::rescale(static_cast<int64_t>(ticks), timescale, 1'000'000, libav::rounding_t::down);
}

std::string input_cause(const std::string& path, const std::string& message) {
  std::string const prefix = "file_sample_source: " + path + ": ";
  if (message.compare(0, prefix.size(), prefix) == 0) return message.substr(prefix.size());
  return message;
}

opened_input_t open_input(const std::string& path, uint64_t max_pixels, log_context_t& log_context) {
  opened_input_t input;
  try {
    input.source = sources::file_sample_source_t::open(path, &log_context, max_pixels);
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

decoder_factory_t decoder_factory(host_context_t& host, plugin_set_t& modules, const opened_input_t& input,
                                  std::function<bool()> stop) {
  bool const is_avc = input.trak.codec == codec_t::avc;
  const char* const decoder_name = is_avc ? avc_decoder_name : hvc_decoder_name;
  video_decoder_plugin_t const decoder = is_avc ? modules.avc_decoder() : modules.hvc_decoder();
  return [&host, decoder, decoder_name, stop = std::move(stop)](std::unique_ptr<sample_source_t> samples) {
    samples = std::make_unique<stages::stop_gate_t>(std::move(samples), stop);
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

}  // namespace vantor::tools
