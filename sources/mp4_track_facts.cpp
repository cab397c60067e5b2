#include "sources/mp4_track_facts.hpp"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <set>
#include <string_view>
#include <vector>

namespace vantor::sources {

namespace {

// A moov larger than this is not looked into (hours of samples fit well within it).
constexpr uint64_t largest_moov = uint64_t{256} << 20;

uint32_t be32(const uint8_t* at) {
  return uint32_t{at[0]} << 24 | uint32_t{at[1]} << 16 | uint32_t{at[2]} << 8 | at[3];
}
uint64_t be64(const uint8_t* at) { return uint64_t{be32(at)} << 32 | be32(at + 4); }

// One box inside a buffer: its type and its body.
struct box_t {
  std::string_view type;
  const uint8_t* body = nullptr;
  size_t size = 0;
};

// The boxes laid one after the other in [begin, end); stops at a damaged one.
std::vector<box_t> boxes_in(const uint8_t* begin, const uint8_t* end) {
  std::vector<box_t> found;
  while (end - begin >= 8) {
    uint64_t size = be32(begin);
    size_t header = 8;
    if (size == 1) {
      if (end - begin < 16) break;
      size = be64(begin + 8);
      header = 16;
    } else if (size == 0) {
      size = static_cast<uint64_t>(end - begin);
    }
    if (size < header || size > static_cast<uint64_t>(end - begin)) break;
    found.push_back({std::string_view(reinterpret_cast<const char*>(begin) + 4, 4), begin + header,
                     static_cast<size_t>(size - header)});
    begin += size;
  }
  return found;
}

// The first box of `path` down from `parent`; an empty box when there is none.
box_t descend(const box_t& parent, std::initializer_list<std::string_view> path) {
  box_t at = parent;
  for (std::string_view const type : path) {
    box_t found;
    for (const box_t& box : boxes_in(at.body, at.body + at.size)) {
      if (box.type == type) {
        found = box;
        break;
      }
    }
    at = found;
  }
  return at;
}

// The moov box of the file, read whole; empty when there is none.
std::vector<uint8_t> read_moov(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  uint64_t at = 0;
  for (;;) {
    uint8_t header[16];
    if (!file.seekg(static_cast<std::streamoff>(at)) || !file.read(reinterpret_cast<char*>(header), 8)) return {};
    uint64_t size = be32(header);
    uint64_t header_size = 8;
    if (size == 1) {
      if (!file.read(reinterpret_cast<char*>(header) + 8, 8)) return {};
      size = be64(header + 8);
      header_size = 16;
    }
    if (std::memcmp(header + 4, "moov", 4) == 0) {
      if (size < header_size || size > largest_moov) return {};
      std::vector<uint8_t> moov(static_cast<size_t>(size));
      file.seekg(static_cast<std::streamoff>(at));
      if (!file.read(reinterpret_cast<char*>(moov.data()), static_cast<std::streamsize>(size))) return {};
      return moov;
    }
    if (size < header_size) return {};  // 0 (to the end) or damaged: no moov after it
    at += size;
  }
}

uint32_t track_id_of(const box_t& tkhd) {
  if (tkhd.size < 1) return 0;
  size_t const at = tkhd.body[0] == 1 ? 20 : 12;  // after the version's creation and modification times
  return tkhd.size >= at + 4 ? be32(tkhd.body + at) : 0;
}

// The data reference indexes (1-based) of the track's sample descriptions.
std::set<uint32_t> used_references(const box_t& stsd) {
  std::set<uint32_t> used;
  if (stsd.size < 8) return used;
  for (const box_t& entry : boxes_in(stsd.body + 8, stsd.body + stsd.size)) {
    if (entry.size >= 8) used.insert(uint32_t{entry.body[6]} << 8 | entry.body[7]);
  }
  return used;
}

// The other file an entry of a dref names; none when the samples are in this one.
std::optional<std::string> other_file(const box_t& entry) {
  if (entry.size < 4 || (entry.body[3] & 1) != 0) return std::nullopt;  // flag 1: this file
  const char* const text = reinterpret_cast<const char*>(entry.body + 4);
  size_t const length = entry.size - 4;
  if (entry.type == "url " || entry.type == "urn ") {
    // Without a location the entry names no file: libavformat reads this one.
    std::string const location(text, strnlen(text, length));
    if (location.empty()) return std::nullopt;
    return location;
  }
  if (entry.type == "alis" && length >= 50 + 64) {
    // The alias record's file name: a Pascal string of at most 63 bytes,
    // after the volume's name and dates.
    size_t const name_length = std::min<size_t>(static_cast<uint8_t>(text[50]), 63);
    return std::string(text + 51, name_length);
  }
  return std::string();
}

// The samples' data references, when one of them names another file.
std::optional<std::string> samples_elsewhere(const box_t& trak) {
  box_t const dref = descend(trak, {"mdia", "minf", "dinf", "dref"});
  box_t const stsd = descend(trak, {"mdia", "minf", "stbl", "stsd"});
  if (dref.size < 8) return std::nullopt;
  std::vector<box_t> const entries = boxes_in(dref.body + 8, dref.body + dref.size);
  for (uint32_t const index : used_references(stsd)) {
    if (index == 0 || index > entries.size()) continue;
    if (std::optional<std::string> name = other_file(entries[index - 1])) return name;
  }
  return std::nullopt;
}

// Both sample size boxes give the count after version, flags and one word
// (stsz: the size of every sample; stz2: the field size).
uint64_t declared_samples(const box_t& trak) {
  for (std::string_view const type : {"stsz", "stz2"}) {
    box_t const sizes = descend(trak, {"mdia", "minf", "stbl", type});
    if (sizes.size >= 12) return be32(sizes.body + 8);
  }
  return 0;
}

}  // namespace

mp4_track_facts_t mp4_track_facts(const std::string& path, uint32_t track_id) {
  std::vector<uint8_t> const moov_bytes = read_moov(path);
  if (moov_bytes.size() < 8) return {};
  std::vector<box_t> const top = boxes_in(moov_bytes.data(), moov_bytes.data() + moov_bytes.size());
  if (top.empty()) return {};
  for (const box_t& trak : boxes_in(top[0].body, top[0].body + top[0].size)) {
    if (trak.type != "trak" || track_id_of(descend(trak, {"tkhd"})) != track_id) continue;
    return mp4_track_facts_t{samples_elsewhere(trak), declared_samples(trak)};
  }
  return {};
}

}  // namespace vantor::sources
