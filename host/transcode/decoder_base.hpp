#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <queue>
#include <string>
#include <vector>

#include "log_context.hpp"
#include "trak.hpp"
#include "transcode/annexb.hpp"
#include "transcode/video_base.hpp"

namespace vantor::video {

// Base of the H.264 and HEVC decoders, which differ only in their NAL unit
// family. It owns the track's sample source, holds one pending sample, keeps
// the decode time cursor, and delivers each sample to the derived decoder
// through the hooks below as one Annex B access unit, with the configuration
// record's parameter sets (avcC: SPS, PPS; hvcC: VPS, SPS, PPS) in band.
class nal_decoder_base_t : public frame_source_t {
 public:
  ~nal_decoder_base_t() override;

 protected:
  // Takes the source; reads its track (timescale, configuration record), its
  // first decode time and its first sample, in this order. Throws 13 on a
  // null source, a track of another codec than `family`, or a malformed
  // record.
  nal_decoder_base_t(log_context_t& log_context, std::unique_ptr<sample_source_t> input,
                     nal_family_t family);

  // The decoder's side of the delivery. The order is the derived decoders'
  // virtual table: keep it.
  virtual std::string decoder_name() = 0;
  virtual void set_dts(uint64_t dts) = 0;
  virtual void set_pts(uint64_t pts) = 0;
  virtual uint64_t dts() = 0;
  virtual uint64_t pts() = 0;
  virtual void append_bitstream(const uint8_t* data, size_t size) = 0;
  virtual bool bitstream_empty() = 0;
  // Whether the sample is a sync sample, and its 0-based number.
  virtual void set_sync_sample(bool sync) = 0;
  virtual void set_sample_number(uint64_t number) = 0;

  // Delivers the pending sample: set_dts(cursor), set_pts(cursor +
  // composition offset), the payload as Annex B (parameter sets in band
  // before the first and every sync sample), then the two further hooks.
  // Advances the cursor by the duration and reads the next pending sample.
  // The payload is converted block by block straight into append_bitstream
  // calls (several per sample). Malformed samples throw 13 naming the
  // 0-based sample number and the fault; a negative pts throws 13 too.
  // Called with no pending sample, it fails the check
  // "pending_sample_ && \"read_input called after the end of the input\"".
  void read_input();

  // Given the pts of every frame the decoder returns, end frames included.
  // Counts the pictures and warns (level 1) when a picture's pts is not
  // above the previous one's, or an end time lies before the last picture.
  // An end frame's pts is the decoder's own end (the cursor plus an offset);
  // it leaves with the stream's end time, see end_time().
  //
  // While every sample delivered has composition offset 0, the samples'
  // times are taken to be in decode order, which is wrong for a stream with
  // reordered pictures remuxed without its timestamps (presentation time =
  // decode time). Pictures come out in presentation order, so the k-th
  // picture gets the k-th smallest time delivered; for streams without
  // reordering that is the picture's own time. Other pictures keep theirs.
  void check_output_pts(uint64_t& pts);

  // Writes "<decoder_name>: decoded N pictures from M samples" at level 2.
  // The decoder calls it once per end frame, right before it hands that
  // frame's pts to check_output_pts(); it is the one sign the base gets that
  // the next check is an end frame's (see end_reported_).
  void log_decoded_sample_count();

  log_context_t& log_context() noexcept { return log_context_; }
  uint32_t timescale() const noexcept { return timescale_; }
  const std::optional<full_sample_t>& pending_sample() const noexcept { return pending_sample_; }
  uint64_t decode_time() const noexcept { return decode_time_; }
  int32_t composition_offset() const noexcept { return composition_offset_; }
  uint64_t output_pts_offset() const noexcept { return output_pts_offset_; }

 private:
  class bitstream_sink_t;

  // The stream's end time, for an end frame whose decoder put it at
  // `decoder_end`: the end of presentation, unless the decoder's end lies
  // later.
  uint64_t end_time(uint64_t decoder_end) const noexcept;

  log_context_t& log_context_;
  std::unique_ptr<sample_source_t> input_;
  uint32_t timescale_;
  uint64_t decode_time_;            // decode time of the pending sample
  int32_t composition_offset_ = 0;  // of the last sample delivered
  std::optional<full_sample_t> pending_sample_;
  uint64_t samples_delivered_ = 0;
  annexb_converter_t converter_;
  // The record's parameter sets go in band before the first sample and
  // every sync sample; a sample that carried no NAL unit passes them on.
  bool parameter_sets_owed_ = true;
  uint64_t output_pts_offset_ = 0;

  // The latest pts + duration of the samples delivered so far.
  uint64_t presentation_end_ = 0;
  uint64_t pictures_out_ = 0;
  std::optional<uint64_t> last_picture_pts_;
  // Set by log_decoded_sample_count(), taken by the check that follows it.
  // An end frame cannot be told by its value: the decoder's end is the pts
  // of a picture whenever the last sample in decode order is a B-frame.
  bool end_reported_ = false;

  // Presentation times delivered and not yet given to a picture, while
  // every offset delivered is 0; see check_output_pts().
  bool times_in_decode_order_ = true;
  std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<uint64_t>> unassigned_pts_;
  uint64_t latest_delivered_pts_ = 0;
};

// Base of the H.264 decoder.
class avc_decoder_base_t : public nal_decoder_base_t {
 public:
  avc_decoder_base_t(log_context_t& log_context, std::unique_ptr<sample_source_t> input);
};

// Base of the HEVC decoder.
class hvc_decoder_base_t : public nal_decoder_base_t {
 public:
  hvc_decoder_base_t(log_context_t& log_context, std::unique_ptr<sample_source_t> input);
};

}  // namespace vantor::video
