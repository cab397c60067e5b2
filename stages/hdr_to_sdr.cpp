#include "stages/hdr_to_sdr.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace vantor::stages {

namespace {

using frame_t = video::frame_t;

constexpr double reference_white_nits = 203;  // BT.2408's HDR reference white
constexpr double hlg_nominal_nits = 1000;     // HLG's reference display
constexpr double pq_limit_nits = 10000;
constexpr double peak_fraction = 0.999;       // of the blocks that the picture's peak lies above

// SDR light is HDR light to this power below the knee: a dim SDR display
// wants a lower system gamma than a bright HDR one (BT.2100's HLG gamma
// falls from 1.2 at 1000 nits toward 1.0 at 300), and mid-tones would
// otherwise come out dark.
constexpr double sdr_gamma = 0.8;
// The sRGB light of 75 % of the signal, where HDR reference white goes.
constexpr double reference_white_sdr = 0.5225;  // ((0.75 + 0.055) / 1.055) ^ 2.4
// The HDR light shown at SDR white when the peak leaves room for it: the
// one that puts reference white at reference_white_sdr.
double const sdr_white_nits = reference_white_nits / std::pow(reference_white_sdr, 1 / sdr_gamma);

// SMPTE ST 2084.
constexpr double pq_m1 = 2610.0 / 16384, pq_m2 = 2523.0 / 4096 * 128;
constexpr double pq_c1 = 3424.0 / 4096, pq_c2 = 2413.0 / 4096 * 32, pq_c3 = 2392.0 / 4096 * 32;

double pq_to_nits(double signal) {
  double const p = std::pow(std::clamp(signal, 0.0, 1.0), 1 / pq_m2);
  return pq_limit_nits * std::pow(std::max(p - pq_c1, 0.0) / (pq_c2 - pq_c3 * p), 1 / pq_m1);
}

double nits_to_pq(double nits) {
  double const p = std::pow(std::clamp(nits / pq_limit_nits, 0.0, 1.0), pq_m1);
  return std::pow((pq_c1 + pq_c2 * p) / (1 + pq_c3 * p), pq_m2);
}

// BT.2100 HLG: signal to relative scene light.
constexpr double hlg_a = 0.17883277, hlg_b = 0.28466892, hlg_c = 0.55991073;

double hlg_to_scene(double signal) {
  signal = std::clamp(signal, 0.0, 1.0);
  return signal <= 0.5 ? signal * signal / 3 : (std::exp((signal - hlg_c) / hlg_a) + hlg_b) / 12;
}

// The system gamma of an HLG display of `peak` nits; BT.2100's extended
// formula, which holds outside 400 to 2000 nits too.
double hlg_gamma(double peak) { return 1.2 * std::pow(1.111, std::log2(peak / hlg_nominal_nits)); }

double srgb_encode(double light) {
  light = std::clamp(light, 0.0, 1.0);
  return light <= 0.0031308 ? 12.92 * light : 1.055 * std::pow(light, 1 / 2.4) - 0.055;
}

// BT.2390's EETF in the PQ domain: `nits` of a source whose peak is
// `source_peak` for a display of `target_peak`, both above black (0).
// Below the knee the light stays; above it a Hermite spline rolls off to
// the target's peak with slope 0.
double eetf(double nits, double source_peak, double target_peak) {
  if (source_peak <= target_peak) return std::min(nits, target_peak);
  double const source = nits_to_pq(source_peak);
  double const e1 = nits_to_pq(nits) / source;
  double const max_lum = nits_to_pq(target_peak) / source;
  double const knee = 1.5 * max_lum - 0.5;
  if (e1 < knee) return nits;
  double const t = std::min((e1 - knee) / (1 - knee), 1.0);
  double const t2 = t * t, t3 = t2 * t;
  double const e2 = (2 * t3 - 3 * t2 + 1) * knee + (t3 - 2 * t2 + t) * (1 - knee) +
                    (-2 * t3 + 3 * t2) * max_lum;
  return pq_to_nits(e2 * source);
}

// A function on [0, 1] in `steps` steps, read with linear interpolation;
// one entry past the end repeats the last, so that a read needs no test.
class table_t {
 public:
  table_t() = default;
  // Sampled at (i / steps)^2 when `sqrt_spaced` (read at sqrt(x)): dense
  // near 0, where the curves bend most. Evenly otherwise.
  template <typename F>
  table_t(F f, int steps, bool sqrt_spaced) : steps_(static_cast<float>(steps)), sqrt_(sqrt_spaced) {
    values_.resize(static_cast<size_t>(steps) + 2);
    for (int i = 0; i <= steps; ++i) {
      double const s = static_cast<double>(i) / steps;
      values_[static_cast<size_t>(i)] = static_cast<float>(f(sqrt_spaced ? s * s : s));
    }
    values_.back() = values_[static_cast<size_t>(steps)];
  }

