#pragma once

// Colour science for judging pictures as a viewer sees them: the sRGB
// transfer, BT.2087's BT.2020 to BT.709 matrix, and Oklab (Ottosson 2020).

#include <array>
#include <cmath>

namespace vantor::testing {

inline double srgb_to_linear(double code) {
  double const v = code / 255;
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// Linear BT.2020 light as linear BT.709 light.
inline std::array<double, 3> bt709_of_bt2020(const std::array<double, 3>& c) {
  return {1.6605 * c[0] - 0.5876 * c[1] - 0.0728 * c[2], -0.1246 * c[0] + 1.1329 * c[1] - 0.0083 * c[2],
          -0.0182 * c[0] - 0.1006 * c[1] + 1.1187 * c[2]};
}

struct lch_t {
  double l, c, h;  // Oklab lightness, chroma, hue in degrees
};

// Oklab of linear BT.709 light.
inline lch_t oklab(const std::array<double, 3>& rgb) {
  double const l = std::cbrt(0.4122214708 * rgb[0] + 0.5363325363 * rgb[1] + 0.0514459929 * rgb[2]);
  double const m = std::cbrt(0.2119034982 * rgb[0] + 0.6806995451 * rgb[1] + 0.1073969566 * rgb[2]);
  double const s = std::cbrt(0.0883024619 * rgb[0] + 0.2817188376 * rgb[1] + 0.6299787005 * rgb[2]);
  double const L = 0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s;
  double const a = 1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s;
  double const b = 0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s;
  return {L, std::hypot(a, b), std::atan2(b, a) * 180 / M_PI};
}

// Oklab of sRGB code values.
inline lch_t oklab_of_srgb(double r, double g, double b) {
  return oklab({srgb_to_linear(r), srgb_to_linear(g), srgb_to_linear(b)});
}

inline double hue_error(double a, double b) { return std::abs(std::remainder(a - b, 360.0)); }

}  // namespace vantor::testing
