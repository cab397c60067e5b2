#pragma once

// The reference table of the test clips (tests/data/clips.tsv): one line per
// clip, tab-separated, with the MD5 of the raw frames that an independent
// decoder wrote.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vantor::testing {

struct clip_size_t {
  uint32_t width;
  uint32_t height;
  size_t frames;
};

struct clip_t {
  std::string name;
  std::string codec;    // "h264" or "hevc"
  std::string pix_fmt;  // as the reference decoder named it
  size_t frames = 0;
  std::string raw_md5;  // "-" when the clip must not decode
  uint32_t timescale = 0;
  std::vector<clip_size_t> sizes;  // in stream order
  size_t reorder_depth = 0;        // the reference decoder's has_b_frames
};

namespace detail {
inline std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream stream(text);
  while (std::getline(stream, field, separator)) fields.push_back(field);
  return fields;
}

// "320x240*25,176x144*25"
inline std::vector<clip_size_t> parse_sizes(const std::string& text) {
  std::vector<clip_size_t> sizes;
  for (const std::string& item : split(text, ',')) {
    unsigned width = 0, height = 0;
    size_t frames = 0;
    if (std::sscanf(item.c_str(), "%ux%u*%zu", &width, &height, &frames) != 3)
      throw std::runtime_error("clips.tsv: bad size list " + text);
    sizes.push_back({width, height, frames});
  }
  return sizes;
}
}  // namespace detail

inline std::vector<clip_t> read_clip_table(const std::string& path) {
  std::ifstream file(path);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::string line;
  std::getline(file, line);  // header
  std::vector<clip_t> clips;
  while (std::getline(file, line)) {
    if (line.empty()) continue;
    std::vector<std::string> const fields = detail::split(line, '\t');
    if (fields.size() < 11) throw std::runtime_error("clips.tsv: short line " + line);
    clip_t clip;
    clip.name = fields[0];
    clip.codec = fields[1];
    clip.pix_fmt = fields[5];
    clip.frames = std::stoul(fields[6]);
    clip.raw_md5 = fields[7];
    clip.timescale = static_cast<uint32_t>(std::stoul(fields[8]));
    for (const std::string& note : detail::split(fields[10], ';')) {
      if (note.compare(0, 6, "sizes=") == 0) clip.sizes = detail::parse_sizes(note.substr(6));
      if (note.compare(0, 13, "has_b_frames=") == 0) clip.reorder_depth = std::stoul(note.substr(13));
    }
    clips.push_back(std::move(clip));
  }
  return clips;
}

inline clip_t find_clip(const std::string& path, const std::string& name) {
  for (clip_t& clip : read_clip_table(path)) {
    if (clip.name == name) return clip;
  }
  throw std::runtime_error("clips.tsv has no clip " + name);
}

}  // namespace vantor::testing