  float operator()(float x) const {
    x = x > 0 ? (x < 1 ? x : 1.0f) : 0.0f;
    float const at = (sqrt_ ? std::sqrt(x) : x) * steps_;
    int const i = static_cast<int>(at);
    float const a = values_[static_cast<size_t>(i)], b = values_[static_cast<size_t>(i) + 1];
    return a + (at - static_cast<float>(i)) * (b - a);
  }

 private:
  std::vector<float> values_;
  float steps_ = 0;
  bool sqrt_ = false;
};

constexpr int table_steps = 1024;  // four tables of 4 KB stay in the first-level cache

// 3x3 matrices of the colour conversions.
using mat3_t = std::array<std::array<double, 3>, 3>;

mat3_t multiply(const mat3_t& a, const mat3_t& b) {
  mat3_t m{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) m[i][j] += a[i][k] * b[k][j];
  return m;
}

mat3_t inverse(const mat3_t& m) {
  double const det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  mat3_t r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      // The cofactor of (j, i), signs by the cyclic order of the minors.
      int const a = (j + 1) % 3, b = (j + 2) % 3, c = (i + 1) % 3, d = (i + 2) % 3;
      r[i][j] = (m[a][c] * m[b][d] - m[a][d] * m[b][c]) / det;
    }
  return r;
}

struct xy_t {
  double x, y;
};
struct gamut_t {
  xy_t red, green, blue, white;
};

constexpr xy_t d65{0.3127, 0.3290};
constexpr gamut_t bt709_gamut{{0.640, 0.330}, {0.300, 0.600}, {0.150, 0.060}, d65};
constexpr gamut_t bt2020_gamut{{0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}, d65};
constexpr gamut_t p3_gamut{{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}, d65};
constexpr gamut_t dci_p3_gamut{{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}, {0.314, 0.351}};
constexpr gamut_t bt601_625_gamut{{0.640, 0.330}, {0.290, 0.600}, {0.150, 0.060}, d65};
constexpr gamut_t bt601_525_gamut{{0.630, 0.340}, {0.310, 0.595}, {0.155, 0.070}, d65};

// HDR video without a say is BT.2020.
const gamut_t& gamut_of(frame_t::primaries_t primaries) {
  switch (primaries) {
    case frame_t::primaries_t::bt709: return bt709_gamut;
    case frame_t::primaries_t::p3: return p3_gamut;
    case frame_t::primaries_t::dci_p3: return dci_p3_gamut;
    case frame_t::primaries_t::bt601_625: return bt601_625_gamut;
    case frame_t::primaries_t::bt601_525: return bt601_525_gamut;
    default: break;
  }
  return bt2020_gamut;
}

std::array<double, 3> xyz_of(xy_t c) { return {c.x / c.y, 1.0, (1 - c.x - c.y) / c.y}; }

