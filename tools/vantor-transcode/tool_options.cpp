#include "tool_options.hpp"

#include <stdexcept>
#include <string_view>

#include "option_table.hpp"
#include "time_value.hpp"

namespace vantor::tools {

namespace {

// The row of `name` ("-o", "--output"), or the table's size for none.
size_t row_named(std::string_view name) {
  const std::vector<option_row_t>& table = option_table();
  for (size_t row = 0; row < table.size(); ++row) {
    const char* const short_name = table[row].short_name;
    const char* const long_name = table[row].long_name;
    if ((short_name && name == short_name) || (long_name && name == long_name)) return row;
  }
  return table.size();
}

bool is_operand(std::string_view argument) {
  return argument.empty() || argument[0] != '-' || argument == "-";
}

// The needs and excludes of every option given, in the table's order.
void check_relations(const std::vector<bool>& given) {
  const std::vector<option_row_t>& table = option_table();
  auto const given_option = [&](const char* name) {
    size_t const row = row_named(name);
    if (row == table.size()) throw std::logic_error(std::string("no option ") + name);
    return given[row];
  };
  for (size_t row = 0; row < table.size(); ++row) {
    if (!given[row]) continue;
    std::string const name = table[row].name();
    for (const option_relation_t& excluded : table[row].excludes) {
      if (given_option(excluded.other)) throw usage_error_t(name + " " + excluded.reason);
    }
    for (const option_relation_t& needed : table[row].needs) {
      if (!given_option(needed.other)) throw usage_error_t(name + " " + needed.reason);
    }
  }
}

// What the table cannot say: the checks that look at the values.
void check_values(const tool_options_t& options) {
  if ((options.dash || options.hls) && !options.every && !options.count) {
    // Players lay a thumbnail track on an even grid of time.
    std::string const option = options.dash ? "--dash" : "--hls";
    if (options.keyframes) {
      throw usage_error_t(option + " lays the thumbnails on an even grid of time, and --keyframes alone takes "
                          "keyframes wherever they fall; give --every D (with --keyframes, the first keyframe "
                          "after each mark) or --count N as well");
    }
    throw usage_error_t(option + " lays the thumbnails on an even grid of time, which every picture fits only "
                        "at a constant frame rate; give --every D (--every 40ms takes every picture of a 25 fps "
                        "video) or --count N");
  }
  if (options.start && options.end && *options.end <= *options.start) {
    throw usage_error_t("--end " + time_text(*options.end) + " is not after --start " +
                        time_text(*options.start));
  }
  bool const one_side = options.size && (options.size->width == 0 || options.size->height == 0);
  if (one_side && (options.rect || options.fit)) {
    throw usage_error_t(std::string(options.fit ? "--fit" : "--rect") +
                        " needs both sides of --size; one side alone already keeps the aspect ratio");
  }
  if (one_side && options.sprite)
    throw usage_error_t("--sprite needs the tile size: give --size WxH as well");
  if (options.rect) {
    stages::picture_rect_t const& rect = *options.rect;
    if (uint64_t{rect.x} + rect.width > options.size->width ||
        uint64_t{rect.y} + rect.height > options.size->height) {
      throw usage_error_t("--rect " + std::to_string(rect.x) + "," + std::to_string(rect.y) + "," +
                          std::to_string(rect.width) + "," + std::to_string(rect.height) +
                          " lies outside the " + std::to_string(options.size->width) + "x" +
                          std::to_string(options.size->height) + " frame of --size");
    }
  }
}

}  // namespace

tool_options_t parse_tool_options(int argc, const char* const* argv) {
  const std::vector<option_row_t>& table = option_table();
  tool_options_t options;
  std::vector<bool> given(table.size());
  bool input_given = false;
  bool options_ended = false;

  for (int i = 1; i < argc; ++i) {
    std::string_view const argument = argv[i];
    if (options_ended || is_operand(argument)) {
      if (input_given) {
        throw usage_error_t("only one input file can be given ('" + options.input + "' and '" +
                            std::string(argument) + "')");
      }
      options.input = std::string(argument);
      input_given = true;
      continue;
    }
    if (argument == "--") {
      options_ended = true;
      continue;
    }
    // --name=value as well as --name value.
    size_t const equals = argument.rfind("--", 0) == 0 ? argument.find('=') : std::string_view::npos;
    bool const attached = equals != std::string_view::npos && equals > 2;
    std::string_view const name = attached ? argument.substr(0, equals) : argument;
    size_t const row = row_named(name);
    if (row == table.size()) throw usage_error_t("unknown option '" + std::string(name) + "'");
    std::string_view value;
    if (attached) {
      if (!table[row].argument) throw usage_error_t(std::string(name) + " takes no value");
      value = argument.substr(equals + 1);
    } else if (table[row].argument) {
      if (i + 1 >= argc) throw usage_error_t(std::string(name) + " needs a value");
      value = argv[++i];
    }
    table[row].apply(options, value);
    given[row] = true;
  }
  if (options.help || options.version) return options;
  if (input_given && options.input.empty()) throw usage_error_t("the input file name is empty");
  if (options.batch_list && input_given) {
    throw usage_error_t("--batch reads the input files from " + *options.batch_list +
                        "; give no INPUT ('" + options.input + "') as well");
  }
  check_relations(given);
  check_values(options);
  return options;
}

}  // namespace vantor::tools
