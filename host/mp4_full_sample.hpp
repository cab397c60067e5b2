#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "buckets.hpp"

namespace vantor {

// A sample's 32-bit flag word. Bits of the low 28 (the top four are reserved):
//   bit 3   sync sample (decoding can start here)
//   bit 4   depends on no other sample
//   bit 18  no other sample depends on this one
// A value-initialised word (sample_flags_t{}) is all zero.
struct sample_flags_t {
  uint32_t bits_ : 28;
  uint32_t reserved_ : 4;

  static constexpr uint32_t sync_sample = 1u << 3;
  static constexpr uint32_t depends_on_none = 1u << 4;
  static constexpr uint32_t not_depended_on = 1u << 18;

  bool is_sync_sample() const noexcept { return (bits_ & sync_sample) != 0; }
  static sample_flags_t make(uint32_t bits) {
    sample_flags_t flags{};
    flags.bits_ = bits & 0x0fffffffu;
    return flags;
  }
};
static_assert(sizeof(sample_flags_t) == 4, "sample_flags_t is one 32-bit word");

struct subs_t {
  struct subsample_t {
    uint32_t size = 0;
    uint8_t priority = 0;
    bool discardable = false;
    uint32_t codec_specific_parameters = 0;
  };
};

// One compressed sample: its timing, flags and payload chains.
class full_sample_t {
 public:
  // `sample_description_index` is the 1-based index of the sample's
  // description in its track. `data` and `aux_data` must both be present.
  full_sample_t(uint32_t duration, int32_t composition_offset, uint32_t sample_description_index,
                sample_flags_t flags, std::optional<std::vector<subs_t::subsample_t>> subsamples,
                unique_buckets_ptr_t data, unique_buckets_ptr_t aux_data);

  uint32_t duration() const noexcept { return duration_; }
  int32_t composition_offset() const noexcept { return composition_offset_; }
  uint32_t sample_description_index() const noexcept { return sample_description_index_; }
  sample_flags_t flags() const noexcept { return flags_; }
  bool is_sync_sample() const noexcept { return flags_.is_sync_sample(); }
  const std::optional<std::vector<subs_t::subsample_t>>& subsamples() const noexcept {
    return subsamples_;
  }
  const buckets_t& data() const noexcept { return *data_; }
  const buckets_t& aux_data() const noexcept { return *aux_data_; }
  unique_buckets_ptr_t release_data() noexcept { return std::move(data_); }

 private:
  uint32_t duration_;
  int32_t composition_offset_;
  uint32_t sample_description_index_;
  sample_flags_t flags_;
  std::optional<std::vector<subs_t::subsample_t>> subsamples_;
  unique_buckets_ptr_t data_;
  unique_buckets_ptr_t aux_data_;
};

}  // namespace vantor
