#include "mp4_full_sample.hpp"

#include <utility>

#include "exception.hpp"

namespace vantor {

full_sample_t::full_sample_t(uint32_t duration, int32_t composition_offset,
                             uint32_t sample_description_index, sample_flags_t flags,
                             std::optional<std::vector<subs_t::subsample_t>> subsamples,
                             unique_buckets_ptr_t data, unique_buckets_ptr_t aux_data)
    : duration_(duration),
      composition_offset_(composition_offset),
      sample_description_index_(sample_description_index),
      flags_(flags),
      subsamples_(std::move(subsamples)) {
  // Checked on the arguments, before they move in, so that the failure
  // names them as the caller wrote them.
  VANTOR_CHECK(data);
  VANTOR_CHECK(aux_data);
  data_ = std::move(data);
  aux_data_ = std::move(aux_data);
}

}  // namespace vantor
