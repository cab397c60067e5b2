#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "trak.hpp"

namespace vantor::tools {

// What the tool may want to know of the stream before it builds a chain:
// refuse a pixel format early, or show progress.
struct file_stream_info_t {
  std::string container;         // libavformat's demuxer name, e.g. "mov,mp4,m4a,3gp,3g2,mj2"
  int stream_index = -1;         // of the video stream read
  int pixel_format = -1;         // AVPixelFormat of the coded pictures; -1 when unknown
  std::string pixel_format_name; // libav's name of it; empty when unknown
  uint64_t duration = 0;         // in the track's timescale; 0 when unknown
  double duration_seconds = 0;   // the same in seconds
  uint64_t frame_count = 0;      // samples the container announces; 0 when unknown
};

// A sample source over the first H.264 or HEVC video stream of a media file
// that libavformat reads (MP4, MOV, MKV, ...).
//
// Timestamps: the track's timescale is the stream's time base denominator
// (times are scaled by the numerator when it is not 1, which keeps them
// exact). All times are shifted together so that the first decode time is
// not negative (edit lists make it negative); durations are the differences
// of decode times, the last one the packet's duration, else what is left of
// the stream's duration, else the previous sample's. Decode times that the
// container leaves unset (MKV before its reorder delay is known) are derived
// from the packet durations.
//
// Raw H.264/HEVC elementary streams have no timestamps. Without reordering
// (libavformat finds no B-frame delay) presentation order is decode order,
// so the times are derived from the packet durations (or the frame rate),
// starting at 0. With reordering they are refused with a message saying how
// to put the stream in a container. Annex B samples keep their bytes, with
// an empty decoder configuration.
//
// Errors are vantor::exception in message form, "file_sample_source: <path>:
// <cause>": an unreadable or truncated file, a read error (5), no H.264 or
// HEVC stream, missing or backward timestamps (13). A fault found while
// reading surfaces at the read_sample() call that would have returned the
// first sample it spoils; every sample before it is delivered.
class file_sample_source_t final : public sample_source_t {
 public:
  static std::unique_ptr<file_sample_source_t> open(const std::string& path);
  ~file_sample_source_t() override;

  const trak_t& trak() const override;
  uint64_t first_dts() const override;
  std::optional<full_sample_t> read_sample() override;

  const file_stream_info_t& stream_info() const noexcept;

 private:
  struct impl_t;
  explicit file_sample_source_t(std::unique_ptr<impl_t> impl);

  std::unique_ptr<impl_t> impl_;
};

std::unique_ptr<sample_source_t> open_file_sample_source(const std::string& path);

}  // namespace vantor::tools
