#pragma once

#include <string_view>
#include <vector>

#include "tool_options.hpp"

namespace vantor::tools {

// Why an option cannot go without, or with, another one. The usage error
// is the option's name followed by `reason`.
struct option_relation_t {
  const char* other;  // the other option's long name, e.g. "--size"
  const char* reason;
};

// One option of vantor-transcode, in the manner of FFmpeg's OptionDef: the
// parser and --help both read it, so they cannot drift apart.
struct option_row_t {
  const char* short_name;    // "-o", or nullptr
  const char* long_name;     // "--output"; nullptr for the INPUT operand
  const char* argument;      // "DIR"; nullptr for a switch
  const char* help;
  const char* default_text;  // what holds without the option; nullptr: nothing to say
  void (*apply)(tool_options_t& options, std::string_view value);
  std::vector<option_relation_t> needs;     // options that must be given as well
  std::vector<option_relation_t> excludes;  // options that must not be

  // The name messages use: the short one, as people type it.
  const char* name() const noexcept { return short_name ? short_name : long_name; }
};

// Every option in the order of --help; the INPUT operand comes first.
const std::vector<option_row_t>& option_table();

}  // namespace vantor::tools
