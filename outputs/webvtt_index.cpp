#include "outputs/webvtt_index.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "libav/libav_helpers.hpp"
#include "outputs/clock_text.hpp"
#include "outputs/staged_file.hpp"

namespace vantor::outputs {

namespace {

uint64_t milliseconds_of(uint64_t ticks, uint32_t timescale) {
  // Cue times are ticks of a track, far below 2^63.
  return static_cast<uint64_t>(
      libav::rescale(static_cast<int64_t>(ticks), timescale, 1000, libav::rounding_t::nearest).value_or(0));
}

}  // namespace

std::string relative_url(const std::filesystem::path& file, const std::filesystem::path& base) {
  std::filesystem::path const relative = std::filesystem::absolute(file).lexically_normal().lexically_relative(
      std::filesystem::absolute(base).lexically_normal());
  std::string url;
  for (const std::filesystem::path& segment : relative) {
    if (!url.empty()) url += '/';
    for (unsigned char const c : segment.string()) {
      bool const plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                         c == '-' || c == '.' || c == '_' || c == '~';
      if (plain) {
        url += static_cast<char>(c);
      } else {
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", c);
        url += escaped;
      }
    }
  }
  return url;
}

webvtt_index_t::webvtt_index_t(std::filesystem::path path, uint32_t timescale)
    : path_(std::move(path)), timescale_(timescale) {}

void webvtt_index_t::add(uint64_t start, uint64_t end, const std::filesystem::path& picture,
                         std::optional<std::array<uint32_t, 4>> tile) {
  uint64_t const from = milliseconds_of(start, timescale_);
  // A cue never ends before it starts, whatever the rounding.
  uint64_t const until = std::max(milliseconds_of(end, timescale_), from + 1);
  std::string cue = clock_text(from, 2) + " --> " + clock_text(until, 2) + "\n" +
                    relative_url(picture, path_.parent_path().empty() ? "." : path_.parent_path());
  if (tile) {
    cue += "#xywh=" + std::to_string((*tile)[0]) + "," + std::to_string((*tile)[1]) + "," +
           std::to_string((*tile)[2]) + "," + std::to_string((*tile)[3]);
  }
  cues_.push_back(std::move(cue) + "\n");
}

void webvtt_index_t::finish() const {
  staged_file_t file(path_);
  std::string text = "WEBVTT\n";
  for (const std::string& cue : cues_) text += "\n" + cue;
  file.write(text.data(), text.size());
  file.commit();
}

}  // namespace vantor::outputs
