#include "batch_run.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include <nlohmann/json.hpp>

#include "interruption.hpp"
#include "log_context.hpp"
#include "printable_text.hpp"

namespace vantor::tools {

namespace {

bool is_blank(const std::string& line) {
  return std::all_of(line.begin(), line.end(), [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
  });
}

// The failure without the input's name in front: the line names it already.
std::string cause_of(const batch_input_t& input, const std::string& message) {
  std::string const prefix = input.path + ": ";
  if (message.compare(0, prefix.size(), prefix) == 0) return message.substr(prefix.size());
  return message;
}

// The components' messages of one chain, on standard error with the input's
// name, so that the lines of chains running at once can be told apart.
log_context_t::sink_t chain_sink(const std::string& path) {
  return [prefix = printable(path) + ": ", sink = log_context_t::stderr_sink()](
             vantor_log_level_t level, std::string_view text) { sink(level, prefix + std::string(text)); };
}

}  // namespace

std::vector<batch_input_t> parse_batch_list(std::istream& list) {
  std::vector<batch_input_t> inputs;
  size_t number = 0;
  for (std::string line; std::getline(list, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (is_blank(line)) continue;
    inputs.push_back(batch_input_t{line, number, {}});
  }
  return inputs;
}

std::vector<batch_input_t> read_batch_list(const std::string& list) {
  auto const unreadable = [&](const std::string& cause) {
    return usage_error_t("--batch " + list + ": cannot read the list: " + cause);
  };
  if (list == "-") {
    std::vector<batch_input_t> inputs = parse_batch_list(std::cin);
    if (std::cin.bad()) throw unreadable("a read error on standard input");
    return inputs;
  }
  std::error_code error;
  if (std::filesystem::is_directory(list, error)) throw unreadable("it is a folder");
  errno = 0;
  std::ifstream file(list);
  if (!file) {
    throw unreadable(errno != 0 ? std::generic_category().message(errno)
                                : std::string("it cannot be opened"));
  }
  std::vector<batch_input_t> inputs = parse_batch_list(file);
  if (file.bad()) throw unreadable("a read error");
  return inputs;
}

void assign_output_folders(std::vector<batch_input_t>& inputs, const std::string& output_dir) {
  std::set<std::string> taken;
  for (batch_input_t& input : inputs) {
    std::string name = std::filesystem::path(input.path).filename().string();
    if (name.empty() || name == "." || name == "..") name = "input";
    std::string unique = name;
    for (unsigned copy = 2; taken.count(unique) != 0; ++copy) unique = name + "~" + std::to_string(copy);
    taken.insert(unique);
    input.output_dir = (std::filesystem::path(output_dir) / unique).string();
  }
}

std::string batch_json_line(const batch_input_t& input, const transcode_outcome_t& outcome,
                            double seconds) {
  nlohmann::ordered_json line{
      {"path", input.path},
      {"line", input.line},
      {"output", input.output_dir},
      {"status", outcome.failed ? 1 : outcome.summary.interrupted ? exit_interrupted : 0},
      {"pictures", outcome.summary.pictures},
      {"seconds", std::round(seconds * 1000) / 1000},  // to the millisecond, e.g. 0.052
      {"message", nullptr}};
  if (outcome.failed) line["message"] = cause_of(input, outcome.message);
  else if (outcome.summary.interrupted) line["message"] = "interrupted";
  // File names need not be UTF-8: a byte that is not becomes U+FFFD, so
  // the line stays valid JSON and names the rest of the path.
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

batch_totals_t run_batch(const std::vector<batch_input_t>& inputs, const tool_options_t& options,
                         unsigned jobs, plugin_set_t& modules, std::FILE* out) {
  batch_totals_t totals;
  totals.inputs = inputs.size();
  std::atomic<size_t> next{0};
  std::mutex totals_mutex;  // guards `totals` and `out`
  unsigned const wanted = static_cast<unsigned>(std::min<size_t>(std::max(jobs, 1u), inputs.size()));
  // Chains that already use every core would only contend with a decoding
  // thread of their own.
  bool const decode_ahead = wanted < std::max(std::thread::hardware_concurrency(), 1u);

  auto const convert = [&](const batch_input_t& input) {
    transcode_job_t job;
    job.input = input.path;
    job.options = options;
    job.options.output_dir = input.output_dir;
    job.decode_ahead = decode_ahead;
    log_context_t log_context(options.log_level, chain_sink(input.path));
    auto const start = std::chrono::steady_clock::now();
    transcode_outcome_t const outcome = transcode_one(job, log_context, modules);
    double const seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string const line = batch_json_line(input, outcome, seconds);

    std::lock_guard<std::mutex> lock(totals_mutex);
    totals.failed += outcome.failed ? 1 : 0;
    totals.pictures += outcome.summary.pictures;
    // Flushed per line, so that a reader sees each input when it is done.
    if (std::fputs(line.c_str(), out) < 0 || std::fflush(out) != 0) totals.output_failed = true;
  };
  // Every chain is made, run and destroyed on the thread that took its input.
  auto const worker = [&]() {
    // After Ctrl-C, no further input is started.
    for (size_t i; !interrupt_requested() && (i = next.fetch_add(1)) < inputs.size();) {
      try {
        convert(inputs[i]);
      } catch (const std::exception& e) {  // out of memory composing the line
        std::fprintf(stderr, "vantor-transcode: %s: %s\n", printable(inputs[i].path).c_str(), e.what());
        std::lock_guard<std::mutex> lock(totals_mutex);
        ++totals.failed;
        totals.output_failed = true;
      }
    }
  };

  std::vector<std::thread> threads;
  threads.reserve(wanted);
  // This thread is one of the workers.
  for (unsigned i = 1; i < wanted; ++i) {
    try {
      threads.emplace_back(worker);
    } catch (const std::system_error& e) {
      std::fprintf(stderr, "vantor-transcode: only %u of %u chains can run at once: %s\n", i, wanted,
                   e.what());
      break;
    }
  }
  totals.threads = static_cast<unsigned>(threads.size()) + (inputs.empty() ? 0 : 1);
  worker();
  for (std::thread& thread : threads) thread.join();
  return totals;
}

}  // namespace vantor::tools
