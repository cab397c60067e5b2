#include "transcode/decoder_base.hpp"

#include <limits>
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

// Hands each converted piece straight to the decoder.
class hooks_sink_t final : public annexb_sink_t {
 public:
  explicit hooks_sink_t(decoder_input_t::hooks_t& hooks) : hooks_(hooks) {}
  void write(const uint8_t* data, size_t size) override { hooks_.append_bitstream(data, size); }

 private:
  decoder_input_t::hooks_t& hooks_;
};

}  // namespace

decoder_input_t::decoder_input_t(log_context_t& log_context, std::unique_ptr<sample_source_t> input,
                                 nal_family_t family)
    : log_context_(log_context),
      input_(checked_input(std::move(input), family)),
      timescale_(input_->trak().media_timescale),
      decode_time_(input_->first_dts()),
      converter_(family, input_->trak().decoder_config) {
  pending_sample_ = input_->read_sample();
}

void decoder_input_t::read_input(hooks_t& hooks) {
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
                            hooks.decoder_name() + ": sample " + std::to_string(number) +
                                ": the presentation time " + std::to_string(dts) +
                                (offset < 0 ? " - " : " + ") +
                                std::to_string(offset < 0 ? -offset : offset) +
                                (negative ? " is negative" : " does not fit in 64 bits"));
  }
  uint64_t next_decode_time = 0;
  if (__builtin_add_overflow(dts, uint64_t{sample.duration()}, &next_decode_time)) {
    throw vantor::exception(vantor_result_check_failed,
                            hooks.decoder_name() + ": sample " + std::to_string(number) +
                                ": the decode time " + std::to_string(dts) + " + duration " +
                                std::to_string(sample.duration()) + " does not fit in 64 bits");
  }

  hooks.set_dts(dts);
  hooks.set_pts(pts);

  bool const sync = sample.is_sync_sample();
  hooks_sink_t sink(hooks);
  const buckets_t& payload = sample.data();
  annexb_sample_writer_t writer(converter_, buckets_size(payload),
                                parameter_sets_owed_ || sync, number, sink);
  buckets_for_each(payload, [&writer](const uint8_t* data, size_t size) { writer.feed(data, size); });
  bool const wrote_parameter_sets = writer.finish();
  if (wrote_parameter_sets) parameter_sets_owed_ = false;
  else if (sync) parameter_sets_owed_ = true;

  hooks.set_sync_sample(sync);
  hooks.set_sample_number(number);

  uint64_t sample_end = 0;
  if (!__builtin_add_overflow(pts, uint64_t{sample.duration()}, &sample_end) &&
      sample_end > presentation_end_) {
    presentation_end_ = sample_end;
  }
  decode_time_ = next_decode_time;
  composition_offset_ = sample.composition_offset();
  ++samples_delivered_;
  pending_sample_.reset();
  pending_sample_ = input_->read_sample();
}

void decoder_input_t::check_output_pts(hooks_t& hooks, uint64_t& pts) {
  bool const end_frame = end_frame_next_;
  end_frame_next_ = false;
  // The decoder's end time is the decode cursor plus the last sample's
  // offset. When the last sample in decode order is a B-frame, that is the
  // presentation time of an earlier picture, not the end of the stream:
  // the last picture would get no duration. The end is where the latest
  // presented sample ends.
  if (end_frame && pts < presentation_end_) pts = presentation_end_;
  bool const out_of_order =
      last_picture_pts_ && (end_frame ? pts < *last_picture_pts_ : pts <= *last_picture_pts_);
  if (out_of_order && log_context_.level >= vantor_log_warning) {
    std::ostringstream line;
    line << hooks.decoder_name() << ": ";
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

void decoder_input_t::log_decoded_sample_count(hooks_t& hooks) {
  end_frame_next_ = true;
  if (log_context_.level < vantor_log_info) return;
  std::ostringstream line;
  line << hooks.decoder_name() << ": decoded " << pictures_out_ << " pictures from "
       << samples_delivered_ << " samples";
  log_context_.log_at_level(vantor_log_info, line.str());
}

// ---------------------------------------------------------------------------

namespace detail {
template <typename base_t>
struct forward_hooks_t final : decoder_input_t::hooks_t {
  explicit forward_hooks_t(base_t& base) : base_(base) {}
  std::string decoder_name() override { return base_.decoder_name(); }
  void set_dts(uint64_t dts) override { base_.set_dts(dts); }
  void set_pts(uint64_t pts) override { base_.set_pts(pts); }
  void append_bitstream(const uint8_t* data, size_t size) override {
    base_.append_bitstream(data, size);
  }
  void set_sync_sample(bool sync) override { base_.set_sync_sample(sync); }
  void set_sample_number(uint64_t number) override { base_.set_sample_number(number); }

  base_t& base_;
};
}  // namespace detail

#define VANTOR_DEFINE_DECODER_BASE(base_t, family)                                           \
  base_t::base_t(log_context_t& log_context, std::unique_ptr<sample_source_t> input)        \
      : input_(log_context, std::move(input), family) {}                                     \
  base_t::~base_t() = default;                                                               \
  void base_t::read_input() {                                                                \
    detail::forward_hooks_t<base_t> hooks(*this);                                            \
    input_.read_input(hooks);                                                                \
  }                                                                                          \
  void base_t::check_output_pts(uint64_t& pts) {                                             \
    detail::forward_hooks_t<base_t> hooks(*this);                                            \
    input_.check_output_pts(hooks, pts);                                                     \
  }                                                                                          \
  void base_t::log_decoded_sample_count() {                                                  \
    detail::forward_hooks_t<base_t> hooks(*this);                                            \
    input_.log_decoded_sample_count(hooks);                                                  \
  }

// The two bases are one implementation over two codec families.
VANTOR_DEFINE_DECODER_BASE(avc_decoder_base_t, nal_family_t::avc)
VANTOR_DEFINE_DECODER_BASE(hvc_decoder_base_t, nal_family_t::hevc)

#undef VANTOR_DEFINE_DECODER_BASE

}  // namespace vantor::video
