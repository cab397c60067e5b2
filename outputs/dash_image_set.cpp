#include "outputs/dash_image_set.hpp"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <optional>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

#include "outputs/picture_writers.hpp"
#include "outputs/webvtt_index.hpp"

namespace vantor::outputs {

namespace {

namespace fs = std::filesystem;

constexpr char thumbnail_tile_scheme[] = "http://dashif.org/thumbnail_tile";
constexpr unsigned parse_everything = pugi::parse_full | pugi::parse_ws_pcdata;

// The folder a manifest's relative paths start from.
fs::path folder_of(const fs::path& file) { return file.parent_path().empty() ? "." : file.parent_path(); }

std::string duration_text(uint64_t microseconds) { return "PT" + seconds_text(microseconds) + "S"; }

unsigned __int128 gcd(unsigned __int128 a, unsigned __int128 b) {
  while (b != 0) a = std::exchange(b, a % b);
  return a;
}

// One sheet's time as SegmentTemplate@duration / @timescale, both 32-bit
// in the schema: exact where that fits, else in milliseconds.
std::pair<uint64_t, uint64_t> sheet_duration(const thumbnail_track_t& track) {
  unsigned __int128 ticks = static_cast<unsigned __int128>(track.columns) * track.rows * track.grid.tile_numerator;
  unsigned __int128 timescale = static_cast<unsigned __int128>(track.grid.tile_denominator) * 1'000'000;
  unsigned __int128 const common = gcd(ticks, timescale);
  ticks /= common;
  timescale /= common;
  constexpr uint64_t largest = std::numeric_limits<uint32_t>::max();
  if (ticks <= largest && timescale <= largest) return {static_cast<uint64_t>(ticks), static_cast<uint64_t>(timescale)};
  return {(track.sheet_start(1) + 500) / 1000, 1000};
}

// The image adaptation set, its elements named with `prefix` (the MPD's
// namespace prefix, mostly none).
void add_image_set(pugi::xml_node period, pugi::xml_node after, const std::string& prefix,
                   const thumbnail_track_t& track, const std::string& media, unsigned id,
                   const std::string& representation_id) {
  pugi::xml_node set = after ? period.insert_child_after((prefix + "AdaptationSet").c_str(), after)
                             : period.append_child((prefix + "AdaptationSet").c_str());
  set.append_attribute("id") = id;
  set.append_attribute("contentType") = "image";
  set.append_attribute("mimeType") = "image/jpeg";
  auto const [duration, timescale] = sheet_duration(track);
  pugi::xml_node segments = set.append_child((prefix + "SegmentTemplate").c_str());
  segments.append_attribute("media") = media.c_str();
  segments.append_attribute("duration") = static_cast<unsigned long long>(duration);
  segments.append_attribute("timescale") = static_cast<unsigned long long>(timescale);
  segments.append_attribute("startNumber") = 1;
  pugi::xml_node representation = set.append_child((prefix + "Representation").c_str());
  representation.append_attribute("id") = representation_id.c_str();
  representation.append_attribute("bandwidth") = static_cast<unsigned long long>(track.bandwidth());
  representation.append_attribute("width") = track.sheet_width();
  representation.append_attribute("height") = track.sheet_height();
  pugi::xml_node tiles = representation.append_child((prefix + "EssentialProperty").c_str());
  tiles.append_attribute("schemeIdUri") = thumbnail_tile_scheme;
  tiles.append_attribute("value") = (std::to_string(track.columns) + "x" + std::to_string(track.rows)).c_str();
}

// Lines up the element children of `node`, itself at `indent`, one `unit`
// deeper, as the document around them is laid out.
void indent_children(pugi::xml_node node, const std::string& indent, const std::string& unit) {
  bool has_elements = false;
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    node.insert_child_before(pugi::node_pcdata, child).set_value(("\n" + indent + unit).c_str());
    indent_children(child, indent + unit, unit);
    has_elements = true;
  }
  if (has_elements) node.append_child(pugi::node_pcdata).set_value(("\n" + indent).c_str());
}

// The blanks that start the line of `node`; none when it shares a line.
std::optional<std::string> line_indent(pugi::xml_node node) {
  pugi::xml_node const before = node.previous_sibling();
  if (before.type() != pugi::node_pcdata) return std::nullopt;
  std::string const text = before.value();
  size_t const newline = text.rfind('\n');
  if (newline == std::string::npos || text.find_first_not_of(" \t\r\n") != std::string::npos) return std::nullopt;
  return text.substr(newline + 1);
}

// Every node of the document on its own line, as written.
std::string document_text(const pugi::xml_document& document) {
  std::ostringstream text;
  for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
    node.print(text, "", pugi::format_raw);
    text << '\n';
  }
  return text.str();
}

std::string local_name(const char* name) {
  const char* const colon = std::strchr(name, ':');
  return colon ? colon + 1 : name;
}

