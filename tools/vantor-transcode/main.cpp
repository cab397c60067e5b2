// vantor-transcode: decodes the video of a media file through the plug-in
// modules and writes JPEG pictures or raw planes; --batch does so for every
// file of a list, several at once.
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "batch_run.hpp"
#include "interruption.hpp"
#include "memory_ceiling.hpp"
#include "log_context.hpp"
#include "plugin_set.hpp"
#include "printable_text.hpp"
#include "tool_locations.hpp"
#include "tool_options.hpp"
#include "tool_version.hpp"
#include "transcode_job.hpp"

namespace {

constexpr int exit_done = 0;
constexpr int exit_failed = 1;
constexpr int exit_usage = 2;

// Standard output is for data alone (raw planes, batch JSON lines): every
// line for people goes to standard error, as with ffmpeg. File names in it
// are made printable.
void say(const std::string& message) {
  std::fprintf(stderr, "vantor-transcode: %s\n", vantor::tools::printable(message).c_str());
}

int fail(const std::string& message) {
  say(message);
  return exit_failed;
}

int usage_failure(const std::string& message) {
  say(message);
  std::fputs("Try 'vantor-transcode --help' for more information.\n", stderr);
  return exit_usage;
}

int run_single(const vantor::tools::tool_options_t& options, vantor::tools::plugin_set_t& modules) {
  using namespace vantor::tools;
  transcode_job_t job;
  job.options = options;
  job.input = options.input.empty() ? bundled_clip_path() : options.input;
  if (job.input.empty()) return fail("the bundled sample clip is not installed; name an INPUT file");
  job.show_progress = isatty(STDERR_FILENO) != 0;
  job.decode_threads = options.threads.value_or(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
  // Pictures are megabytes each, and the chain allocates them picture by
  // picture (a fresh decoder for many marks allocates its pool anew too).
  // By default glibc maps each from the kernel and unmaps it when freed, so
  // every picture's pages are faulted in and zeroed again: a fifth of an
  // every-picture job's CPU time. Kept in the heap, they are reused. One
  // heap for all threads: a picture made on the decoding thread and freed
  // on another went back to a per-thread arena, whose heaps glibc shrinks
  // and faults in again (a 2160p thumbnail job spent a third of its CPU
  // time in the kernel).
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
  mallopt(M_ARENA_MAX, 1);
  // A reader of raw planes that stops early (ffplay closed) must end the
  // run with an error message rather than a signal.
  if (options.raw && *options.raw == "-") std::signal(SIGPIPE, SIG_IGN);

  vantor::log_context_t log_context(options.log_level);
  transcode_outcome_t const outcome = transcode_one(job, log_context, modules);
  if (outcome.failed) return fail(outcome.message);
  say((outcome.summary.interrupted ? "interrupted: " : "") + summary_line(outcome.summary));
  return outcome.summary.interrupted ? exit_interrupted : exit_done;
}

int run_batch_mode(const vantor::tools::tool_options_t& options,
                   const std::vector<vantor::tools::batch_input_t>& inputs,
                   vantor::tools::plugin_set_t& modules) {
  using namespace vantor::tools;
  // The conversions matter more than their report: a reader of the JSON
  // lines that goes away (| head) ends no conversion; the status says so.
  std::signal(SIGPIPE, SIG_IGN);
  unsigned const cores = std::thread::hardware_concurrency();
  unsigned const jobs = options.jobs ? *options.jobs : cores > 0 ? cores : 1;
  auto const start = std::chrono::steady_clock::now();
  batch_totals_t const totals = run_batch(inputs, options, jobs, modules, stdout);
  double const seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr,
               "vantor-transcode: %zu inputs, %zu failed, %llu pictures in %.2f s (%u at once)\n",
               totals.inputs, totals.failed, static_cast<unsigned long long>(totals.pictures),
               seconds, totals.threads);
  if (totals.output_failed) return fail("standard output: cannot write the results");
  if (interrupt_requested()) return exit_interrupted;
  return totals.failed != 0 ? exit_failed : exit_done;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vantor::tools;
  tool_options_t options;
  std::vector<batch_input_t> batch;
  try {
    options = parse_tool_options(argc, argv);
    if (!options.help && !options.version && options.batch_list) {
      batch = read_batch_list(*options.batch_list);
      assign_output_folders(batch, options.output_dir);
    }
  } catch (const usage_error_t& e) {
    return usage_failure(e.what());
  } catch (const std::bad_alloc&) {
    return fail("out of memory reading the arguments");
  }
  if (options.help) {
    std::fputs(tool_help_text().c_str(), stdout);
    return exit_done;
  }

  install_interrupt_handler();
  bound_libav_allocations(options);
  try {
    plugin_set_t modules(options.plugins_dir.empty() ? default_plugins_folder() : options.plugins_dir);
    if (options.version) {
      std::string problem;
      std::printf("%s\n", version_text(modules, &problem).c_str());
      if (!problem.empty()) say(problem);
      return exit_done;
    }
    if (options.batch_list) return run_batch_mode(options, batch, modules);
    return run_single(options, modules);
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  }
}
