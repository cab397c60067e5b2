#pragma once

// Shared by the JPEG encoder tests: runs an encoder to its end.

#include <memory>
#include <optional>
#include <vector>

#include "buckets.hpp"
#include "mp4_full_sample.hpp"
#include "trak.hpp"

namespace vantor::testing {

inline std::vector<full_sample_t> read_all(sample_source_t& source) {
  std::vector<full_sample_t> samples;
  while (std::optional<full_sample_t> sample = source.read_sample())
    samples.push_back(std::move(*sample));
  return samples;
}

inline std::vector<uint8_t> payload(const full_sample_t& sample) {
  return buckets_to_vector(sample.data());
}

}  // namespace vantor::testing
