// vantor-transcode: decodes the video of a media file through the plug-in
// modules and writes JPEG pictures or raw planes.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <new>
#include <string>

#include "log_context.hpp"
#include "plugin_set.hpp"
#include "tool_locations.hpp"
#include "tool_options.hpp"
#include "tool_version.hpp"
#include "transcode_job.hpp"

namespace {

constexpr int exit_done = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;

int fail(const std::string& message) {
  std::fprintf(stderr, "vantor-transcode: %s\n", message.c_str());
  return exit_failed;
}

}  // namespace


int main(int argc, char** argv) {
  using namespace vantor::tools;
  tool_options_t options;
  try {
    options = parse_tool_options(argc, argv);
  } catch (const usage_error_t& e) {
    std::fprintf(stderr, "vantor-transcode: %s\nTry 'vantor-transcode --help' for more information.\n",
                 e.what());
    return exit_usage;
  }
  if (options.help) {
    std::fputs(tool_help_text().c_str(), stdout);
    return exit_done;
  }
  if (options.version) {
    plugin_set_t modules(options.plugins_dir.empty() ? default_plugins_folder() : options.plugins_dir);
    std::string problem;
    std::printf("%s\n", version_text(modules, &problem).c_str());
    if (!problem.empty()) std::fprintf(stderr, "vantor-transcode: %s\n", problem.c_str());
    return exit_done;
  }

  transcode_job_t job;
  job.options = options;
  job.input = options.input.empty() ? bundled_clip_path() : options.input;
  if (job.input.empty()) return fail("the bundled sample clip is not installed; name an INPUT file");
  job.show_progress = isatty(STDERR_FILENO) != 0;
  bool const raw_to_stdout = options.raw && *options.raw == "-";
  // A reader that stops early (ffplay closed) must end the run with an
  // error message rather than a signal.
  if (raw_to_stdout) std::signal(SIGPIPE, SIG_IGN);

  try {
    plugin_set_t modules(options.plugins_dir.empty() ? default_plugins_folder() : options.plugins_dir);
    vantor::log_context_t log_context(options.log_level);
    transcode_outcome_t const outcome = transcode_one(job, log_context, modules);
    if (outcome.failed) return fail(outcome.message);
    std::fprintf(raw_to_stdout ? stderr : stdout, "vantor-transcode: %s\n",
                 summary_line(outcome.summary).c_str());
    return exit_done;
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  }
}
