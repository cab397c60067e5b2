#include "sources/container_policy.hpp"

#include <string_view>

extern "C" {
#include <libavformat/avformat.h>
}

namespace vantor::sources {

namespace {

container_policy_t raw_stream() {
  container_policy_t policy;
  policy.times_from_durations = true;
  policy.duration_shows_a_cut = false;
  return policy;
}

// MP4, MOV and fragmented MP4.
container_policy_t mp4() {
  container_policy_t policy;
  policy.hides_pictures_before_time_0 = true;
  policy.seeks_by_index = true;
  policy.index_holds_decode_times = true;
  policy.has_data_references = true;
  policy.duration_may_be_segment_end = true;
  // libavformat lays the edits of an MP4 edit list one after the other in
  // decode time, each from its keyframe: a second edit starts over.
  policy.backward_times_cause = ": an edit list of several edits is not supported";
  return policy;
}

container_policy_t matroska() {
  container_policy_t policy;
  policy.hides_pictures_before_time_0 = true;
  policy.seeks_by_index = true;
  return policy;
}

container_policy_t mpeg_ts() {
  container_policy_t policy;
  policy.may_start_mid_gop = true;
  policy.packet_sizes = {188, 192, 204};
  return policy;
}

container_policy_t flv() {
  container_policy_t policy;
  policy.duration_shows_a_cut = false;
  return policy;
}

bool starts_with(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

}  // namespace

const container_policy_t& container_policy_of(const AVInputFormat& format) {
  static container_policy_t const raw = raw_stream(), mov = mp4(), mkv = matroska(), ts = mpeg_ts(),
                                  flash = flv(), other;
  std::string_view const name = format.name ? format.name : "";
  if (format.flags & AVFMT_NOTIMESTAMPS) return raw;
  if (starts_with(name, "mov")) return mov;
  if (starts_with(name, "matroska")) return mkv;
  if (name == "mpegts") return ts;
  if (name == "flv") return flash;
  return other;
}

}  // namespace vantor::sources