std::string prefix_of(const char* name) {
  const char* const colon = std::strchr(name, ':');
  return colon ? std::string(name, colon + 1) : std::string();
}

std::vector<pugi::xml_node> children_named(pugi::xml_node node, const std::string& name) {
  std::vector<pugi::xml_node> found;
  for (pugi::xml_node child : node.children()) {
    if (child.type() == pugi::node_element && local_name(child.name()) == name) found.push_back(child);
  }
  return found;
}

// A URL with a scheme (http:) or from the server's root (/video/) does not
// resolve against the manifest's folder.
bool is_absolute_url(const std::string& url) {
  if (!url.empty() && url[0] == '/') return true;
  size_t const colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  for (size_t i = 0; i < colon; ++i) {
    char const c = url[i];
    bool const letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))) return false;
  }
  return true;
}

std::string trimmed(const char* text) {
  std::string value = text;
  size_t const first = value.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return value.substr(first, value.find_last_not_of(" \t\r\n") - first + 1);
}

std::string percent_decoded(const std::string& url) {
  std::string path;
  for (size_t i = 0; i < url.size(); ++i) {
    if (url[i] == '%' && i + 2 < url.size() && std::isxdigit(static_cast<unsigned char>(url[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(url[i + 2]))) {
      path += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      path += url[i];
    }
  }
  return path;
}

// `relative` resolved against the relative URL `base`: the folder part of
// `base` (up to its last /) followed by `relative`.
std::string resolve_relative(const std::string& base, const std::string& relative) {
  size_t const slash = base.rfind('/');
  return (slash == std::string::npos ? std::string() : base.substr(0, slash + 1)) + relative;
}

class mpd_failure_t {
 public:
  explicit mpd_failure_t(const fs::path& path) : path_(path) {}
  [[noreturn]] void operator()(const std::string& why) const {
    throw output_error_t(path_.string() + ": " + why);
  }

 private:
  const fs::path& path_;
};

// The one Period of a static MPD; refuses what a thumbnail track cannot join.
pugi::xml_node checked_period(const pugi::xml_document& document, const mpd_failure_t& fail) {
  pugi::xml_node const mpd = document.document_element();
  if (!mpd || local_name(mpd.name()) != "MPD") fail("is not an MPD (its root element is not MPD)");
  if (std::string(mpd.attribute("type").as_string("static")) == "dynamic") {
    fail("is a live (dynamic) presentation; a thumbnail track joins a static one");
  }
  std::vector<pugi::xml_node> const periods = children_named(mpd, "Period");
  if (periods.size() != 1) {
    fail("has " + std::to_string(periods.size()) + " periods; a thumbnail track joins a presentation of one period");
  }
  for (const char* segments : {"SegmentTemplate", "SegmentList", "SegmentBase"}) {
    if (!children_named(periods[0], segments).empty()) {
      fail(std::string("its Period sets a ") + segments +
           " for every adaptation set, which the thumbnail track would inherit");
    }
  }
  return periods[0];
}

// The MPD's relative BaseURLs, and where there is none the MPD itself,
// made to resolve from `mpd`'s folder as they did from `video_mpd`'s.
void move_base(pugi::xml_node mpd, const fs::path& video_mpd, const fs::path& mpd_path) {
  fs::path const from = fs::absolute(folder_of(video_mpd)).lexically_normal();
  fs::path const to = fs::absolute(folder_of(mpd_path)).lexically_normal();
  if (from == to) return;
  std::string const moved = relative_url(from, to) + "/";
  std::vector<pugi::xml_node> const bases = children_named(mpd, "BaseURL");
  for (pugi::xml_node base : bases) {
    std::string const url = trimmed(base.text().get());
    if (!is_absolute_url(url)) base.text().set((moved + url).c_str());
  }
  if (!bases.empty()) return;
  // The schema puts BaseURL after ProgramInformation, before the rest.
  pugi::xml_node before = mpd.first_child();
  while (before && (before.type() != pugi::node_element || local_name(before.name()) == "ProgramInformation")) {
    before = before.next_sibling();
  }
  std::string const name = prefix_of(mpd.name()) + "BaseURL";
  std::optional<std::string> const indent = before ? line_indent(before) : std::nullopt;
  pugi::xml_node base = before ? mpd.insert_child_before(name.c_str(), before) : mpd.append_child(name.c_str());
  base.text().set(moved.c_str());
  if (indent) mpd.insert_child_before(pugi::node_pcdata, before).set_value(("\n" + *indent).c_str());
}

// Where the Period's relative URLs start, relative to the MPD's folder
// ("" for the folder itself, "../video/").
std::string period_base(pugi::xml_node mpd, pugi::xml_node period, const mpd_failure_t& fail) {
  std::string base;
  for (pugi::xml_node level : {mpd, period}) {
    std::vector<pugi::xml_node> const bases = children_named(level, "BaseURL");
    if (bases.empty()) continue;
    std::string const url = trimmed(bases[0].text().get());
    if (is_absolute_url(url)) {
      fail("its BaseURL " + url + " is absolute; the thumbnails' paths, relative to the manifest, cannot "
           "resolve against it");
    }
    base = resolve_relative(base, url);
  }
  return base;
}

// The first Representation id "thumbnails", "thumbnails-2", ... and the
// first AdaptationSet id above every numeric one of the Period.
std::pair<unsigned, std::string> free_ids(pugi::xml_node period) {
  unsigned set_id = 0;
  std::set<std::string> representation_ids;
  for (pugi::xml_node set : children_named(period, "AdaptationSet")) {
    std::string const id = set.attribute("id").as_string();
    if (!id.empty() && id.find_first_not_of("0123456789") == std::string::npos && id.size() < 10) {
      set_id = std::max(set_id, static_cast<unsigned>(std::stoul(id)) + 1);
    }
    for (pugi::xml_node representation : children_named(set, "Representation")) {
      representation_ids.insert(representation.attribute("id").as_string());
    }
  }
  std::string id = "thumbnails";
  for (unsigned copy = 2; representation_ids.count(id) != 0; ++copy) id = "thumbnails-" + std::to_string(copy);
  return {set_id, id};
}

}  // namespace

std::string dash_media_template(const sheet_files_t& files, const fs::path& base) {
  std::string name = files.pattern;
  // "%04llu" numbers the files; DASH spells the same "$Number%04d$".
  size_t const start = name.find('%');
  size_t const end = name.find("llu", start);
  name = name.substr(0, start) + "$Number" + name.substr(start, end - start) + "d$" + name.substr(end + 3);
  std::string const folder = relative_url(files.folder, base);
  return folder == "." ? name : folder + "/" + name;
}

std::string dash_thumbnails_mpd(const thumbnail_track_t& track, const sheet_files_t& files, const fs::path& mpd) {
  pugi::xml_document document;
  pugi::xml_node declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "utf-8";
  pugi::xml_node root = document.append_child("MPD");
  root.append_attribute("xmlns") = "urn:mpeg:dash:schema:mpd:2011";
  root.append_attribute("profiles") = "urn:mpeg:dash:profile:isoff-live:2011";
  root.append_attribute("type") = "static";
  root.append_attribute("mediaPresentationDuration") = duration_text(track.length).c_str();
  root.append_attribute("minBufferTime") = duration_text(track.sheet_end(0)).c_str();
  pugi::xml_node period = root.append_child("Period");
  period.append_attribute("id") = "0";
  period.append_attribute("start") = "PT0S";
  add_image_set(period, pugi::xml_node(), "", track, dash_media_template(files, folder_of(mpd)), 0, "thumbnails");
  std::ostringstream text;
  document.save(text, "  ", pugi::format_indent, pugi::encoding_utf8);
  return text.str();
}

dash_video_mpd_t::dash_video_mpd_t(std::string video_text, fs::path video_mpd)
    : text_(std::move(video_text)), path_(std::move(video_mpd)) {
  // Refused before any picture is decoded.
  pugi::xml_document document;
  mpd_failure_t const fail(path_);
  pugi::xml_parse_result const parsed = document.load_buffer(text_.data(), text_.size(), parse_everything);
  if (!parsed) fail(std::string("is not XML: ") + parsed.description() + " at byte " + std::to_string(parsed.offset));
  period_base(document.document_element(), checked_period(document, fail), fail);
}

std::string dash_video_mpd_t::with_thumbnails(const thumbnail_track_t& track, const sheet_files_t& files,
                                              const fs::path& mpd) const {
  mpd_failure_t const fail(path_);
  pugi::xml_document document;
  document.load_buffer(text_.data(), text_.size(), parse_everything);
  pugi::xml_node root = document.document_element();
  pugi::xml_node period = checked_period(document, fail);
  move_base(root, path_, mpd);
  fs::path const base = folder_of(mpd) / percent_decoded(resolve_relative(period_base(root, period, fail), ""));
  std::string const media = dash_media_template(files, base);

  // After the last adaptation set, lined up with it.
  std::vector<pugi::xml_node> const sets = children_named(period, "AdaptationSet");
  pugi::xml_node const last = sets.empty() ? pugi::xml_node() : sets.back();
  auto const [set_id, representation_id] = free_ids(period);
  add_image_set(period, last, prefix_of(root.name()), track, media, set_id, representation_id);
  pugi::xml_node const added = last ? last.next_sibling() : period.last_child();
  std::optional<std::string> const indent = last ? line_indent(last) : std::nullopt;
  if (indent) {
    std::optional<std::string> const outer = line_indent(period);
    std::string const unit = outer && indent->size() > outer->size() ? indent->substr(outer->size()) : "  ";
    period.insert_child_before(pugi::node_pcdata, added).set_value(("\n" + *indent).c_str());
    indent_children(added, *indent, unit);
  }
  return document_text(document);
}

}  // namespace vantor::outputs
