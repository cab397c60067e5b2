#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "log_context.hpp"
#include "sources/file_sample_source.hpp"
#include "transcode/video_base.hpp"

namespace vantor::stages {

// The decoded pictures of a file for a job that wants only some of them.
// Whoever picks the pictures says, through want_from(), from which
// presentation time on it still wants any; this source then does the least
// decoding that still gives every picture from that time on, exactly:
// - the samples of non-reference pictures before the time are left out;
// - where the file can seek and the time lies beyond the sync sample the
//   decoder has reached, it seeks to the sync sample before the time and
//   decodes from there with a fresh decoder: one decoder decodes one stretch
//   of the stream once, so a seek means a new decoder, never a reset;
// - with sync samples only, only sync samples at or after the time are
//   decoded; for a job that wants one sync sample per mark, each has a
//   decoder of its own, which gives its picture at once (a decoder of a
//   stream with reordered pictures holds pictures back until later samples
//   come, and those would be decoded for nothing).
// Pictures before the wanted time are not passed on. Times are on the
// container's presentation timeline (as a presentation_window_t gives them).
class seeking_picture_source_t final : public video::frame_source_t {
 public:
  // Makes a decoder over the samples it is given, as a host makes one
  // through its plug-in factory.
  using decoder_factory_t =
      std::function<std::unique_ptr<video::frame_source_t>(std::unique_ptr<sample_source_t>)>;

  enum class samples_t {
    needed,              // every sample the wanted pictures need
    sync,                // sync samples only, through one decoder
    one_sync_per_decoder // sync samples only, one per decoder
  };

  seeking_picture_source_t(log_context_t& log_context, std::unique_ptr<sources::file_sample_source_t> source,
                           decoder_factory_t make_decoder, samples_t samples);
  ~seeking_picture_source_t() override;

  // Pictures presented before `microseconds` are wanted no more; the time
  // only moves forward.
  void want_from(int64_t microseconds);

  video::frame_t operator()() override;

  uint64_t decoders_started() const noexcept { return decoders_started_; }
  uint64_t seeks() const noexcept { return seeks_; }

 private:
  void start_decoder();
  bool sync_only() const noexcept;

  log_context_t& log_context_;
  std::unique_ptr<sources::file_sample_source_t> source_;  // outlives every decoder reading it
  decoder_factory_t make_decoder_;
  samples_t samples_;
  uint64_t presentation_start_;
  uint32_t timescale_;
  uint64_t wanted_ = 0;  // presentation ticks, relative to presentation_start_
  bool seek_pending_ = false;
  std::unique_ptr<video::frame_source_t> decoder_;
  const bool* decoder_got_a_sample_ = nullptr;  // of the current decoder's samples
  uint64_t decoders_started_ = 0;
  uint64_t seeks_ = 0;
};

}  // namespace vantor::stages
