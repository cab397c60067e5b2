#include "transcode/decoder_base.hpp"

#include <sstream>
#include <utility>

#include "exception.hpp"

namespace vantor::video {

namespace {

std::unique_ptr<sample_source_t> checked_input(std::unique_ptr<sample_source_t> input,
                                               nal_family_t family) {
  VANTOR_CHECK(input);
  codec_t const expected = family == nal_family_t::avc ? codec_t::avc : codec_t::hevc;
  codec_t const actual = input->trak().codec;
  if (actual != expected) {
    throw vantor::exception(vantor_result_check_failed,
                            "video decoder input: the track's codec is " + to_string(actual) +
                                ", this decoder takes " + to_string(expected));
  }
  return input;
}

}  // namespace

// Hands the converted bytes of a sample straight to the decoder.
class nal_decoder_base_t::bitstream_sink_t final : public annexb_sink_t {
 public:
  explicit bitstream_sink_t(nal_decoder_base_t& base) : base_(base) {}
  void write(const uint8_t* data, size_t size) override { base_.append_bitstream(data, size); }

 private:
  nal_decoder_base_t& base_;
};

nal_decoder_base_t::nal_decoder_base_t(log_context_t& log_context,
                                       std::unique_ptr<sample_source_t> input, nal_family_t family)
    : log_context_(log_context),
      input_(checked_input(std::move(input), family)),
      timescale_(input_->trak().media_timescale),
      decode_time_(input_->first_dts()),
      converter_(family, input_->trak().decoder_config) {
  pending_sample_ = input_->read_sample();
}

nal_decoder_base_t::~nal_decoder_base_t() = default;

void nal_decoder_base_t::read_input() {
  VANTOR_CHECK(pending_sample_ && "read_input called after the end of the input");
  full_sample_t const& sample = *pending_sample_;
  uint64_t const number = samples_delivered_;

  uint64_t const dts = decode_time_;
  int64_t const offset = sample.composition_offset();
  uint64_t pts = 0;
  bool negative = false;
  bool overflow = false;
  if (offset >= 0) {
    overflow = __builtin_add_overflow(dts, static_cast<uint64_t>(offset), &pts);
  } else {
    uint64_t const magnitude = static_cast<uint64_t>(-offset);
    negative = magnitude > dts;
    pts = dts - magnitude;
  }
  if (negative || overflow) {
    throw vantor::exception(vantor_result_check_failed,
                            decoder_name() + ": sample " + std::to_string(number) +
                                ": the presentation time " + std::to_string(dts) +
                                (offset < 0 ? " - " : " + ") +
                                std::to_string(offset < 0 ? -offset : offset) +
                                (negative ? " is negative" : " does not fit in 64 bits"));
  }
  uint64_t next_decode_time = 0;
  if (__builtin_add_overflow(dts, uint64_t{sample.duration()}, &next_decode_time)) {
    throw vantor::exception(vantor_result_check_failed,
                            decoder_name() + ": sample " + std::to_string(number) +
                                ": the decode time " + std::to_string(dts) + " + duration " +
                                std::to_string(sample.duration()) + " does not fit in 64 bits");
  }

  set_dts(dts);
  set_pts(pts);

  bool const sync = sample.is_sync_sample();
  bitstream_sink_t sink(*this);
  const buckets_t& payload = sample.data();
  annexb_sample_writer_t writer(converter_, buckets_size(payload),
                                parameter_sets_owed_ || sync, number, sink);
  buckets_for_each(payload, [&writer](const uint8_t* data, size_t size) { writer.feed(data, size); });
  bool const wrote_parameter_sets = writer.finish();
  if (wrote_parameter_sets) parameter_sets_owed_ = false;
  else if (sync) parameter_sets_owed_ = true;

  set_sync_sample(sync);
  set_sample_number(number);

  uint64_t sample_end = 0;
  if (!__builtin_add_overflow(pts, uint64_t{sample.duration()}, &sample_end) &&
      sample_end > presentation_end_) {
    presentation_end_ = sample_end;
  }
  if (sample.composition_offset() != 0) times_in_decode_order_ = false;
  if (times_in_decode_order_) {
    unassigned_pts_.push(pts);
    if (pts > latest_delivered_pts_) latest_delivered_pts_ = pts;
  } else {
    unassigned_pts_ = {};
  }
  decode_time_ = next_decode_time;
  composition_offset_ = sample.composition_offset();
  ++samples_delivered_;
  pending_sample_.reset();
  pending_sample_ = input_->read_sample();
}

uint64_t nal_decoder_base_t::end_time(uint64_t decoder_end) const noexcept {
  // The decoder ends the stream at the cursor plus the last sample's offset,
  // which is where the last sample in decode order ends. When that sample is
  // a B-frame, it ends where a later picture starts, and that picture would
  // get no duration: the stream ends where the latest presented sample ends.
  return decoder_end < presentation_end_ ? presentation_end_ : decoder_end;
}

void nal_decoder_base_t::check_output_pts(uint64_t& pts) {
  bool const end_frame = end_reported_;
  end_reported_ = false;
  if (end_frame) {
    pts = end_time(pts);
  } else if (times_in_decode_order_ && !unassigned_pts_.empty() && pts <= latest_delivered_pts_) {
    pts = unassigned_pts_.top();
    unassigned_pts_.pop();
  }
  bool const out_of_order =
      last_picture_pts_ && (end_frame ? pts < *last_picture_pts_ : pts <= *last_picture_pts_);
  if (out_of_order && log_context_.level >= vantor_log_warning) {
    std::ostringstream line;
    line << decoder_name() << ": ";
    if (end_frame) {
      line << "end time " << pts << " lies before the last picture's pts " << *last_picture_pts_;
    } else {
      line << "picture " << pictures_out_ << " has pts " << pts
           << ", not after the previous picture's " << *last_picture_pts_;
    }
    log_context_.log_at_level(vantor_log_warning, line.str());
  }
  if (!end_frame) {
    ++pictures_out_;
    last_picture_pts_ = pts;
  }
}

void nal_decoder_base_t::log_decoded_sample_count() {
  end_reported_ = true;
  if (log_context_.level < vantor_log_info) return;
  std::ostringstream line;
  line << decoder_name() << ": decoded " << pictures_out_ << " pictures from "
       << samples_delivered_ << " samples";
  log_context_.log_at_level(vantor_log_info, line.str());
}

avc_decoder_base_t::avc_decoder_base_t(log_context_t& log_context,
                                       std::unique_ptr<sample_source_t> input)
    : nal_decoder_base_t(log_context, std::move(input), nal_family_t::avc) {}

hvc_decoder_base_t::hvc_decoder_base_t(log_context_t& log_context,
                                       std::unique_ptr<sample_source_t> input)
    : nal_decoder_base_t(log_context, std::move(input), nal_family_t::hevc) {}

}  // namespace vantor::video
