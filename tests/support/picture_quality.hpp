#pragma once

// PSNR of decoded 8-bit planes against reference values, and the full-range
// (JPEG) values a video-level picture should come out as.

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

#include "support/frames.hpp"

namespace vantor::testing {

inline double psnr(const std::vector<uint8_t>& decoded, const std::vector<double>& reference) {
  if (decoded.size() != reference.size() || decoded.empty())
    throw std::invalid_argument("psnr: planes differ in size");
  double sum = 0;
  for (size_t i = 0; i < decoded.size(); ++i) {
    const double d = decoded[i] - reference[i];
    sum += d * d;
  }
  const double mse = sum / decoded.size();
  return mse == 0 ? std::numeric_limits<double>::infinity() : 10 * std::log10(255.0 * 255.0 / mse);
}

// Video levels (Y 16..235, C 16..240 at 8 bits; x4 at 10 bits) stretched to
// 0..255, the BT.601 full range of JFIF.
struct full_range_t {
  std::vector<double> y, u, v;
};

inline full_range_t to_full_range(const planes_t& p, bool ten_bit) {
  const double scale = ten_bit ? 4.0 : 1.0;
  auto clamp = [](double s) { return std::fmin(255.0, std::fmax(0.0, s)); };
  full_range_t out;
  for (uint16_t s : p.y) out.y.push_back(clamp((s / scale - 16.0) * 255.0 / 219.0));
  for (uint16_t s : p.u) out.u.push_back(clamp((s / scale - 128.0) * 255.0 / 224.0 + 128.0));
  for (uint16_t s : p.v) out.v.push_back(clamp((s / scale - 128.0) * 255.0 / 224.0 + 128.0));
  return out;
}

// The same samples taken as they are (at 8 bits): what a picture whose range
// was never converted would decode to.
inline full_range_t unconverted(const planes_t& p, bool ten_bit) {
  const double scale = ten_bit ? 4.0 : 1.0;
  full_range_t out;
  for (uint16_t s : p.y) out.y.push_back(s / scale);
  for (uint16_t s : p.u) out.u.push_back(s / scale);
  for (uint16_t s : p.v) out.v.push_back(s / scale);
  return out;
}

}  // namespace vantor::testing
