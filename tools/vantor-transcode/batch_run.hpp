#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <istream>
#include <string>
#include <vector>

#include "plugin_set.hpp"
#include "tool_options.hpp"
#include "transcode_job.hpp"

namespace vantor::tools {

// One input of --batch.
struct batch_input_t {
  std::string path;        // as the list gives it
  size_t line = 0;         // its line in the list, from 1
  std::string output_dir;  // DIR/NAME, unique within the batch
};

// The paths of a list, one per line. Lines of nothing but blanks are
// skipped; a CR before the newline is dropped (lists written on Windows).
std::vector<batch_input_t> parse_batch_list(std::istream& list);

// parse_batch_list() of the file `list`, or of standard input for "-".
// Throws usage_error_t when it cannot be read.
std::vector<batch_input_t> read_batch_list(const std::string& list);

// Gives every input the folder `output_dir`/NAME, NAME being its file name
// ("input" where the path has none, as in "dir/"). In list order, an input
// whose NAME is taken gets the first free NAME~2, NAME~3, ...
void assign_output_folders(std::vector<batch_input_t>& inputs, const std::string& output_dir);

// The JSON line of a finished input, newline included:
// {"path":..,"line":..,"output":..,"status":0|1,"pictures":..,"seconds":..,"message":..|null}
// Bytes of a name that are not UTF-8 become U+FFFD.
std::string batch_json_line(const batch_input_t& input, const transcode_outcome_t& outcome,
                            double seconds);

struct batch_totals_t {
  size_t inputs = 0;
  size_t failed = 0;
  uint64_t pictures = 0;  // written, failed inputs included
  unsigned threads = 0;   // that ran chains
  bool output_failed = false;  // a JSON line could not be written
};

// Converts every input with `options` (output_dir set per input), `jobs`
// chains at once, each chain on one thread with its own log context, all
// sharing `modules`. Writes each input's JSON line to `out` when it is done.
batch_totals_t run_batch(const std::vector<batch_input_t>& inputs, const tool_options_t& options,
                         unsigned jobs, plugin_set_t& modules, std::FILE* out);

}  // namespace vantor::tools
