#include "stages/colour_stage.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "stages/orientation_stage.hpp"
#include "stages/sprite_compositor.hpp"
#include "support/capture_log.hpp"
#include "support/frames.hpp"
#include "support/oklab.hpp"

// The colour stage on synthetic pictures: BT.709 to BT.601 against the
// same conversion done through RGB in double precision, what passes
// untouched, the peak an HDR picture is mapped with, and which primaries a
// picture's tag makes it convert from.
namespace {

using vantor::testing::pack_frame;
using vantor::testing::planes_t;
using vantor::testing::unpack_frame;
using vantor::video::frame_t;
using range_t = frame_t::range_t;

struct levels_t {
  double y_black, y_span, c_span;
};
levels_t levels(range_t range) { return range == range_t::full ? levels_t{0, 255, 255} : levels_t{16, 219, 224}; }

// BT.709 Y'CbCr to R'G'B' to BT.601 Y'CbCr, unrounded.
std::array<double, 3> exact_bt601(double y, double cb, double cr, range_t in, range_t out) {
  levels_t const i = levels(in), o = levels(out);
  double const yn = (y - i.y_black) / i.y_span, u = (cb - 128) / i.c_span, v = (cr - 128) / i.c_span;
  double const r = yn + 1.5748 * v, b = yn + 1.8556 * u, g = (yn - 0.2126 * r - 0.0722 * b) / 0.7152;
  double const y6 = 0.299 * r + 0.587 * g + 0.114 * b;
  return {o.y_black + o.y_span * y6, 128 + o.c_span * (b - y6) / 1.772, 128 + o.c_span * (r - y6) / 1.402};
}

// Whether BT.709 Y'CbCr of `range` levels is a colour of the RGB cube.
bool inside_rgb(double y, double cb, double cr, range_t range) {
  levels_t const l = levels(range);
  double const yn = (y - l.y_black) / l.y_span, u = (cb - 128) / l.c_span, v = (cr - 128) / l.c_span;
  double const r = yn + 1.5748 * v, b = yn + 1.8556 * u, g = (yn - 0.2126 * r - 0.0722 * b) / 0.7152;
  return std::min({r, g, b}) >= 0 && std::max({r, g, b}) <= 1;
}

frame_t picture(const planes_t& planes, frame_t::format_t format, range_t range) {
  frame_t frame = pack_frame(planes, format, 0);
  frame.range_ = range;
  frame.matrix_ = frame_t::matrix_t::bt709;
  frame.transfer_ = frame_t::transfer_t::bt709;
  return frame;
}

TEST(colour_stage, bt709_pictures_become_bt601_within_half_a_level) {
  for (auto const format : {frame_t::format_t::yuv420p, frame_t::format_t::nv12}) {
    for (range_t const in : {range_t::limited, range_t::full}) {
      for (range_t const out : {range_t::limited, range_t::full}) {
        SCOPED_TRACE(vantor::video::to_string(format) + (in == range_t::full ? " full" : " limited") + " to" +
                     (out == range_t::full ? " full" : " limited"));
        vantor::stages::bt601_matrix_t convert(out);
        // Flat pictures of colours inside the RGB cube.
        double worst = 0;
        for (int y = 20; y <= 235; y += 15)
          for (int cb = 20; cb <= 236; cb += 12)
            for (int cr = 20; cr <= 236; cr += 12) {
              if (!inside_rgb(y, cb, cr, in)) continue;
              std::array<double, 3> const want = exact_bt601(y, cb, cr, in, out);
              planes_t flat{8, 4, std::vector<uint16_t>(32, uint16_t(y)), std::vector<uint16_t>(8, uint16_t(cb)),
                            std::vector<uint16_t>(8, uint16_t(cr))};
              frame_t frame = picture(flat, format, in);
              convert(frame);
              EXPECT_EQ(frame.matrix_, frame_t::matrix_t::bt601);
              EXPECT_EQ(frame.range_, out);
              planes_t const got = unpack_frame(frame);
              worst = std::max({worst, std::abs(got.y[13] - want[0]), std::abs(got.u[2] - want[1]),
                                std::abs(got.v[2] - want[2])});
            }
        EXPECT_LE(worst, 0.55);
        // Chroma that changes linearly: luma between chroma samples takes
        // the chroma of where it sits (co-sited across, between the rows
        // down), so interpolation leaves it exact there too.
        planes_t ramp{64, 32, std::vector<uint16_t>(64 * 32, 120), {}, {}};
        for (int r = 0; r < 16; ++r)
          for (int c = 0; c < 32; ++c) {
            ramp.u.push_back(static_cast<uint16_t>(32 + 6 * c));
            ramp.v.push_back(static_cast<uint16_t>(100 + 8 * r));
          }
        frame_t frame = picture(ramp, format, in);
        convert(frame);
        planes_t const got = unpack_frame(frame);
        double ramp_worst = 0;
        for (int y = 1; y < 31; ++y)
          for (int x = 0; x < 62; ++x) {
            double const cb = 32 + 3 * x, cr = 100 + 8 * ((y - 0.5) / 2);
            ramp_worst = std::max(ramp_worst, std::abs(got.y[size_t(y) * 64 + x] - exact_bt601(120, cb, cr, in, out)[0]));
          }
        EXPECT_LE(ramp_worst, 0.6);
      }
    }
  }
}

// ST 2084's signal for `nits`.
double pq_signal(double nits) {
  double const m1 = 2610.0 / 16384, m2 = 2523.0 / 32, c1 = 3424.0 / 4096, c2 = 2413.0 / 128, c3 = 2392.0 / 128;
  double const p = std::pow(nits / 10000, m1);
  return std::pow((c1 + c2 * p) / (1 + c3 * p), m2);
}

// A PQ picture in BT.2020's Y'CbCr, 10 bits, limited range: the top half
// of `top` light (nits, RGB in the picture's primaries), the bottom half of
// `bottom`.
frame_t pq_picture(std::array<double, 3> top, std::array<double, 3> bottom,
                   frame_t::primaries_t primaries = frame_t::primaries_t::bt2020) {
  planes_t planes{16, 16, {}, {}, {}};
  for (int half = 0; half < 2; ++half) {
    std::array<double, 3> const& light = half == 0 ? top : bottom;
    double const r = pq_signal(light[0]), g = pq_signal(light[1]), b = pq_signal(light[2]);
    double const y = 0.2627 * r + 0.6780 * g + 0.0593 * b;
    planes.y.insert(planes.y.end(), 16 * 8, static_cast<uint16_t>(std::lround(64 + 876 * y)));
    planes.u.insert(planes.u.end(), 8 * 4, static_cast<uint16_t>(std::lround(512 + 896 * (b - y) / 1.8814)));
    planes.v.insert(planes.v.end(), 8 * 4, static_cast<uint16_t>(std::lround(512 + 896 * (r - y) / 1.4746)));
  }
  frame_t frame = pack_frame(planes, frame_t::format_t::yuv420p10le, 40, 1000, true);
  frame.matrix_ = frame_t::matrix_t::bt2020;
  frame.transfer_ = frame_t::transfer_t::pq;
  frame.primaries_ = primaries;
  return frame;
}

vantor::video::frame_t run_stage(frame_t frame, vantor::stages::colour_settings_t settings) {
  vantor::testing::capture_log_t log(vantor::vantor_log_warning);
  std::vector<frame_t> frames;
  frames.push_back(std::move(frame));
  vantor::stages::colour_stage_t stage(log.context, vantor::testing::play(std::move(frames), vantor::testing::end_frame(80)),
                                       settings);
  frame_t out = stage();
  EXPECT_TRUE(stage().is_end_of_stream());
  return out;
}

TEST(colour_stage, leaves_what_is_not_its_to_change_and_makes_sdr_of_hdr) {
  planes_t const pattern = vantor::testing::make_pattern(64, 32, false);
  frame_t sd = pack_frame(pattern, frame_t::format_t::yuv420p, 0);
  frame_t hd = picture(pattern, frame_t::format_t::yuv420p, range_t::limited);
  frame_t hd10 = picture(vantor::testing::make_pattern(64, 32, true), frame_t::format_t::yuv420p10le, range_t::limited);
  frame_t const hdr = pq_picture({1000, 1000, 1000}, {26, 26, 26});
  vantor::stages::colour_settings_t const jpeg{true, true}, raw{true, false}, off{false, true};
  EXPECT_EQ(run_stage(sd, jpeg).data_, sd.data_);
  EXPECT_EQ(run_stage(hd10, jpeg).data_, hd10.data_);
  EXPECT_EQ(run_stage(hd, raw).data_, hd.data_);
  EXPECT_NE(run_stage(hd, jpeg).data_, hd.data_);
  EXPECT_EQ(run_stage(hdr, off).data_, hdr.data_);

  for (auto const& [settings, matrix, range] :
       {std::tuple{jpeg, frame_t::matrix_t::bt601, range_t::full}, std::tuple{raw, frame_t::matrix_t::bt709, range_t::limited}}) {
    frame_t const sdr = run_stage(hdr, settings);
    EXPECT_EQ(sdr.format_, frame_t::format_t::yuv420p);
    EXPECT_EQ(sdr.matrix_, matrix);
    EXPECT_EQ(sdr.range_, range);
    EXPECT_EQ(sdr.transfer_, frame_t::transfer_t::srgb);
    EXPECT_EQ(sdr.primaries_, frame_t::primaries_t::bt709);
    EXPECT_EQ(sdr.hdr_.max_cll, 0u);
    EXPECT_EQ(sdr.pts_, 40u);
    EXPECT_TRUE(sdr.keyframe_);
    planes_t const p = unpack_frame(sdr);
    // 1000 nits is the picture's peak: white; 18 % grey stays a mid-tone.
    EXPECT_EQ(p.y.front(), range == range_t::full ? 255 : 235);
    EXPECT_GT(p.y.back(), 75);
    EXPECT_LT(p.y.back(), 110);
  }
}

TEST(colour_stage, the_peak_is_the_lower_of_metadata_and_picture_and_never_below_reference_white) {
  using source_t = vantor::stages::hdr_peak_t::source_t;
  vantor::stages::hdr_to_sdr_t mapping;
  frame_t frame = pq_picture({1000, 1000, 1000}, {100, 100, 100});
  auto const peak = [&](uint32_t max_cll, double mastering) {
    frame.hdr_.max_cll = max_cll;
    frame.hdr_.mastering_max_nits = mastering;
    return mapping.peak_of(frame);
  };
  EXPECT_NEAR(peak(0, 0).nits, 1000, 15);
  EXPECT_EQ(peak(0, 0).source, source_t::picture);
  EXPECT_EQ(peak(4000, 4000).source, source_t::picture);
  EXPECT_EQ(peak(600, 4000).nits, 600);
  EXPECT_EQ(peak(600, 4000).source, source_t::metadata);
  EXPECT_EQ(peak(0, 800).nits, 800);
  frame = pq_picture({50, 50, 50}, {5, 5, 5});
  EXPECT_EQ(peak(0, 0).nits, 203);
  EXPECT_EQ(peak(0, 0).source, source_t::reference_white);
  // HLG shows on its nominal 1000-nit display.
  frame = pq_picture({1000, 1000, 1000}, {100, 100, 100});
  frame.transfer_ = frame_t::transfer_t::hlg;
  EXPECT_LE(peak(0, 0).nits, 1000);
}

// A green of the tagged primaries keeps that green's Oklab hue: P3 green,
// BT.2020 green and BT.709 green are hues apart.
TEST(colour_stage, the_primaries_tag_decides_the_gamut) {
  struct case_t {
    frame_t::primaries_t primaries;
    std::array<double, 3> green;  // the primary in linear BT.709
  };
  for (const case_t& c : {case_t{frame_t::primaries_t::p3, {-0.2247, 1.0419, -0.0786}},
                          case_t{frame_t::primaries_t::bt2020, {-0.5876, 1.1329, -0.1006}},
                          case_t{frame_t::primaries_t::bt709, {0, 1, 0}}}) {
    SCOPED_TRACE(vantor::video::to_string(c.primaries));
    frame_t const sdr = run_stage(pq_picture({0, 203, 0}, {0, 203, 0}, c.primaries), {true, true});
    planes_t const p = unpack_frame(sdr);
    double const y = p.y[0], cb = p.u[0] - 128.0, cr = p.v[0] - 128.0;
    vantor::testing::lch_t const shown = vantor::testing::oklab_of_srgb(
        y + 1.402 * cr, y - 0.344136 * cb - 0.714136 * cr, y + 1.772 * cb);
    EXPECT_LE(vantor::testing::hue_error(shown.h, vantor::testing::oklab(c.green).h), 2) << shown.h;
  }
}

// Stages that make new pictures keep the colour description.
TEST(colour_stage, turned_pictures_and_sheets_keep_their_colour) {
  frame_t frame = pq_picture({300, 200, 100}, {100, 200, 300}, frame_t::primaries_t::p3);
  frame.hdr_ = {1000, 0.005, 800, 200};
  vantor::testing::capture_log_t log(vantor::vantor_log_warning);
  std::vector<frame_t> frames{frame, frame};
  vantor::stages::orientation_stage_t turned(log.context, vantor::testing::play(frames, vantor::testing::end_frame(80)),
                                             vantor::orientation_t{90, false});
  vantor::stages::sprite_compositor_t sheets(vantor::testing::play(frames, vantor::testing::end_frame(80)), 2, 1);
  for (frame_t const& out : {turned(), sheets()}) {
    EXPECT_EQ(out.transfer_, frame_t::transfer_t::pq);
    EXPECT_EQ(out.primaries_, frame_t::primaries_t::p3);
    EXPECT_EQ(out.matrix_, frame_t::matrix_t::bt2020);
    EXPECT_EQ(out.hdr_.max_cll, 800u);
    EXPECT_EQ(out.hdr_.mastering_min_nits, 0.005);
  }
}

}  // namespace
