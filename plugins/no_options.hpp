#pragma once

#include "plugin.hpp"
#include "value_reader.hpp"

namespace vantor::plugins {

// The options record of a component that takes none.
struct no_options_t {};

// A reader over an empty table: a configuration without attributes passes,
// any attribute is refused (the first one is named).
using no_options_reader_t = transcoder_options::value_reader_t<no_options_t>;

inline void check_no_options(const no_options_reader_t& reader, const transcoder_config_t& config) {
  no_options_t options;
  reader.read(options, config.implementation, config.attributes);
}

}  // namespace vantor::plugins
