#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantor::outputs {

// `file` as a URL relative to the folder `base`: path segments joined by /,
// every byte outside A-Z a-z 0-9 - . _ ~ percent-encoded.
std::string relative_url(const std::filesystem::path& file, const std::filesystem::path& base);

// A WebVTT index of thumbnails, as players' scrub bars read it: one cue per
// picture, from its presentation time until the next one, pointing at its
// file (and with a sprite sheet, at its tile by #xywh=x,y,w,h).
class webvtt_index_t {
 public:
  webvtt_index_t(std::filesystem::path path, uint32_t timescale);

  void add(uint64_t start, uint64_t end, const std::filesystem::path& picture,
           std::optional<std::array<uint32_t, 4>> tile = std::nullopt);
  // Writes the file under a temporary name and renames it into place;
  // throws output_error_t.
  void finish() const;

  const std::filesystem::path& path() const noexcept { return path_; }
  size_t cues() const noexcept { return cues_.size(); }

 private:
  std::filesystem::path const path_;
  uint32_t const timescale_;
  std::vector<std::string> cues_;
};

}  // namespace vantor::outputs
