#pragma once

// The reference table of the test clips (tests/data/clips.tsv): one line per
// clip, tab-separated, with what Debian's ffprobe and ffmpeg said of it (the
// MD5 of the raw frames an independent decoder wrote among it).

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/paths.hpp"

namespace vantor::testing {

struct clip_size_t {
  uint32_t width;
  uint32_t height;
  size_t frames;
};

struct clip_t {
  std::string name;
  std::string codec;      // "h264" or "hevc"
  std::string container;  // "mp4", "mkv", "annexb"
  uint32_t width = 0;
  uint32_t height = 0;
  std::string pix_fmt;  // as the reference decoder named it
  size_t frames = 0;
  std::string raw_md5;  // "-" when the clip must not decode
  uint32_t timescale = 0;
  uint64_t duration_ticks = 0;
  // The notes column: "profile=High;has_b_frames=2;..." by key.
  std::map<std::string, std::string> notes;
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

inline clip_t parse_clip_line(const std::string& line) {
  std::vector<std::string> const fields = split(line, '\t');
  if (fields.size() < 11) throw std::runtime_error("clips.tsv: short line " + line);
  clip_t clip;
  clip.name = fields[0];
  clip.codec = fields[1];
  clip.container = fields[2];
  clip.width = static_cast<uint32_t>(std::stoul(fields[3]));
  clip.height = static_cast<uint32_t>(std::stoul(fields[4]));
  clip.pix_fmt = fields[5];
  clip.frames = std::stoul(fields[6]);
  clip.raw_md5 = fields[7];
  clip.timescale = static_cast<uint32_t>(std::stoul(fields[8]));
  clip.duration_ticks = std::stoull(fields[9]);
  for (const std::string& note : split(fields[10], ';')) {
    size_t const eq = note.find('=');
    if (eq != std::string::npos) clip.notes[note.substr(0, eq)] = note.substr(eq + 1);
  }
  if (auto sizes = clip.notes.find("sizes"); sizes != clip.notes.end())
    clip.sizes = parse_sizes(sizes->second);
  if (auto depth = clip.notes.find("has_b_frames"); depth != clip.notes.end())
    clip.reorder_depth = std::stoul(depth->second);
  return clip;
}
}  // namespace detail

inline std::vector<clip_t> read_clip_table() {
  std::string const path = clip_path("clips.tsv");
  std::ifstream file(path);
  if (!file) throw std::runtime_error("cannot read " + path);
  std::string line;
  std::getline(file, line);  // header
  std::vector<clip_t> clips;
  while (std::getline(file, line)) {
    if (!line.empty()) clips.push_back(detail::parse_clip_line(line));
  }
  return clips;
}

inline clip_t find_clip(const std::string& name) {
  for (clip_t& clip : read_clip_table()) {
    if (clip.name == name) return clip;
  }
  throw std::runtime_error("clips.tsv has no clip " + name);
}

}  // namespace vantor::testing
