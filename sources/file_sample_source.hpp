#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "exception.hpp"
#include "trak.hpp"

namespace vantor {
class log_context_t;
}

namespace vantor::sources {

// What the tool may want to know of the stream before it builds a chain:
// refuse a pixel format early, or show progress.
struct file_stream_info_t {
  std::string container;         // libavformat's demuxer name, e.g. "mov,mp4,m4a,3gp,3g2,mj2"
  std::string pixel_format_name; // libav's name of the coded pictures' format; empty when unknown
  double duration_seconds = 0;   // the track's duration in seconds; 0 when unknown
  uint64_t frame_count = 0;      // samples the container announces; 0 when unknown
};

// The containers the source reads, for messages and --help.
extern const char* const supported_containers_text;

// Where a source keeps the fault that ended its samples early. The tool keeps
// a handle to it: the source itself is owned deep inside the picture chain,
// and the fault is reported only once every decodable picture is out.
struct source_fault_t {
  std::optional<vantor::exception> error;
};

// A sample source over the first H.264 or HEVC video stream of a media file
// that libavformat reads (MP4, MOV, MKV, MPEG-TS, FLV, raw streams).
//
// Timestamps: the track's timescale is the stream's time base denominator
// (times are scaled by the numerator when it is not 1, which keeps them
// exact). All times are shifted together so that the first decode time is not
// negative (edit lists and negative Matroska block times make it negative);
// presentation_start() says where the container's presentation time 0 lies
// after that shift, and the pictures before it (decoded only because later
// ones refer to them) are for a presentation_window_t to drop. Matroska
// leaves blocks before time 0 without a presentation time; they get their
// decode time. An MPEG-TS (which can be cut anywhere) starts at its first
// keyframe. Durations are the differences of decode times, the last one the
// packet's duration, else what is left of the stream's duration, else the
// previous sample's. Decode times that the container leaves unset (MKV before
// its reorder delay is known) are derived from the packet durations.
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
// HEVC stream, no video samples at all, missing or backward timestamps (13).
// A read fault (a truncated or damaged file) ends the samples instead: every
// sample before the damage is delivered, then read_sample() returns none and
// the fault is kept in fault(), so that the pictures still inside a decoder
// come out before the caller reports it.
//
// libavformat's own messages during the source's calls (opening, reading,
// seeking, closing) go to the log context given to open(), and nowhere else:
// errors, warnings and info as such, verbose and debug output as debug, the
// rest as trace, as "libavformat: <text>" ("libavcodec: " for its probing
// decoders). The context must outlive the source. Without one they go
// wherever the process sends FFmpeg's log, as they always did.
class file_sample_source_t final : public sample_source_t {
 public:
  // `max_pixels` (0: no limit) refuses, before anything is decoded, a
  // video whose declared pictures are larger.
  static std::unique_ptr<file_sample_source_t> open(const std::string& path,
                                                    log_context_t* log_context = nullptr,
                                                    uint64_t max_pixels = 0);
  ~file_sample_source_t() override;

  const trak_t& trak() const override;
  uint64_t first_dts() const override;
  std::optional<full_sample_t> read_sample() override;

  const file_stream_info_t& stream_info() const noexcept;
  // The container's presentation time 0, in the shifted ticks of the samples.
  uint64_t presentation_start() const noexcept;
  // Where the video starts on the presentation timeline of the pictures
  // (ticks after presentation_start()): 0 for most files, later for an MPEG-TS
  // (its clock runs on from an earlier segment), an MP4 segment or a delayed
  // start. Times a user gives count from here, as in ffmpeg.
  uint64_t start_time() const noexcept;
  // Set once read_sample() has ended the samples at a fault.
  std::shared_ptr<const source_fault_t> fault() const noexcept;

  // Thumbnail jobs want a few pictures, and decoders need only some
  // samples for them. From the next sample on, the source leaves out the
  // samples of non-reference pictures presented before `ticks` (shifted
  // presentation ticks, like the samples'); with `sync_only`, every sample
  // but the sync samples at or after it. A left-out sample's duration goes
  // to the sample delivered before it, so the times of the rest stay exact.
  void leave_out_before(std::optional<uint64_t> ticks, bool sync_only = false);

  // Seeking needs an MP4/MOV or Matroska file with an index.
  bool can_seek() const;
  // The index time (MP4: decode time, Matroska: presentation time, both
  // shifted) of the last sync sample at or before presentation time
  // `ticks`; none when unknown.
  std::optional<uint64_t> sync_sample_before(uint64_t ticks) const;
  // Moves to the last sync sample whose presentation time is at or before
  // `ticks`; first_dts() then gives its decode time, and a new decoder
  // reads on from there. False (nothing moved) when the file cannot seek.
  bool seek(uint64_t ticks);
  // The decode times of every sync sample (shifted, like first_dts()), when
  // the file indexes all its samples (an MP4/MOV that is not fragmented);
  // empty otherwise.
  std::vector<uint64_t> sync_sample_decode_times() const;
  // The same sync samples, each with the bytes of its run of samples (from
  // it up to the next sync sample, or to the end), as the index gives them.
  struct sync_sample_t {
    uint64_t decode_time;
    uint64_t run_bytes;
  };
  std::vector<sync_sample_t> sync_samples() const;
  // Moves to the sync sample of that decode time (one of the above), for a
  // decoder that starts there. False when the file cannot seek there.
  bool seek_to_sync_sample(uint64_t decode_time);
  // The samples read from here on go to a new decoder: the next one may be
  // left out too (see leave_out_before()).
  void start_anew() noexcept;
  // Of the sample read_sample() returned last.
  uint64_t last_delivered_dts() const noexcept;

 private:
  struct impl_t;
  explicit file_sample_source_t(std::unique_ptr<impl_t> impl);

  std::unique_ptr<impl_t> impl_;
};

std::unique_ptr<sample_source_t> open_file_sample_source(const std::string& path,
                                                         log_context_t* log_context = nullptr);

}  // namespace vantor::sources
