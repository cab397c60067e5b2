#pragma once

// Fuzz entry: the option reader of the plug-in modules and the host's
// number parser beneath it.
//
// Input: fields separated by NUL bytes: the implementation name, then
// attribute name and value pairs (a missing value is empty). Every value is
// also parsed on its own. Both are checked against a reference: a value is
// accepted exactly when it is 1+ decimal digits within unsigned int, and an
// unknown attribute is refused with the reader's exact text.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exception.hpp"
#include "fuzz/fuzz_support.hpp"
#include "plugin.hpp"
#include "transcoder_options.hpp"
#include "value_reader.hpp"

namespace vantor::fuzz {

namespace detail {

inline std::optional<unsigned int> reference_number(std::string_view text) {
  if (text.empty()) return std::nullopt;
  unsigned long long value = 0;
  for (char const c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
    if (value > std::numeric_limits<unsigned int>::max()) return std::nullopt;
  }
  return static_cast<unsigned int>(value);
}

struct fuzz_options_t {
  unsigned int quality = 30;
  unsigned int a = 1;
  unsigned int b = 2;
};

inline bool same(const fuzz_options_t& x, const fuzz_options_t& y) {
  return x.quality == y.quality && x.a == y.a && x.b == y.b;
}

// One reader of the shape of the JPEG module's, one with several fields
// given out of order (the table is sorted), one of the modules without
// options.
inline const transcoder_options::value_reader_t<fuzz_options_t>& jpeg_like_reader() {
  static const transcoder_options::value_reader_t<fuzz_options_t> reader{
      {"quality", &fuzz_options_t::quality}};
  return reader;
}
inline const transcoder_options::value_reader_t<fuzz_options_t>& wide_reader() {
  static const transcoder_options::value_reader_t<fuzz_options_t> reader{
      {"quality", &fuzz_options_t::quality}, {"b", &fuzz_options_t::b}, {"a", &fuzz_options_t::a}};
  return reader;
}
inline const transcoder_options::value_reader_t<fuzz_options_t>& empty_reader() {
  static const transcoder_options::value_reader_t<fuzz_options_t> reader;
  return reader;
}

inline unsigned int* member_of(fuzz_options_t& options, const std::string& name, bool wide, bool empty) {
  if (empty) return nullptr;
  if (name == "quality") return &options.quality;
  if (wide && name == "a") return &options.a;
  if (wide && name == "b") return &options.b;
  return nullptr;
}

inline void check_reader(const transcoder_options::value_reader_t<fuzz_options_t>& reader, bool wide,
                         bool empty, const transcoder_config_t& config) {
  // What the reader must do, attribute by attribute.
  fuzz_options_t expected;
  std::optional<std::string> expected_unknown;
  bool expected_bad_value = false;
  for (const auto& [name, value] : config.attributes) {
    unsigned int* const member = member_of(expected, name, wide, empty);
    if (member == nullptr) {
      expected_unknown = config.implementation + ": unknown attribute '" + name +
                         "' for this transcoder implementation.";
      break;
    }
    std::optional<unsigned int> const number = reference_number(value);
    if (!number) {
      expected_bad_value = true;
      break;
    }
    *member = *number;
  }

  fuzz_options_t options;
  try {
    reader.read(options, config.implementation, config.attributes);
  } catch (const vantor::exception& e) {
    require(e.result() == vantor_result_check_failed, "an option refused with another code than 13");
    require(!e.is_assertion(), "an option refused by a failed check");
    if (expected_unknown) {
      require(e.what() == *expected_unknown, "the unknown-attribute text differs: " + std::string(e.what()));
    } else {
      require(expected_bad_value, std::string("a good configuration refused: ") + e.what());
    }
    return;
  }
  require(!expected_unknown && !expected_bad_value, "a bad configuration accepted");
  require(same(options, expected), "the options read differ from the reference");
}

}  // namespace detail

inline void fuzz_options(const uint8_t* data, size_t size) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) fields.emplace_back();
    else fields.back().push_back(static_cast<char>(data[i]));
  }
  transcoder_config_t config;
  config.implementation = fields[0];
  for (size_t i = 1; i < fields.size() && config.attributes.size() < 64; i += 2)
    config.attributes.emplace_back(fields[i], i + 1 < fields.size() ? fields[i + 1] : std::string());

  for (const auto& [name, value] : config.attributes) {
    unsigned int target = 12345;
    std::optional<unsigned int> const expected = detail::reference_number(value);
    try {
      transcoder_options::read_transcoder_option(target, config.implementation, name, value);
    } catch (const vantor::exception& e) {
      require(e.result() == vantor_result_check_failed, "a value refused with another code than 13");
      require(!expected, "a good value refused: " + value);
      require(target == 12345, "a refused value changed its target");
      std::string const what = e.what();
      require(what.rfind(config.implementation + ": ", 0) == 0, "a value error without the implementation's name");
      continue;
    }
    require(expected && target == *expected, "a bad value accepted or parsed wrong: " + value);
  }

  detail::check_reader(detail::jpeg_like_reader(), false, false, config);
  detail::check_reader(detail::wide_reader(), true, false, config);
  detail::check_reader(detail::empty_reader(), false, true, config);
}

}  // namespace vantor::fuzz
