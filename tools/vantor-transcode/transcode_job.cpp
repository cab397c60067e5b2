#include "transcode_job.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <utility>

#include "chunked_decode.hpp"
#include "exception.hpp"
#include "outputs/dash_thumbnails_sink.hpp"
#include "outputs/hls_thumbnails_sink.hpp"
#include "run_limits.hpp"
#include "time_value.hpp"
#include "outputs/jpeg_files_sink.hpp"
#include "outputs/mp4_track_sink.hpp"
#include "outputs/picture_writers.hpp"
#include "outputs/sink_list.hpp"
#include "outputs/webvtt_sink.hpp"
#include "picture_observer.hpp"
#include "picture_stages.hpp"
#include "progress_meter.hpp"

namespace vantor::tools {

namespace {

// The grid the chosen pictures lie on, in the picker's own microseconds:
// tiles of --every, or of the video's length over --count.
outputs::thumbnail_grid_t thumbnail_grid(const tool_options_t& options, const opened_input_t& input) {
  auto const microseconds = [&](uint64_t ticks) {
    return static_cast<uint64_t>(microseconds_of(ticks, input.trak.media_timescale).value_or(0));
  };
  outputs::thumbnail_grid_t grid;
  grid.origin = static_cast<int64_t>(microseconds(input.start_ticks));
  grid.tile_numerator = options.every ? static_cast<uint64_t>(*options.every) : microseconds(input.trak.duration);
  grid.tile_denominator = options.count.value_or(1);
  grid.marks_mid_tile = !options.every;
  return grid;
}

// Where the JPEG samples go, in the order each sample is written: the
// numbered files first (the summary counts them), then every other output.
void add_sinks(outputs::sink_list_t& sinks, const tool_options_t& options, const opened_input_t& input) {
  const char* const pattern = options.sprite ? outputs::sheet_file_pattern : outputs::picture_file_pattern;
  sinks.add(std::make_unique<outputs::jpeg_files_sink_t>(options.output_dir, pattern, options.overwrite));
  if (options.vtt) {
    sinks.add(std::make_unique<outputs::webvtt_sink_t>(*options.vtt, options.output_dir, pattern, options.overwrite));
  }
  if (options.mp4) sinks.add(std::make_unique<outputs::mp4_track_sink_t>(*options.mp4, options.overwrite));
  auto const [columns, rows] = options.sprite.value_or(std::pair<uint32_t, uint32_t>{1, 1});
  outputs::sheet_files_t const sheets{options.output_dir, pattern};
  if (options.dash) {
    sinks.add(std::make_unique<outputs::dash_thumbnails_sink_t>(*options.dash, options.dash_into, sheets,
                                                                thumbnail_grid(options, input), columns, rows,
                                                                options.overwrite));
  }
  if (options.hls) {
    sinks.add(std::make_unique<outputs::hls_thumbnails_sink_t>(*options.hls, options.hls_into, sheets,
                                                               thumbnail_grid(options, input), columns, rows,
                                                               options.overwrite));
  }
}

outputs::track_description_t track_of(const opened_input_t& input) {
  outputs::track_description_t track;
  // A player shows an MPEG-TS from 0 at its first picture, whatever its clock.
  if (input.info.container == "mpegts") track.cue_origin = input.start_ticks;
  return track;
}

// What a drained chain leaves for the summary.
struct drained_t {
  uint64_t pictures = 0;
  std::string output;  // where the pictures went
  bool interrupted = false;  // by Ctrl-C; what was written is complete
  std::optional<std::string> stop_reason;  // the pictures ended early, and why
};

// Tells the caller how many pictures were written on every way out of a
// drain, failures included: those files are kept.
template <typename counter_t>
struct written_report_t {
  uint64_t* target;
  const counter_t& counter;
  ~written_report_t() {
    if (target != nullptr) *target = counter();
  }
};
template <typename counter_t>
written_report_t(uint64_t*, const counter_t&) -> written_report_t<counter_t>;

std::string ffmpeg_pixel_format_name(video::frame_t::format_t format) {
  switch (format) {
    case video::frame_t::format_t::nv12: return "nv12";
    case video::frame_t::format_t::yuv420p: return "yuv420p";
    case video::frame_t::format_t::yuv420p10le: return "yuv420p10le";
  }
  return "unknown";
}

// What the raw output's summary says about the last picture written.
struct raw_picture_t {
  video::frame_t::format_t format;
  uint32_t width;
  uint32_t height;
};

// "- (1234 bytes, last picture 320x240 yuv420p)"
std::string raw_output_text(const outputs::raw_writer_t& writer, const std::optional<raw_picture_t>& last) {
  std::ostringstream output;
  output << writer.name();
  if (last) {
    output << " (" << writer.bytes() << " bytes, last picture " << last->width << "x" << last->height << " "
           << ffmpeg_pixel_format_name(last->format) << ")";
  }
  return output.str();
}

std::unique_ptr<sample_source_t> jpeg_samples(host_context_t& host, std::unique_ptr<video::frame_source_t> pictures,
                                              const video_encoder_plugin_t& encoder,
                                              const video_description_t& description,
                                              const tool_options_t& options) {
  transcoder_config_t config{jpeg_encoder_name, {}};
  if (options.quality) config.attributes.emplace_back("quality", *options.quality);
  return encoder.create(host, std::move(pictures), description, config);
}

// The parts of a job that wants every picture, scaled; none where one chain
// does as well (a file without a complete index, too few sync samples) or
// must (sprite sheets gather the pictures of every part).
std::vector<uint64_t> parallel_chunks(const transcode_job_t& job, const opened_input_t& input) {
  const tool_options_t& options = job.options;
  if (job.decode_threads < 2 || options.raw || !options.size || options.chooses_pictures() ||
      options.sprite) {
    return {};
  }
  // A part's chains cost a few milliseconds to build: a second of video at
  // least makes that small.
  std::vector<uint64_t> starts = chunk_starts(*input.source, input.trak.media_timescale);
  if (starts.size() < 2) starts.clear();
  return starts;
}

// Everything one run is made of, in the order it is made.
struct run_t {
  const transcode_job_t& job;
  host_context_t& host;
  const output_plugins_t& plugins;
  opened_input_t& input;
  decoder_factory_t make_decoder;
  progress_meter_t& progress;
  const run_limits_t& limits;
  uint64_t* written;

