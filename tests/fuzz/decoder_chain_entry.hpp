#pragma once

// Fuzz entry: the decoder chain from arbitrary bytes.
//
// Input layout (every field optional: a short input reads as zeros):
//   u8  flags  bit 0     HEVC (else H.264)
//              bit 1     a configuration record (avcC/hvcC) follows
//              bit 2     run the pictures through the resize filter and the JPEG encoder
//              bit 3     log level 4 (traces and FFmpeg's debug messages), else 0
//              bits 4-5  payload blocks of 0: one / 1: 1 / 2: 7 / 3: 100 bytes
//              bits 6-7  resize geometry (see geometry_of)
//   u8  timescale / 100 (0 gives a zero timescale)
//   [u16 record length, record bytes]                          when bit 1 is set
//   then samples until the input ends:
//   u16 payload length, u8 sample flags (bit 0 sync), i8 composition offset / 256, payload

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "exception.hpp"
#include "ffmpeg_utils/exports.hpp"
#include "fuzz/fuzz_support.hpp"
#include "log_context.hpp"
#include "support/memory_sample_source.hpp"
#include "trak.hpp"
#include "transcode/video_base.hpp"

namespace vantor::fuzz {

struct decoder_chain_input_t {
  bool hevc = false;
  bool chain = false;
  bool verbose = false;
  uint8_t block_size_code = 0;
  uint8_t geometry = 0;
  uint8_t timescale_code = 128;  // 12800 ticks per second
  std::optional<std::vector<uint8_t>> record;
  std::vector<testing::memory_sample_t> samples;
};

constexpr uint32_t fuzz_sample_duration = 512;
constexpr int32_t fuzz_offset_unit = 256;

inline std::vector<uint8_t> encode(const decoder_chain_input_t& input) {
  std::vector<uint8_t> out;
  out.push_back(static_cast<uint8_t>((input.hevc ? 1 : 0) | (input.record ? 2 : 0) |
                                     (input.chain ? 4 : 0) | (input.verbose ? 8 : 0) |
                                     (input.block_size_code & 3) << 4 | (input.geometry & 3) << 6));
  out.push_back(input.timescale_code);
  if (input.record) {
    put_u16(out, input.record->size());
    out.insert(out.end(), input.record->begin(), input.record->end());
  }
  for (const testing::memory_sample_t& sample : input.samples) {
    put_u16(out, sample.bytes.size());
    out.push_back(sample.sync ? 1 : 0);
    out.push_back(static_cast<uint8_t>(static_cast<int8_t>(sample.composition_offset / fuzz_offset_unit)));
    out.insert(out.end(), sample.bytes.begin(), sample.bytes.end());
  }
  return out;
}

inline decoder_chain_input_t decode_decoder_chain_input(const uint8_t* data, size_t size) {
  byte_reader_t in(data, size);
  decoder_chain_input_t input;
  uint8_t const flags = in.u8();
  input.hevc = flags & 1;
  input.chain = flags & 4;
  input.verbose = flags & 8;
  input.block_size_code = (flags >> 4) & 3;
  input.geometry = (flags >> 6) & 3;
  input.timescale_code = in.u8();
  if (flags & 2) input.record = in.bytes(in.u16());
  // Bounded so that one input cannot take long whatever its size.
  while (!in.empty() && input.samples.size() < 400) {
    testing::memory_sample_t sample;
    size_t const length = in.u16();
    sample.sync = in.u8() & 1;
    sample.composition_offset = int32_t{static_cast<int8_t>(in.u8())} * fuzz_offset_unit;
    sample.duration = fuzz_sample_duration;
    sample.bytes = in.bytes(length);
    input.samples.push_back(std::move(sample));
  }
  return input;
}

struct resize_geometry_t {
  uint32_t width, height, crop_x, crop_y, crop_w, crop_h;
};

inline resize_geometry_t geometry_of(uint8_t code) {
  switch (code & 3) {
    case 0: return {64, 48, 0, 0, 0, 0};
    case 1: return {33, 17, 0, 0, 0, 0};    // odd sizes
    case 2: return {64, 48, 8, 6, 40, 30};  // a rectangle inside a black frame
    default: return {2, 2, 0, 0, 0, 0};
  }
}

namespace detail {

// Frames that a component hands on must describe themselves consistently.
inline void check_frame(const video::frame_t& frame) {
  if (frame.is_end_of_stream()) {
    require(frame.width_ == 0 && frame.height_ == 0, "an end frame with a size");
    return;
  }
  require(frame.width_ != 0 && frame.height_ != 0, "a picture without a size");
  require(frame.data_.size() == video::frame_data_size(frame.width_, frame.height_, frame.format_),
          "a picture whose data does not match its size and format");
}

// Returns the number of pictures (or JPEG samples) that came out.
inline size_t run_decoder_chain(const decoder_chain_input_t& input, log_context_t& log) {
  trak_t trak = testing::make_video_trak(input.hevc ? codec_t::hevc : codec_t::avc,
                                         uint32_t{input.timescale_code} * 100,
                                         input.record.value_or(std::vector<uint8_t>{}));
  auto source = std::make_unique<testing::memory_sample_source_t>(std::move(trak), 0, input.samples);
  static constexpr size_t block_sizes[] = {0, 1, 7, 100};
  source->set_payload_block_size(block_sizes[input.block_size_code & 3]);

  std::unique_ptr<video::frame_source_t> decoder =
      input.hevc ? video::create_avcodec_hvc_decoder(log, std::move(source))
                 : video::create_avcodec_avc_decoder(log, std::move(source));
  // A sample may hold several access units, and libavcodec decodes them
  // all; but every picture takes a slice of some bytes. The bound only stops
  // a runaway decoder.
  size_t payload_bytes = 0;
  for (const testing::memory_sample_t& sample : input.samples) payload_bytes += sample.bytes.size();
  size_t const pull_limit = input.samples.size() + payload_bytes + 2;

  if (!input.chain) {
    for (size_t pulls = 0;; ++pulls) {
      require(pulls <= pull_limit, "the decoder returns more pictures than its samples could hold");
      video::frame_t const frame = (*decoder)();
      check_frame(frame);
      if (frame.is_end_of_stream()) {
        // After the end, end frames for ever.
        require((*decoder)().is_end_of_stream(), "a picture after the end frame");
        return pulls;
      }
    }
  }

  resize_geometry_t const g = geometry_of(input.geometry);
  std::unique_ptr<video::frame_source_t> filter = video::create_swscale_resize_filter(
      log, std::move(decoder), g.width, g.height, g.crop_x, g.crop_y, g.crop_w, g.crop_h);
  std::unique_ptr<sample_source_t> encoder =
      video::create_avcodec_jpg_encoder(log, std::move(filter), std::nullopt, 30);
  for (size_t pulls = 0;; ++pulls) {
    require(pulls <= pull_limit, "the encoder returns more samples than its input could hold pictures");
    std::optional<full_sample_t> sample = encoder->read_sample();
    if (!sample) {
      require(!encoder->read_sample(), "a sample after the end");
      return pulls;
    }
    require(buckets_size(sample->data()) != 0, "an empty JPEG sample");
  }
}

}  // namespace detail

inline void fuzz_decoder_chain(const uint8_t* data, size_t size) {
  decoder_chain_input_t const input = decode_decoder_chain_input(data, size);
  // Every line is composed (level 4 turns on the printers), then dropped.
  size_t logged = 0;
  log_context_t log(input.verbose ? vantor_log_trace : vantor_log_error,
                    [&logged](vantor_log_level_t, std::string_view text) { logged += text.size(); });
  try {
    detail::run_decoder_chain(input, log);
  } catch (const vantor::exception&) {
    // What bad input is meant to get.
  }
}

}  // namespace vantor::fuzz
