#pragma once

#include <cstdint>
#include <string>

#include "input_pictures.hpp"
#include "log_context.hpp"
#include "plugin_set.hpp"
#include "tool_options.hpp"

namespace vantor::tools {

struct transcode_summary_t {
  uint64_t pictures = 0;
  double seconds = 0;
  bool interrupted = false;  // Ctrl-C stopped it; what was written is complete
  std::string output;  // where the pictures went, for the summary line
};

struct transcode_job_t {
  std::string input;
  tool_options_t options;  // options.output_dir is this input's JPEG folder
  bool show_progress = false;
  // Threads that decode parts of the input at once (jobs that want every
  // picture, scaled, of an MP4); 1 decodes it as one stream.
  unsigned decode_threads = 1;
  // The decoder on a thread of its own, ahead of scaling and encoding; a
  // batch whose jobs already fill the cores gains nothing from it.
  bool decode_ahead = true;
};

// Decodes `job.input` through the plug-in modules and writes JPEG files or
// raw planes. Throws input_error_t, plugin_error_t and outputs::output_error_t (from
// picture_writers.hpp); the pictures written before a failure are kept and
// counted in `*written` (when given) on every way out.
transcode_summary_t run_transcode(const transcode_job_t& job, log_context_t& log_context,
                                  plugin_set_t& modules, uint64_t* written = nullptr);

// What became of one input: the summary, or the failure's message, which
// starts with the input's name where the cause concerns it.
struct transcode_outcome_t {
  bool failed = false;
  std::string message;
  transcode_summary_t summary;  // on failure: the pictures written before it
};

// run_transcode() with every failure turned into an outcome; never throws.
transcode_outcome_t transcode_one(const transcode_job_t& job, log_context_t& log_context,
                                  plugin_set_t& modules) noexcept;

// "75 pictures in 0.84 s (89.3 fps) -> out/000001.jpg ... out/000075.jpg"
std::string summary_line(const transcode_summary_t& summary);

}  // namespace vantor::tools
