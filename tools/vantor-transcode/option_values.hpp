#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "stages/fit_rect.hpp"

namespace vantor::tools {

// The values of vantor-transcode's options. Each throws usage_error_t with
// the option's name and what a good value looks like.
stages::picture_size_t parse_size(std::string_view text);  // "640x360", "320x", "x180"
stages::picture_rect_t parse_rect(std::string_view text);  // "0,60,640,360"
std::string parse_quality(std::string_view text);          // kept as text for the JPEG module
int parse_log_level(std::string_view text);
int64_t parse_time(std::string_view option, std::string_view text);  // microseconds
uint32_t parse_count(std::string_view text);
int64_t parse_timeout(std::string_view text);    // microseconds, above 0
uint64_t parse_max_pixels(std::string_view text);
std::pair<uint32_t, uint32_t> parse_sprite(std::string_view text);  // columns, rows
unsigned parse_threads(std::string_view text);
unsigned parse_jobs(std::string_view text);

// `text`, unless it is empty: then `message` is the usage error.
std::string non_empty(std::string_view text, const char* message);

}  // namespace vantor::tools
