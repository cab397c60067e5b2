#pragma once

// Helpers of the decoder tests: a source wrapper that counts and edits the
// samples a decoder pulls, the timing a track's samples announce, and a
// loop that decodes a whole stream into digests and picture descriptions.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "buckets.hpp"
#include "ffmpeg_utils/exports.hpp"
#include "log_context.hpp"
#include "mp4_full_sample.hpp"
#include "support/md5.hpp"
#include "support/paths.hpp"
#include "sources/file_sample_source.hpp"
#include "trak.hpp"
#include "transcode/video_base.hpp"

namespace vantor::testing {

using video::frame_t;

// Clips that only these tests use live beside them.
inline std::string decoder_clip_path(const std::string& name) {
  return clip_path("../decoders/data/" + name);
}

inline std::vector<uint8_t> payload_of(const full_sample_t& sample) {
  return buckets_to_vector(sample.data());
}

// `sample` with its payload replaced; timing, flags and aux data are kept.
inline full_sample_t with_payload(const full_sample_t& sample, const std::vector<uint8_t>& payload) {
  unique_buckets_ptr_t data = buckets_create();
  buckets_append(*data, payload.data(), payload.data() + payload.size());
  std::vector<uint8_t> const aux = buckets_to_vector(sample.aux_data());
  unique_buckets_ptr_t aux_data = buckets_create();
  buckets_append(*aux_data, aux.data(), aux.data() + aux.size());
  return full_sample_t(sample.duration(), sample.composition_offset(),
                       sample.sample_description_index(), sample.flags(), sample.subsamples(),
                       std::move(data), std::move(aux_data));
}

// What a probed source has seen; shared with the test, which keeps it after
// the decoder (the source's owner) is gone.
struct source_probe_t {
  size_t read_calls = 0;  // read_sample() calls, including those at the end
  size_t samples = 0;     // samples handed out
};

// Edits sample `index` (0-based) on its way to the decoder.
using sample_edit_t = std::function<full_sample_t(size_t index, full_sample_t sample)>;

// How a probed source departs from the source it wraps.
struct probe_options_t {
  sample_edit_t edit;
  std::optional<size_t> limit;          // hand out at most this many samples
  std::optional<uint64_t> first_dts;    // announce this first decode time instead
  std::optional<uint32_t> timescale;    // announce this track timescale instead
};

class probed_sample_source_t : public sample_source_t {
 public:
  probed_sample_source_t(std::unique_ptr<sample_source_t> inner,
                         std::shared_ptr<source_probe_t> probe, probe_options_t options = {})
      : inner_(std::move(inner)),
        probe_(std::move(probe)),
        options_(std::move(options)),
        trak_(inner_->trak()) {
    if (options_.timescale) trak_.media_timescale = *options_.timescale;
  }

  const trak_t& trak() const override { return trak_; }
  uint64_t first_dts() const override {
    return options_.first_dts ? *options_.first_dts : inner_->first_dts();
  }
  std::optional<full_sample_t> read_sample() override {
    ++probe_->read_calls;
    if (options_.limit && probe_->samples == *options_.limit) return std::nullopt;
    std::optional<full_sample_t> sample = inner_->read_sample();
    if (!sample) return sample;
    size_t const index = probe_->samples++;
    if (options_.edit) return options_.edit(index, std::move(*sample));
    return sample;
  }

 private:
  std::unique_ptr<sample_source_t> inner_;
  std::shared_ptr<source_probe_t> probe_;
  probe_options_t options_;
  trak_t trak_;
};

// The times a track's samples announce, read straight from a source.
struct track_timing_t {
  uint32_t timescale = 0;
  uint64_t first_dts = 0;
  std::vector<uint64_t> presentation_times;  // dts + composition offset, in decode order
  uint64_t end_cursor = 0;                   // first_dts + every duration
  int32_t last_offset = 0;                   // composition offset of the last sample
  uint64_t presentation_end = 0;             // the latest pts + duration

  // Where the decoder puts its end: the cursor plus the last offset.
  uint64_t decoder_end() const { return end_cursor + static_cast<uint64_t>(int64_t{last_offset}); }
  // What the end frame carries: the base raises the decoder's end to the
  // end of presentation when the last sample in decode order is a B-frame.
  uint64_t end_time() const { return std::max(decoder_end(), presentation_end); }
};

inline track_timing_t read_timing(sample_source_t& source, std::optional<size_t> limit = {}) {
  track_timing_t timing;
  timing.timescale = source.trak().media_timescale;
  timing.first_dts = source.first_dts();
  timing.end_cursor = timing.first_dts;
  while (!limit || timing.presentation_times.size() < *limit) {
    std::optional<full_sample_t> sample = source.read_sample();
    if (!sample) break;
    timing.presentation_times.push_back(
        timing.end_cursor + static_cast<uint64_t>(int64_t{sample->composition_offset()}));
    timing.last_offset = sample->composition_offset();
    timing.presentation_end =
        std::max(timing.presentation_end, timing.presentation_times.back() + sample->duration());
    timing.end_cursor += sample->duration();
  }
  return timing;
}

// A returned picture, without its pixels.
struct picture_t {
  uint32_t width;
  uint32_t height;
  frame_t::format_t format;
  uint64_t pts;
  uint32_t timescale;
  bool keyframe;
};

struct decoded_stream_t {
  std::vector<picture_t> pictures;
  std::string md5;  // of every picture's data_, back to back
  frame_t end;      // the first end frame
};

// Pulls pictures until the first end frame.
inline decoded_stream_t decode_stream(video::frame_source_t& decoder) {
  decoded_stream_t decoded;
  md5_t md5;
  for (;;) {
    video::frame_t frame = decoder();
    if (frame.is_end_of_stream()) {
      decoded.end = std::move(frame);
      break;
    }
    md5.update(frame.data_);
    decoded.pictures.push_back({frame.width_, frame.height_, frame.format_, frame.pts_,
                                frame.timescale_, frame.keyframe_});
  }
  decoded.md5 = md5.hex();
  return decoded;
}

using decoder_factory_t = std::unique_ptr<video::frame_source_t> (*)(
    log_context_t&, std::unique_ptr<sample_source_t>);

inline decoder_factory_t factory_for_codec(const std::string& codec) {
  return codec == "hevc" ? video::create_avcodec_hvc_decoder : video::create_avcodec_avc_decoder;
}

inline std::string component_name_for_codec(const std::string& codec) {
  return codec == "hevc" ? "video_decoder_hvc_avcodec" : "video_decoder_avc_avcodec";
}

// A decoder over a clip file, with a probe between it and the file.
struct probed_decoder_t {
  std::shared_ptr<source_probe_t> probe = std::make_shared<source_probe_t>();
  std::unique_ptr<video::frame_source_t> decoder;
};

inline probed_decoder_t open_probed_decoder(log_context_t& log, const std::string& codec,
                                            const std::string& path,
                                            probe_options_t options = {}) {
  probed_decoder_t result;
  auto source = std::make_unique<probed_sample_source_t>(vantor::sources::open_file_sample_source(path),
                                                         result.probe, std::move(options));
  result.decoder = factory_for_codec(codec)(log, std::move(source));
  return result;
}

inline track_timing_t read_clip_timing(const std::string& path,
                                       std::optional<size_t> limit = {}) {
  std::unique_ptr<sample_source_t> source = vantor::sources::open_file_sample_source(path);
  return read_timing(*source, limit);
}

}  // namespace vantor::testing
