#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "mp4_full_sample.hpp"
#include "outputs/staged_file.hpp"
#include "trak.hpp"

namespace vantor::outputs {

// Writes JPEG samples, in decode order, as the one MJPEG video track of an
// MP4 file, into a staged file that the caller puts in place once finish()
// has written the index. Failures throw output_error_t ("<path>: <what>:
// <cause>", the staged file's final path).
class mp4_track_writer_t {
 public:
  // Writes the file header into `file`, which must outlive the writer.
  // `first_dts` (in the track's timescale) is where the first sample
  // starts; the file presents it there.
  mp4_track_writer_t(staging_t& file, const trak_t& trak, uint64_t first_dts);
  // Without finish(), the file stays as it is, without its index.
  ~mp4_track_writer_t();
  mp4_track_writer_t(const mp4_track_writer_t&) = delete;
  mp4_track_writer_t& operator=(const mp4_track_writer_t&) = delete;

  // Appends the sample at the end of the previous one.
  void write(const full_sample_t& sample);
  // Writes the index. No sample may follow.
  void finish();

  uint64_t count() const noexcept { return count_; }

 private:
  struct muxer_t;  // the libav objects

  [[noreturn]] void fail(const char* what, int code) const;
  [[noreturn]] void fail(const char* what, const char* cause) const;

  std::filesystem::path path_;
  uint32_t timescale_ = 0;
  int64_t cursor_ = 0;  // where the next sample starts, in track ticks
  uint64_t count_ = 0;
  std::unique_ptr<muxer_t> muxer_;
};

}  // namespace vantor::outputs