  const tool_options_t& options() const { return job.options; }
  // The stages every chain has.
  stage_plan_t plan() const { return stage_plan_t{host, plugins, options(), input.trak, false, {}, false}; }
  // The one chain of the whole stream.
  picture_stages_t one_chain(drained_t& drained, bool needs_constant_size) const {
    stage_plan_t plan = this->plan();
    plan.decode_ahead = job.decode_ahead;
    plan.observer = picture_observer_t(progress, needs_constant_size, drained.stop_reason, limits);
    plan.sheets = options().sprite.has_value();
    return build_picture_stages(plan, decoded_pictures(host, make_decoder, input, options(), job.input));
  }
};

drained_t drain_into_raw(const run_t& run) {
  outputs::raw_writer_t writer(*run.options().raw);
  written_report_t const report{run.written, [&] { return writer.count(); }};
  drained_t drained;
  picture_stages_t const chain = run.one_chain(drained, false);
  std::optional<raw_picture_t> last;
  // Each picture is released before the next is pulled: assigning the next
  // one to the same variable would hold two pictures at a time.
  for (;;) {
    video::frame_t const frame = (*chain.pictures)();
    if (frame.is_end_of_stream()) break;
    writer.write(frame);
    last = raw_picture_t{frame.format_, frame.width_, frame.height_};
  }
  writer.finish();
  drained.pictures = writer.count();
  drained.output = raw_output_text(writer, last);
  return drained;
}

// The parts of the stream decoded at once, their samples written in order.
void drain_parts(const run_t& run, const std::vector<uint64_t>& chunks, outputs::sink_list_t& sinks,
                 drained_t& drained) {
  stage_plan_t const plan = run.plan();
  chunk_chain_t const chain{
      run.make_decoder,
      [&](std::unique_ptr<video::frame_source_t> pictures) {
        return build_picture_stages(plan, std::move(pictures)).pictures;
      },
      [&](std::unique_ptr<video::frame_source_t> pictures) {
        return jpeg_samples(run.host, std::move(pictures), *run.plugins.jpeg_encoder, plan.description(),
                            run.options());
      }};
  uint64_t ticks = 0;
  uint64_t end = 0;
  run_chunked(*run.input.source, run.job.input, chunks, run.job.decode_threads, chain, [&](timed_sample_t timed) {
    if (run.limits.stop_requested()) return false;
    sinks.take(timed.trak, timed.dts, timed.sample);
    ticks += timed.sample.duration();
    end = timed.dts + timed.sample.duration();
    run.progress.update(sinks.written(), static_cast<double>(ticks) / run.input.trak.media_timescale);
    return true;
  });
  sinks.finish(end);
  drained.pictures = sinks.written();
}

// One chain of the whole stream.
void drain_stream(const run_t& run, outputs::sink_list_t& sinks, drained_t& drained) {
  const tool_options_t& options = run.options();
  picture_stages_t chain = run.one_chain(drained, !run.plugins.resize_filter);
  const stages::sprite_compositor_t* const sheets = chain.sheets;
  if (sheets) sinks.describe_sheets({options.size->width, options.size->height, &sheets->tiles()});
  std::unique_ptr<sample_source_t> jpegs = jpeg_samples(run.host, std::move(chain.pictures), *run.plugins.jpeg_encoder,
                                                        run.plan().description(), options);
  uint64_t dts = jpegs->first_dts();
  while (std::optional<full_sample_t> sample = jpegs->read_sample()) {
    sinks.take(jpegs->trak(), dts, *sample);
    dts += sample->duration();
  }
  drained.pictures = sinks.written();
  if (sheets) {
    // A sheet's pictures count once the sheet is written.
    drained.pictures = 0;
    for (const auto& tile : sheets->tiles()) drained.pictures += tile.sheet < sinks.written();
  }
  // The sheets' layout lives in the chain: the index is made before it goes.
  sinks.finish(sheets ? sheets->end_pts().value_or(dts) : dts);
}

drained_t drain_into_sinks(const run_t& run) {
  outputs::sink_list_t sinks(track_of(run.input));
  add_sinks(sinks, run.options(), run.input);
  written_report_t const report{run.written, [&] { return sinks.written(); }};
  drained_t drained;
  std::vector<uint64_t> const chunks = parallel_chunks(run.job, run.input);
  if (!chunks.empty()) {
    drain_parts(run, chunks, sinks, drained);
  } else {
    drain_stream(run, sinks, drained);
  }
  drained.output = sinks.summary();
  return drained;
}

}  // namespace

transcode_summary_t run_transcode(const transcode_job_t& job, log_context_t& log_context,
                                  plugin_set_t& modules, uint64_t* written) {
  host_context_t host(log_context);
  output_plugins_t const plugins = load_output_plugins(job.options, modules);
  run_limits_t const limits(job.options.timeout);
  opened_input_t input = open_input(job.input, job.options.max_pixels, log_context);
  decoder_factory_t make_decoder =
      decoder_factory(host, modules, input, [&limits] { return limits.stop_requested(); });
  progress_meter_t progress(job.show_progress, input.info.duration_seconds);
  uint64_t written_here = 0;
  run_t const run{job, host, plugins, input, std::move(make_decoder), progress, limits,
                  written ? written : &written_here};
  auto const timed_out = [&](uint64_t pictures) {
    return input_error_t(job.input + ": stopped at --timeout " + time_text(*job.options.timeout) + " after " +
                         std::to_string(pictures) + " pictures; the files written are complete");
  };

  drained_t drained;
  try {
    drained = job.options.raw ? drain_into_raw(run) : drain_into_sinks(run);
  } catch (const exception& e) {
    progress.finish();
    // Stopped before the first picture, the chain has nothing to encode and
    // says so in its own terms; the stop is what happened.
    if (limits.timed_out()) throw timed_out(*run.written);
    if (limits.interrupted() && *run.written == 0) {
      transcode_summary_t summary;
      summary.interrupted = true;
      summary.seconds = progress.elapsed_seconds();
      summary.output = job.options.raw ? *job.options.raw : job.options.output_dir + " (no pictures)";
      return summary;
    }
    throw input_error_t(job.input + ": " + input_cause(job.input, e.what()));
  } catch (const outputs::output_error_t&) {
    progress.finish();
    throw;
  }
  progress.finish();
  drained.interrupted = limits.interrupted();
  if (drained.stop_reason) throw input_error_t(job.input + ": " + *drained.stop_reason);
  if (limits.timed_out()) throw timed_out(drained.pictures);
  // A damaged file gives every picture before the damage, then fails.
  if (input.fault->error && !drained.interrupted) {
    throw input_error_t(job.input + ": " + input_cause(job.input, input.fault->error->what()));
  }

  transcode_summary_t summary;
  summary.seconds = progress.elapsed_seconds();
  summary.interrupted = drained.interrupted;
  summary.pictures = drained.pictures;
  summary.output = drained.output;
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