mat3_t rgb_to_xyz(const gamut_t& g) {
  std::array<double, 3> const r = xyz_of(g.red), gr = xyz_of(g.green), b = xyz_of(g.blue);
  mat3_t const primaries{{{r[0], gr[0], b[0]}, {r[1], gr[1], b[1]}, {r[2], gr[2], b[2]}}};
  std::array<double, 3> const w = xyz_of(g.white);
  mat3_t const inv = inverse(primaries);
  mat3_t m = primaries;
  for (int j = 0; j < 3; ++j) {
    double const s = inv[j][0] * w[0] + inv[j][1] * w[1] + inv[j][2] * w[2];
    for (int i = 0; i < 3; ++i) m[i][j] *= s;
  }
  return m;
}

// Bradford adaptation from `from`'s white to D65.
mat3_t to_d65(xy_t from) {
  mat3_t const bradford{{{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};
  std::array<double, 3> const src = xyz_of(from), dst = xyz_of(d65);
  mat3_t scale{};
  for (int i = 0; i < 3; ++i) {
    double const s = bradford[i][0] * src[0] + bradford[i][1] * src[1] + bradford[i][2] * src[2];
    double const d = bradford[i][0] * dst[0] + bradford[i][1] * dst[1] + bradford[i][2] * dst[2];
    scale[i][i] = d / s;
  }
  return multiply(inverse(bradford), multiply(scale, bradford));
}

// Linear RGB of `source` primaries to linear BT.709.
mat3_t to_bt709(const gamut_t& source) {
  mat3_t xyz = rgb_to_xyz(source);
  if (source.white.x != d65.x || source.white.y != d65.y) xyz = multiply(to_d65(source.white), xyz);
  return multiply(inverse(rgb_to_xyz(bt709_gamut)), xyz);
}

// Y'CbCr of a matrix: luma weights of red and blue.
struct luma_weights_t {
  double kr, kb;
};

luma_weights_t weights_of(frame_t::matrix_t matrix) {
  switch (matrix) {
    case frame_t::matrix_t::bt601: return {0.299, 0.114};
    case frame_t::matrix_t::bt709: return {0.2126, 0.0722};
    case frame_t::matrix_t::bt2020: return {0.2627, 0.0593};
  }
  return {0.2627, 0.0593};
}

// Oklab (Ottosson 2020) of linear BT.709, and back.
struct lab_t {
  float l, a, b;
};

inline lab_t oklab_of(float r, float g, float b) {
  float const l = std::cbrt(0.4122214708f * r + 0.5363325363f * g + 0.0514459929f * b);
  float const m = std::cbrt(0.2119034982f * r + 0.6806995451f * g + 0.1073969566f * b);
  float const s = std::cbrt(0.0883024619f * r + 0.2817188376f * g + 0.6299787005f * b);
  return {0.2104542553f * l + 0.7936177850f * m - 0.0040720468f * s,
          1.9779984951f * l - 2.4285922050f * m + 0.4505937099f * s,
          0.0259040371f * l + 0.7827717662f * m - 0.8086757660f * s};
}

inline std::array<float, 3> linear_of(const lab_t& c) {
  float const l = c.l + 0.3963377774f * c.a + 0.2158037573f * c.b;
  float const m = c.l - 0.1055613458f * c.a - 0.0638541728f * c.b;
  float const s = c.l - 0.0894841775f * c.a - 1.2914855480f * c.b;
  float const l3 = l * l * l, m3 = m * m * m, s3 = s * s * s;
  return {4.0767416621f * l3 - 3.3077115913f * m3 + 0.2309699292f * s3,
          -1.2684380046f * l3 + 2.6097574011f * m3 - 0.3413193965f * s3,
          -0.0041960863f * l3 - 0.7034186147f * m3 + 1.7076147010f * s3};
}

// Near the primaries a line of constant Oklab hue bulges a little out of
// the gamut on its way to grey; outside by no more than this, a colour is
// only clipped, so that the search below does not stop at the bulge.
constexpr float gamut_slack = 1e-3f;

inline bool inside(const float* c) {
  return c[0] >= -gamut_slack && c[1] >= -gamut_slack && c[2] >= -gamut_slack &&
         c[0] <= 1 + gamut_slack && c[1] <= 1 + gamut_slack && c[2] <= 1 + gamut_slack;
}

// Oklab lightness above which a colour that does not fit gives up some
// lightness as well as chroma: bright saturated colours (a sunlit orange)
// keep more of their colour that way than they would turning pale.
constexpr float focus_lightness = 0.65f;

// A linear BT.709 colour outside [0, 1] brought inside at its Oklab hue,
// along the line toward the neutral axis at min(L, focus_lightness).
void fit_into_bt709(float rgb[3]) {
  if (!inside(rgb)) {
    lab_t const lab = oklab_of(rgb[0], rgb[1], rgb[2]);
    float const focus = std::clamp(std::min(lab.l, focus_lightness), 0.0f, 1.0f);
    float lo = 0, hi = 1;
    for (int i = 0; i < 14; ++i) {
      float const t = (lo + hi) / 2;
      if (inside(linear_of({focus + (lab.l - focus) * t, lab.a * t, lab.b * t}).data())) {
        lo = t;
      } else {
        hi = t;
      }
    }
    std::array<float, 3> const fitted = linear_of({focus + (lab.l - focus) * lo, lab.a * lo, lab.b * lo});
    std::copy(fitted.begin(), fitted.end(), rgb);
  }
  for (int k = 0; k < 3; ++k) rgb[k] = std::clamp(rgb[k], 0.0f, 1.0f);
}

// Reads the Y'CbCr of one sample position of a picture as floats, Y' in
// [0, 1] and Cb, Cr in [-0.5, 0.5].
struct sample_reader_t {
  const uint8_t* luma;
  const uint8_t* cb;
  const uint8_t* cr;
  size_t chroma_step;  // bytes from one chroma sample to the next
  bool ten_bit;
  float y_offset, y_scale, c_scale;

  float read(const uint8_t* plane, size_t index) const {
    if (ten_bit) {
      return static_cast<float>(plane[2 * index] | (plane[2 * index + 1] << 8));
    }
    return static_cast<float>(plane[index]);
  }
  float y(size_t index) const { return (read(luma, index) - y_offset) * y_scale; }
  float u(size_t index) const { return (read(cb, index * chroma_step) - c_offset()) * c_scale; }
  float v(size_t index) const { return (read(cr, index * chroma_step) - c_offset()) * c_scale; }
  float c_offset() const { return ten_bit ? 512.0f : 128.0f; }
};

sample_reader_t reader_of(const frame_t& picture) {
  size_t const w = picture.width_, h = picture.height_;
  const uint8_t* const base = picture.data_.data();
  bool const ten_bit = picture.format_ == frame_t::format_t::yuv420p10le;
  bool const full = picture.range_ == frame_t::range_t::full;
  float const max = ten_bit ? 1023.0f : 255.0f;
  float const unit = ten_bit ? 4.0f : 1.0f;  // 10-bit levels per 8-bit level
  sample_reader_t r{};
  r.ten_bit = ten_bit;
  r.y_offset = full ? 0.0f : 16 * unit;
  r.y_scale = 1.0f / (full ? max : 219 * unit);
  r.c_scale = 1.0f / (full ? max : 224 * unit);
  r.luma = base;
  switch (picture.format_) {
    case frame_t::format_t::nv12:
      r.cb = base + w * h;
      r.cr = r.cb + 1;
      r.chroma_step = 2;
      break;
    case frame_t::format_t::yuv420p:
      r.cb = base + w * h;
      r.cr = base + w * h * 5 / 4;
      r.chroma_step = 1;
      break;
    case frame_t::format_t::yuv420p10le:
      r.cb = base + 2 * w * h;
      r.cr = base + 2 * (w * h * 5 / 4);
      r.chroma_step = 1;
      break;
  }
  return r;
}

}  // namespace

// SDR light by HDR luminance over the peak.
struct hdr_to_sdr_t::curve_t : table_t {
  using table_t::table_t;
};

// What the light of a picture's samples is, for one transfer, matrix, set
// of primaries and HLG display.
struct hdr_to_sdr_t::tables_t {
  float cr_to_r, cb_to_g, cr_to_g, cb_to_b;  // Y'CbCr to R'G'B'
  float luma[3];                              // of linear source RGB
  bool hlg;
  table_t to_light;  // signal to nits (PQ) or relative scene light (HLG)
  table_t hlg_gain;  // HLG: display nits per unit of scene light, by scene luminance

  frame_t::transfer_t transfer;
  frame_t::matrix_t matrix;
  frame_t::primaries_t primaries;
  double hlg_peak;
  mat3_t to_709;
  bool keeps_primaries;  // BT.709 pictures need no matrix

  tables_t(const frame_t& picture, double hlg_peak)
      : hlg(picture.transfer_ == frame_t::transfer_t::hlg),
        transfer(picture.transfer_),
        matrix(picture.matrix_),
        primaries(picture.primaries_),
        hlg_peak(hlg_peak),
        to_709(to_bt709(gamut_of(picture.primaries_))),
        keeps_primaries(&gamut_of(picture.primaries_) == &bt709_gamut) {
    luma_weights_t const k = weights_of(picture.matrix_);
    double const kg = 1 - k.kr - k.kb;
    cr_to_r = static_cast<float>(2 - 2 * k.kr);
    cb_to_b = static_cast<float>(2 - 2 * k.kb);
    cb_to_g = static_cast<float>(2 * k.kb * (1 - k.kb) / kg);
    cr_to_g = static_cast<float>(2 * k.kr * (1 - k.kr) / kg);
    mat3_t const xyz = rgb_to_xyz(gamut_of(picture.primaries_));
    for (int i = 0; i < 3; ++i) luma[i] = static_cast<float>(xyz[1][i]);
    if (hlg) {
      to_light = table_t(hlg_to_scene, table_steps, false);
      // BT.2100's OOTF: display light = peak * Ys^(gamma - 1) * scene light.
      double const exponent = hlg_gamma(hlg_peak) - 1;
      hlg_gain = table_t([&](double ys) { return hlg_peak * std::pow(std::max(ys, 1e-6), exponent); },
                         table_steps, true);
    } else {
      to_light = table_t(pq_to_nits, table_steps, false);
    }
  }

  // The linear light, in nits, of the source RGB of one sample position.
  void light(float y, float u, float v, float rgb[3]) const {
    float const signal[3] = {y + cr_to_r * v, y - cb_to_g * u - cr_to_g * v, y + cb_to_b * u};
    for (int k = 0; k < 3; ++k) rgb[k] = to_light(signal[k]);
    if (hlg) {
      float const gain = hlg_gain(luma[0] * rgb[0] + luma[1] * rgb[1] + luma[2] * rgb[2]);
      for (int k = 0; k < 3; ++k) rgb[k] *= gain;
    }
  }

  bool serves(const frame_t& picture, double peak) const {
    return picture.transfer_ == transfer && picture.matrix_ == matrix && picture.primaries_ == primaries &&
           peak == hlg_peak;
  }
};

std::string to_string(hdr_peak_t::source_t source) {
  switch (source) {
    case hdr_peak_t::source_t::picture: return "the picture";
    case hdr_peak_t::source_t::metadata: return "metadata";
    case hdr_peak_t::source_t::nominal: return "the nominal display";
    case hdr_peak_t::source_t::reference_white: return "reference white";
  }
  return "unknown";
}

namespace {

// The peak HDR light a picture's metadata promises, or 0.
double metadata_peak_nits(const frame_t& picture) {
  double peak = 0;
  auto const lower = [&peak](double nits) {
    if (nits > 0) peak = peak > 0 ? std::min(peak, nits) : nits;
  };
  lower(picture.hdr_.max_cll);
  lower(picture.hdr_.mastering_max_nits);
  return peak;
}

// The display an HLG picture is shown on: the mastering display, or
// HLG's nominal 1000 nits.
double hlg_display_nits(const frame_t& picture) {
  return picture.hdr_.mastering_max_nits > 0 ? picture.hdr_.mastering_max_nits : hlg_nominal_nits;
}

}  // namespace

hdr_to_sdr_t::hdr_to_sdr_t() = default;
hdr_to_sdr_t::~hdr_to_sdr_t() = default;

const hdr_to_sdr_t::tables_t& hdr_to_sdr_t::tables_for(const frame_t& picture) {
  double const display = hlg_display_nits(picture);
  if (!tables_ || !tables_->serves(picture, display)) {
    tables_.reset();
    tables_ = std::make_unique<tables_t>(picture, display);
  }
  return *tables_;
}

double hdr_to_sdr_t::picture_peak_nits(const frame_t& picture) {
  const tables_t& tables = tables_for(picture);
  sample_reader_t const in = reader_of(picture);
  size_t const w = picture.width_, h = picture.height_;
  block_peaks_.clear();
  for (size_t cy = 0; cy < h / 2; ++cy) {
    for (size_t cx = 0; cx < w / 2; ++cx) {
      size_t const c = cy * (w / 2) + cx;
      size_t const top = 2 * cy * w + 2 * cx;
      float const y = (in.y(top) + in.y(top + 1) + in.y(top + w) + in.y(top + w + 1)) / 4;
      float rgb[3];
      tables.light(y, in.u(c), in.v(c), rgb);
      block_peaks_.push_back(std::max({rgb[0], rgb[1], rgb[2]}));
    }
  }
  if (block_peaks_.empty()) return 0;
  auto const at = block_peaks_.begin() +
                  static_cast<ptrdiff_t>(static_cast<double>(block_peaks_.size() - 1) * peak_fraction);
  std::nth_element(block_peaks_.begin(), at, block_peaks_.end());
  return *at;
}

hdr_peak_t hdr_to_sdr_t::peak_of(const frame_t& picture) {
  double const in_picture = picture_peak_nits(picture);
  double promised = metadata_peak_nits(picture);
  hdr_peak_t::source_t promise = hdr_peak_t::source_t::metadata;
  if (picture.transfer_ == frame_t::transfer_t::hlg) {
    // HLG light ends at its display's peak, whatever else is said.
    double const display = hlg_display_nits(picture);
    if (promised <= 0 || display < promised) {
      promised = display;
      promise = picture.hdr_.mastering_max_nits > 0 ? hdr_peak_t::source_t::metadata
                                                    : hdr_peak_t::source_t::nominal;
    }
  } else if (promised <= 0) {
    promised = pq_limit_nits;
    promise = hdr_peak_t::source_t::nominal;
  }
  hdr_peak_t peak = in_picture < promised ? hdr_peak_t{in_picture, hdr_peak_t::source_t::picture}
                                          : hdr_peak_t{promised, promise};
  if (peak.nits < reference_white_nits) peak = {reference_white_nits, hdr_peak_t::source_t::reference_white};
  return peak;
}

void hdr_to_sdr_t::curve_for(double peak_nits) {
  // A peak below what SDR white can show goes to white itself.
  double const target = std::min(sdr_white_nits, peak_nits);
  if (peak_nits == curve_peak_ && target == curve_target_) return;
  curve_ = std::make_unique<curve_t>(
      [&](double x) { return std::pow(eetf(x * peak_nits, peak_nits, target) / target, sdr_gamma); },
      table_steps, true);
  curve_peak_ = peak_nits;
  curve_target_ = target;
}

frame_t hdr_to_sdr_t::operator()(const frame_t& picture, const sdr_layout_t& layout,
                                 const hdr_peak_t& peak) {
  curve_for(peak.nits);
  const tables_t& tables = tables_for(picture);
  static table_t const encode(srgb_encode, table_steps, true);
  const table_t& curve = *curve_;
  float m[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[i][j] = static_cast<float>(tables.to_709[i][j]);
  bool const identity = tables.keeps_primaries;

  luma_weights_t const out_k = weights_of(layout.matrix);
  bool const full = layout.range == frame_t::range_t::full;
  float const y_scale = full ? 255.0f : 219.0f, y_offset = full ? 0.0f : 16.0f;
  float const c_scale = full ? 255.0f : 224.0f;
  auto const kr = static_cast<float>(out_k.kr), kb = static_cast<float>(out_k.kb);
  float const kg = 1 - kr - kb;
  float const cb_per_b = 0.5f / (1 - kb), cr_per_r = 0.5f / (1 - kr);
  float const inverse_peak = static_cast<float>(1 / peak.nits);

  size_t const w = picture.width_, h = picture.height_;
  frame_t out;
  out.width_ = picture.width_;
  out.height_ = picture.height_;
  out.format_ = frame_t::format_t::yuv420p;
  out.pts_ = picture.pts_;
  out.timescale_ = picture.timescale_;
  out.keyframe_ = picture.keyframe_;
  out.range_ = layout.range;
  out.matrix_ = layout.matrix;
  out.transfer_ = frame_t::transfer_t::srgb;
  out.primaries_ = frame_t::primaries_t::bt709;
  out.data_.resize(video::frame_data_size(out.width_, out.height_, out.format_));
  uint8_t* const out_y = out.data_.data();
  uint8_t* const out_u = out_y + w * h;
  uint8_t* const out_v = out_y + w * h * 5 / 4;
  auto const to_byte = [](float value) {
    return static_cast<uint8_t>(std::clamp(value + 0.5f, 0.0f, 255.0f));
  };

  sample_reader_t const in = reader_of(picture);
  for (size_t cy = 0; cy < h / 2; ++cy) {
    for (size_t cx = 0; cx < w / 2; ++cx) {
      size_t const c = cy * (w / 2) + cx;
      float const u = in.u(c), v = in.v(c);
      float cb_sum = 0, cr_sum = 0;
      for (size_t dy = 0; dy < 2; ++dy) {
        for (size_t dx = 0; dx < 2; ++dx) {
          size_t const at = (2 * cy + dy) * w + 2 * cx + dx;
          float rgb[3];
          tables.light(in.y(at), u, v, rgb);
          float const luminance =
              tables.luma[0] * rgb[0] + tables.luma[1] * rgb[1] + tables.luma[2] * rgb[2];
          // One gain for all three channels keeps the colour's hue.
          float const gain =
              luminance > 0 ? curve(luminance * inverse_peak) / luminance : 0.0f;
          float lin[3];
          if (identity) {
            for (int k = 0; k < 3; ++k) lin[k] = rgb[k] * gain;
          } else {
            for (int k = 0; k < 3; ++k)
              lin[k] = (m[k][0] * rgb[0] + m[k][1] * rgb[1] + m[k][2] * rgb[2]) * gain;
          }
          if (std::min({lin[0], lin[1], lin[2]}) < 0 || std::max({lin[0], lin[1], lin[2]}) > 1) {
            fit_into_bt709(lin);
          }
          float const r = encode(lin[0]), g = encode(lin[1]), b = encode(lin[2]);
          float const luma = kr * r + kg * g + kb * b;
          out_y[at] = to_byte(y_offset + y_scale * luma);
          cb_sum += (b - luma) * cb_per_b;
          cr_sum += (r - luma) * cr_per_r;
        }
      }
      out_u[c] = to_byte(128 + c_scale * cb_sum / 4);
      out_v[c] = to_byte(128 + c_scale * cr_sum / 4);
    }
  }
  out.sanity_check();
  return out;
}

}  // namespace vantor::stages
