#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "buckets.hpp"
#include "mp4_full_sample.hpp"
#include "trak.hpp"

namespace vantor::testing {

// One sample as a test writes it down.
struct memory_sample_t {
  std::vector<uint8_t> bytes;
  uint32_t duration = 0;
  int32_t composition_offset = 0;
  bool sync = false;
};

// A sample source over samples held in memory. It counts its read_sample()
// calls in a counter that outlives the source, so a test can still look
// after the source moved into (and died with) a decoder.
class memory_sample_source_t final : public sample_source_t {
 public:
  memory_sample_source_t(trak_t trak, uint64_t first_dts, std::vector<memory_sample_t> samples)
      : trak_(std::move(trak)),
        first_dts_(first_dts),
        samples_(std::move(samples)),
        read_calls_(std::make_shared<size_t>(0)) {}

  const trak_t& trak() const override { return trak_; }
  uint64_t first_dts() const override { return first_dts_; }

  std::optional<full_sample_t> read_sample() override {
    ++*read_calls_;
    if (next_ == samples_.size()) return std::nullopt;
    const memory_sample_t& sample = samples_[next_++];
    unique_buckets_ptr_t data = buckets_create();
    const uint8_t* const first = sample.bytes.data();
    if (payload_block_size_ == 0) {
      buckets_append(*data, first, first + sample.bytes.size());
    } else {
      // One block per piece, so that readers meet payloads cut anywhere.
      for (size_t at = 0; at < sample.bytes.size(); at += payload_block_size_) {
        size_t const n = std::min(payload_block_size_, sample.bytes.size() - at);
        bucket_writer_t(*data, n).write(first + at, first + at + n);
      }
    }
    sample_flags_t const flags = sample_flags_t::make(sample.sync ? sample_flags_t::sync_sample : 0);
    return full_sample_t(sample.duration, sample.composition_offset, 1, flags, std::nullopt,
                         std::move(data), buckets_create());
  }

  // Payloads come in blocks of this many bytes; 0 (the default) is one block.
  void set_payload_block_size(size_t size) noexcept { payload_block_size_ = size; }

  size_t read_calls() const noexcept { return *read_calls_; }
  std::shared_ptr<const size_t> read_call_counter() const noexcept { return read_calls_; }

 private:
  trak_t trak_;
  uint64_t first_dts_;
  std::vector<memory_sample_t> samples_;
  size_t next_ = 0;
  size_t payload_block_size_ = 0;
  std::shared_ptr<size_t> read_calls_;
};

// A track description for in-memory H.264 or HEVC samples.
inline trak_t make_video_trak(codec_t codec, uint32_t timescale,
                              std::vector<uint8_t> decoder_config = {}) {
  trak_t trak;
  trak.codec = codec;
  trak.width = 64;
  trak.height = 48;
  trak.media_timescale = timescale;
  trak.decoder_config = std::move(decoder_config);
  return trak;
}

// NAL units behind big-endian length prefixes of `length_size` bytes.
inline std::vector<uint8_t> length_prefixed(const std::vector<std::vector<uint8_t>>& nal_units,
                                            unsigned length_size = 4) {
  std::vector<uint8_t> out;
  for (const std::vector<uint8_t>& nal : nal_units) {
    for (unsigned i = length_size; i-- > 0;) out.push_back(static_cast<uint8_t>(nal.size() >> (8 * i)));
    out.insert(out.end(), nal.begin(), nal.end());
  }
  return out;
}

// NAL units behind 4-byte start codes: an Annex B byte stream.
inline std::vector<uint8_t> annexb(const std::vector<std::vector<uint8_t>>& nal_units) {
  std::vector<uint8_t> out;
  for (const std::vector<uint8_t>& nal : nal_units) {
    out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), nal.begin(), nal.end());
  }
  return out;
}

namespace detail {
inline void append_u16_prefixed(std::vector<uint8_t>& out, const std::vector<uint8_t>& nal) {
  out.push_back(static_cast<uint8_t>(nal.size() >> 8));
  out.push_back(static_cast<uint8_t>(nal.size()));
  out.insert(out.end(), nal.begin(), nal.end());
}
}  // namespace detail

// An avcC record with the given SPS and PPS units.
inline std::vector<uint8_t> make_avcc(const std::vector<std::vector<uint8_t>>& sps,
                                      const std::vector<std::vector<uint8_t>>& pps,
                                      unsigned length_size = 4) {
  std::vector<uint8_t> out = {1, 0x64, 0x00, 0x1f, static_cast<uint8_t>(0xfc | (length_size - 1)),
                              static_cast<uint8_t>(0xe0 | sps.size())};
  for (const auto& nal : sps) detail::append_u16_prefixed(out, nal);
  out.push_back(static_cast<uint8_t>(pps.size()));
  for (const auto& nal : pps) detail::append_u16_prefixed(out, nal);
  return out;
}

// One array of an hvcC record: its NAL unit type and its units.
struct hvcc_array_t {
  uint8_t nal_type;
  std::vector<std::vector<uint8_t>> units;
};

// An hvcC record with a zeroed 23-byte header (but for the version, the
// length size and the array count) and the given arrays.
inline std::vector<uint8_t> make_hvcc(const std::vector<hvcc_array_t>& arrays,
                                      unsigned length_size = 4) {
  std::vector<uint8_t> out(23, 0);
  out[0] = 1;
  out[21] = static_cast<uint8_t>(0x0c | (length_size - 1));
  out[22] = static_cast<uint8_t>(arrays.size());
  for (const hvcc_array_t& array : arrays) {
    out.push_back(static_cast<uint8_t>(0x80 | array.nal_type));
    out.push_back(static_cast<uint8_t>(array.units.size() >> 8));
    out.push_back(static_cast<uint8_t>(array.units.size()));
    for (const auto& nal : array.units) detail::append_u16_prefixed(out, nal);
  }
  return out;
}

}  // namespace vantor::testing
