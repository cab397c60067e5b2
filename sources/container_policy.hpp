#pragma once

#include <array>

struct AVInputFormat;

namespace vantor::sources {

// What the file source does differently for one kind of container; chosen
// once from the demuxer when a file is opened. The default is a container
// with nothing special about it.
struct container_policy_t {
  // Raw H.264/HEVC streams carry no timestamps: the times follow from the
  // durations (or the frame rate), and reordered pictures are refused.
  bool times_from_durations = false;
  // Edit lists (MP4/MOV) and negative block times (Matroska) put pictures
  // before time 0 that are decoded for later ones but not shown; elsewhere
  // (MPEG-TS near its clock's wrap) a negative time is just a time.
  bool hides_pictures_before_time_0 = false;
  // libavformat keeps an index of sync samples to search and seek in.
  bool seeks_by_index = false;
  // That index holds every sample's decode time (MP4/MOV, when it lists
  // all samples); Matroska's holds presentation times.
  bool index_holds_decode_times = false;
  // The samples may lie in another file that a data reference names.
  bool has_data_references = false;
  // A fragmented MP4 segment that does not start at 0 announces its end
  // time as its duration (its moov lists no samples).
  bool duration_may_be_segment_end = false;
  // A stream that may be cut anywhere: the pictures before its first
  // keyframe refer to pictures that are not there.
  bool may_start_mid_gop = false;
  // A sequence of whole packets of one of these sizes (0: none), so a cut
  // shows in the file's size, whatever its times say.
  std::array<int, 3> packet_sizes{};
  // The announced duration ends where the last picture does, so a file cut
  // short shows in its times (FLV's runs past the last picture's end; raw
  // streams announce none).
  bool duration_shows_a_cut = true;
  // Why decode times may go backwards, added to that message.
  const char* backward_times_cause = "";
};

const container_policy_t& container_policy_of(const AVInputFormat& format);

}  // namespace vantor::sources
