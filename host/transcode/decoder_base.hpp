#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "log_context.hpp"
#include "trak.hpp"
#include "transcode/annexb.hpp"
#include "transcode/video_base.hpp"

namespace vantor::video {

namespace detail {
// Hands the delivery of decoder_input_t to a decoder base's own hooks.
template <typename base_t>
struct forward_hooks_t;
}  // namespace detail

// What the H.264 and HEVC decoder bases share: they own the track's sample
// source, hold one pending sample, keep the decode time cursor, and deliver
// each sample to the decoder as an Annex B access unit through `hooks_t`.
class decoder_input_t {
 public:
  // The decoder's side of the delivery, in the order the bases declare them.
  struct hooks_t {
    virtual std::string decoder_name() = 0;
    virtual void set_dts(uint64_t dts) = 0;
    virtual void set_pts(uint64_t pts) = 0;
    virtual void append_bitstream(const uint8_t* data, size_t size) = 0;
    virtual void set_sync_sample(bool sync) = 0;
    virtual void set_sample_number(uint64_t number) = 0;

   protected:
    ~hooks_t() = default;
  };

  // Reads trak(), first_dts() and the first sample, in this order. A null
  // source, or a track of another codec than `family`, throws 13; so does a
  // malformed configuration record.
  decoder_input_t(log_context_t& log_context, std::unique_ptr<sample_source_t> input,
                  nal_family_t family);

  // Delivers the pending sample (see avc_decoder_base_t::read_input) and reads the next one.
  void read_input(hooks_t& hooks);

  // See avc_decoder_base_t::check_output_pts and log_decoded_sample_count.
  void check_output_pts(hooks_t& hooks, uint64_t& pts);
  void log_decoded_sample_count(hooks_t& hooks);

  log_context_t& log_context_;
  std::unique_ptr<sample_source_t> input_;
  uint32_t timescale_;
  uint64_t decode_time_;          // decode time of the pending sample
  int32_t composition_offset_ = 0;  // of the last sample delivered
  std::optional<full_sample_t> pending_sample_;
  uint64_t samples_delivered_ = 0;
  annexb_converter_t converter_;
  // The record's parameter sets go in band before the first sample and
  // every sync sample; a sample that carried no NAL unit passes them on.
  bool parameter_sets_owed_ = true;

  uint64_t pictures_out_ = 0;
  std::optional<uint64_t> last_picture_pts_;
  // The latest pts + duration of the samples delivered so far.
  uint64_t presentation_end_ = 0;
  // Set by log_decoded_sample_count(): the decoder calls it just before it
  // hands the end frame's pts to check_output_pts().
  bool end_frame_next_ = false;
};

// Base of the H.264 decoder. The derived decoder implements the hooks; the
// base reads the samples and hands them over.
class avc_decoder_base_t : public frame_source_t {
 public:
  // Takes the source; reads its track (timescale, avcC record), its first
  // decode time and its first sample. Throws 13 on a null source, a track
  // that is not H.264, or a malformed avcC record.
  avc_decoder_base_t(log_context_t& log_context, std::unique_ptr<sample_source_t> input);
  ~avc_decoder_base_t() override;

 protected:
  virtual std::string decoder_name() = 0;
  virtual void set_dts(uint64_t dts) = 0;
  virtual void set_pts(uint64_t pts) = 0;
  virtual uint64_t dts() = 0;
  virtual uint64_t pts() = 0;
  virtual void append_bitstream(const uint8_t* data, size_t size) = 0;
  virtual bool bitstream_empty() = 0;
  // Further hooks: whether the sample is a sync sample, and its 0-based number.
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
  // above the previous one's. A picture's pts is never changed. An end
  // frame's pts is raised to the end of presentation (the latest pts +
  // duration of the samples delivered) when it lies before it, as it does
  // when the last sample in decode order is a B-frame.
  void check_output_pts(uint64_t& pts);

  // Writes "<decoder_name>: decoded N pictures from M samples" at level 2.
  void log_decoded_sample_count();

  log_context_t& log_context() noexcept { return input_.log_context_; }
  uint32_t timescale() const noexcept { return input_.timescale_; }
  const std::optional<full_sample_t>& pending_sample() const noexcept {
    return input_.pending_sample_;
  }
  uint64_t decode_time() const noexcept { return input_.decode_time_; }
  int32_t composition_offset() const noexcept { return input_.composition_offset_; }
  uint64_t output_pts_offset() const noexcept { return output_pts_offset_; }

 private:
  template <typename base_t>
  friend struct detail::forward_hooks_t;

  decoder_input_t input_;
  uint64_t output_pts_offset_ = 0;
};

// Base of the HEVC decoder: the same hooks in the same order, with VPS, SPS
// and PPS from the hvcC record put in band. Everything else is as in
// avc_decoder_base_t.
class hvc_decoder_base_t : public frame_source_t {
 public:
  hvc_decoder_base_t(log_context_t& log_context, std::unique_ptr<sample_source_t> input);
  ~hvc_decoder_base_t() override;

 protected:
  virtual std::string decoder_name() = 0;
  virtual void set_dts(uint64_t dts) = 0;
  virtual void set_pts(uint64_t pts) = 0;
  virtual uint64_t dts() = 0;
  virtual uint64_t pts() = 0;
  virtual void append_bitstream(const uint8_t* data, size_t size) = 0;
  virtual bool bitstream_empty() = 0;
  virtual void set_sync_sample(bool sync) = 0;
  virtual void set_sample_number(uint64_t number) = 0;

  void read_input();
  void check_output_pts(uint64_t& pts);
  void log_decoded_sample_count();

  log_context_t& log_context() noexcept { return input_.log_context_; }
  uint32_t timescale() const noexcept { return input_.timescale_; }
  const std::optional<full_sample_t>& pending_sample() const noexcept {
    return input_.pending_sample_;
  }
  uint64_t decode_time() const noexcept { return input_.decode_time_; }
  int32_t composition_offset() const noexcept { return input_.composition_offset_; }
  uint64_t output_pts_offset() const noexcept { return output_pts_offset_; }

 private:
  template <typename base_t>
  friend struct detail::forward_hooks_t;

  decoder_input_t input_;
  uint64_t output_pts_offset_ = 0;
};

}  // namespace vantor::video
