#include "option_values.hpp"

#include <charconv>
#include <limits>
#include <optional>
#include <vector>

#include "time_value.hpp"
#include "tool_options.hpp"

namespace vantor::tools {

namespace {

// A decimal number made of digits only (no sign, no blanks) that fits `max`.
std::optional<uint64_t> parse_number(std::string_view text, uint64_t max) {
  if (text.empty()) return std::nullopt;
  for (char const c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  uint64_t value = 0;
  auto const [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

// Splits "a<sep>b<sep>..." into exactly `count` numbers.
std::optional<std::vector<uint32_t>> parse_numbers(std::string_view text, char separator,
                                                   size_t count) {
  std::vector<uint32_t> numbers;
  while (true) {
    size_t const end = text.find(separator);
    auto const number = parse_number(text.substr(0, end), std::numeric_limits<uint32_t>::max());
    if (!number) return std::nullopt;
    numbers.push_back(static_cast<uint32_t>(*number));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  if (numbers.size() != count) return std::nullopt;
  return numbers;
}

// "320x" and "x180" give one side; the other follows the aspect ratio.
std::optional<stages::picture_size_t> parse_one_side(std::string_view text) {
  bool const width_only = text.size() > 1 && text.back() == 'x';
  bool const height_only = text.size() > 1 && text.front() == 'x';
  if (width_only == height_only) return std::nullopt;
  auto const side = parse_number(width_only ? text.substr(0, text.size() - 1) : text.substr(1),
                                 std::numeric_limits<uint32_t>::max());
  if (!side) return std::nullopt;
  uint32_t const value = static_cast<uint32_t>(*side);
  return width_only ? stages::picture_size_t{value, 0} : stages::picture_size_t{0, value};
}

}  // namespace

stages::picture_size_t parse_size(std::string_view text) {
  if (std::optional<stages::picture_size_t> const one_side = parse_one_side(text)) {
    uint32_t const side = one_side->width ? one_side->width : one_side->height;
    if (side == 0 || side % 2 != 0) {
      throw usage_error_t("--size " + std::string(text) +
                          ": the side must be even and above 0 (4:2:0 pictures have half-size chroma)");
    }
    return *one_side;
  }
  auto const numbers = parse_numbers(text, 'x', 2);
  if (!numbers) {
    throw usage_error_t("--size '" + std::string(text) +
                        "' is not a size; write it as WIDTHxHEIGHT, e.g. --size 640x360, or give one "
                        "side, e.g. --size 320x");
  }
  stages::picture_size_t const size{(*numbers)[0], (*numbers)[1]};
  if (size.width == 0 || size.height == 0)
    throw usage_error_t("--size " + std::string(text) + ": width and height must be above 0");
  if (size.width % 2 != 0 || size.height % 2 != 0) {
    throw usage_error_t("--size " + std::string(text) +
                        ": width and height must be even (4:2:0 pictures have half-size chroma)");
  }
  return size;
}

stages::picture_rect_t parse_rect(std::string_view text) {
  auto const numbers = parse_numbers(text, ',', 4);
  if (!numbers) {
    throw usage_error_t("--rect '" + std::string(text) +
                        "' is not a rectangle; write it as X,Y,WIDTH,HEIGHT, e.g. --rect 0,60,640,360");
  }
  stages::picture_rect_t const rect{(*numbers)[0], (*numbers)[1], (*numbers)[2], (*numbers)[3]};
  if (rect.width == 0 || rect.height == 0)
    throw usage_error_t("--rect " + std::string(text) + ": width and height must be above 0");
  if (rect.x % 2 != 0 || rect.y % 2 != 0 || rect.width % 2 != 0 || rect.height % 2 != 0) {
    throw usage_error_t("--rect " + std::string(text) +
                        ": position and size must be even (4:2:0 pictures have half-size chroma)");
  }
  return rect;
}

std::string parse_quality(std::string_view text) {
  auto const quality = parse_number(text, std::numeric_limits<uint32_t>::max());
  if (!quality)
    throw usage_error_t("--quality '" + std::string(text) + "' is not a number from 0 to 100");
  if (*quality > 100)
    throw usage_error_t("--quality " + std::string(text) + " is above 100 (the best quality)");
  return std::string(text);
}

int parse_log_level(std::string_view text) {
  auto const level = parse_number(text, 4);
  if (!level) throw usage_error_t("--log-level '" + std::string(text) + "' is not a level from 0 to 4");
  return static_cast<int>(*level);
}

int64_t parse_time(std::string_view option, std::string_view text) {
  std::optional<int64_t> const time = parse_time_value(text);
  if (!time) {
    throw usage_error_t(std::string(option) + " '" + std::string(text) +
                        "' is not a time; write e.g. 10s, 2.5s, 500ms, 1m, 7 (seconds) or 00:01:30.500");
  }
  return *time;
}

uint32_t parse_count(std::string_view text) {
  auto const count = parse_number(text, std::numeric_limits<uint32_t>::max());
  if (!count) throw usage_error_t("--count '" + std::string(text) + "' is not a number of pictures");
  if (*count == 0) throw usage_error_t("--count 0: at least one picture must be asked for");
  return static_cast<uint32_t>(*count);
}

int64_t parse_timeout(std::string_view text) {
  int64_t const timeout = parse_time("--timeout", text);
  if (timeout <= 0) throw usage_error_t("--timeout " + std::string(text) + ": a run needs some time; give more than 0");
  return timeout;
}

uint64_t parse_max_pixels(std::string_view text) {
  auto const pixels = parse_number(text, std::numeric_limits<int32_t>::max());
  if (!pixels || *pixels < 4096) {
    throw usage_error_t("--max-pixels '" + std::string(text) +
                        "' is not a number of pixels from 4096 to 2147483647 (8192x4320 is 35389440)");
  }
  return *pixels;
}

std::string non_empty(std::string_view text, const char* message) {
  if (text.empty()) throw usage_error_t(message);
  return std::string(text);
}

std::pair<uint32_t, uint32_t> parse_sprite(std::string_view text) {
  auto const numbers = parse_numbers(text, 'x', 2);
  if (!numbers || (*numbers)[0] == 0 || (*numbers)[1] == 0 || (*numbers)[0] > 1000 || (*numbers)[1] > 1000) {
    throw usage_error_t("--sprite '" + std::string(text) +
                        "' is not a grid; write it as COLUMNSxROWS, e.g. --sprite 5x5");
  }
  return {(*numbers)[0], (*numbers)[1]};
}

unsigned parse_threads(std::string_view text) {
  auto const threads = parse_number(text, std::numeric_limits<uint32_t>::max());
  if (!threads || *threads == 0 || *threads > max_jobs) {
    throw usage_error_t("--threads '" + std::string(text) + "' is not a number of threads from 1 to " +
                        std::to_string(max_jobs));
  }
  return static_cast<unsigned>(*threads);
}

unsigned parse_jobs(std::string_view text) {
  auto const jobs = parse_number(text, std::numeric_limits<uint32_t>::max());
  if (!jobs) throw usage_error_t("--jobs '" + std::string(text) + "' is not a number of chains");
  if (*jobs == 0) throw usage_error_t("--jobs 0: at least one chain must run");
  if (*jobs > max_jobs) {
    throw usage_error_t("--jobs " + std::string(text) + " is above " + std::to_string(max_jobs) +
                        " chains at once");
  }
  return static_cast<unsigned>(*jobs);
}

}  // namespace vantor::tools
