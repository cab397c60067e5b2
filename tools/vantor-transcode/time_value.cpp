#include "time_value.hpp"

#include <limits>

#include "outputs/clock_text.hpp"

namespace vantor::tools {

namespace {

constexpr int64_t microseconds_per_second = 1'000'000;

// "12", "12.", "12.5", ".5": a non-negative decimal number, scaled by
// `unit` microseconds, digits beyond the microsecond dropped.
std::optional<int64_t> parse_decimal(std::string_view text, int64_t unit) {
  if (text.empty() || text == ".") return std::nullopt;
  int64_t whole = 0;
  size_t i = 0;
  for (; i < text.size() && text[i] != '.'; ++i) {
    char const c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    if (__builtin_mul_overflow(whole, 10, &whole) || __builtin_add_overflow(whole, c - '0', &whole))
      return std::nullopt;
  }
  int64_t result = 0;
  if (__builtin_mul_overflow(whole, unit, &result)) return std::nullopt;
  if (i == text.size()) return result;
  // The fraction, one digit at a time: unit/10, unit/100, ... of each.
  int64_t scale = unit;
  for (++i; i < text.size(); ++i) {
    char const c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    scale /= 10;
    if (__builtin_add_overflow(result, (c - '0') * scale, &result)) return std::nullopt;
  }
  return result;
}

std::optional<int64_t> parse_clock(std::string_view text) {
  // [[hh:]mm:]ss[.fff]; every field but the first below 60.
  int64_t total = 0;
  int fields = 0;
  while (true) {
    size_t const colon = text.find(':');
    std::string_view const field = text.substr(0, colon);
    bool const last = colon == std::string_view::npos;
    if (field.empty() || (!last && field.find('.') != std::string_view::npos)) return std::nullopt;
    std::optional<int64_t> const value = parse_decimal(field, last ? microseconds_per_second : 1);
    if (!value) return std::nullopt;
    if (fields > 0 && *value >= (last ? 60 * microseconds_per_second : 60)) return std::nullopt;
    if (__builtin_mul_overflow(total, 60, &total)) return std::nullopt;
    if (last) {
      if (__builtin_mul_overflow(total, microseconds_per_second, &total) ||
          __builtin_add_overflow(total, *value, &total))
        return std::nullopt;
      return ++fields <= 3 ? std::optional<int64_t>(total) : std::nullopt;
    }
    if (__builtin_add_overflow(total, *value, &total)) return std::nullopt;
    ++fields;
    text.remove_prefix(colon + 1);
  }
}

}  // namespace

std::optional<int64_t> parse_time_value(std::string_view text) {
  if (text.find(':') != std::string_view::npos) return parse_clock(text);
  struct suffix_t {
    std::string_view name;
    int64_t unit;
  };
  // "ms" before "s", so that "500ms" is not read as 500m + s.
  static constexpr suffix_t suffixes[] = {{"ms", 1'000},
                                          {"s", microseconds_per_second},
                                          {"m", 60 * microseconds_per_second},
                                          {"h", 3600 * microseconds_per_second}};
  for (const suffix_t& suffix : suffixes) {
    if (text.size() > suffix.name.size() &&
        text.substr(text.size() - suffix.name.size()) == suffix.name) {
      return parse_decimal(text.substr(0, text.size() - suffix.name.size()), suffix.unit);
    }
  }
  return parse_decimal(text, microseconds_per_second);
}

std::string time_text(int64_t microseconds) {
  bool const negative = microseconds < 0;
  uint64_t const magnitude = negative ? 0 - static_cast<uint64_t>(microseconds) : static_cast<uint64_t>(microseconds);
  return (negative ? "-" : "") + outputs::clock_text(magnitude / 1000, 1);
}

}  // namespace vantor::tools
