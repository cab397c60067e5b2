// Colour through the chain: full-range pictures keep their levels in the
// JPEG, HD pictures are turned from BT.709 into the BT.601 that JPEG viewers
// decode, decoded pictures say their transfer, primaries and HDR metadata,
// and the resize filter keeps all of it and letterboxes with the black of
// the picture's range. The JPEGs are read with libjpeg-turbo.

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "components/jpeg_encoder_support.hpp"
#include "ffmpeg_utils/exports.hpp"
#include "ffmpeg_utils/ffmpeg_utils.hpp"
#include "sources/file_sample_source.hpp"
#include "support/capture_log.hpp"
#include "support/frames.hpp"
#include "support/jpeg_decode.hpp"
#include "support/paths.hpp"

namespace vantor::testing {
namespace {

using range_t = frame_t::range_t;
using matrix_t = frame_t::matrix_t;

// The first picture of a corpus clip, through our decoder.
frame_t first_picture(const std::string& name, bool hevc) {
  capture_log_t log(vantor_log_warning);
  auto samples = vantor::sources::open_file_sample_source(clip_path("corpus/" + name));
  auto decoder = hevc ? video::create_avcodec_hvc_decoder(log.context, std::move(samples))
                      : video::create_avcodec_avc_decoder(log.context, std::move(samples));
  frame_t frame = (*decoder)();
  EXPECT_FALSE(frame.is_end_of_stream()) << name;
  return frame;
}

// The one JPEG the encoder makes of `frame`, at the best quality.
std::vector<uint8_t> jpeg_of(frame_t frame) {
  capture_log_t log(vantor_log_warning);
  uint64_t const end = frame.pts_ + 1;
  uint32_t const timescale = frame.timescale_;
  std::vector<frame_t> frames;
  frames.push_back(std::move(frame));
  auto encoder = video::create_avcodec_jpg_encoder(
      log.context, play(std::move(frames), end_frame(end, timescale)), std::nullopt, 100);
  std::vector<full_sample_t> samples = read_all(*encoder);
  EXPECT_EQ(samples.size(), 1u);
  return samples.empty() ? std::vector<uint8_t>{} : payload(samples.front());
}

TEST(colour, full_range_luma_reaches_the_jpeg_unscaled) {
  struct case_t {
    const char* clip;
    bool hevc;
  };
  for (const case_t& c : {case_t{"colour_h264_full.mp4", false},
                          case_t{"colour_hevc_full.mp4", true},
                          case_t{"colour_hevc10_full.mp4", true}}) {
    SCOPED_TRACE(c.clip);
    frame_t frame = first_picture(c.clip, c.hevc);
    ASSERT_FALSE(frame.is_end_of_stream());
    EXPECT_EQ(frame.range_, range_t::full);
    EXPECT_EQ(frame.matrix_, matrix_t::bt601);
    planes_t const source = unpack_frame(frame);
    double const scale = frame.format_ == frame_t::format_t::yuv420p10le ? 0.25 : 1.0;
    decoded_jpeg_t const jpeg = decode_jpeg(jpeg_of(std::move(frame)));
    ASSERT_EQ(jpeg.y.size(), source.y.size());

    // Least squares: JPEG luma = slope * source luma + offset.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    double const n = static_cast<double>(source.y.size());
    for (size_t i = 0; i < source.y.size(); ++i) {
      double const x = source.y[i] * scale, y = jpeg.y[i];
      sx += x;
      sy += y;
      sxx += x * x;
      sxy += x * y;
    }
    double const slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    double const offset = (sy - slope * sx) / n;
    std::cout << c.clip << ": JPEG luma = " << slope << " * source luma + " << offset << "\n";
    EXPECT_NEAR(slope, 1.0, 0.02);
    EXPECT_NEAR(offset, 0.0, 2.0);
  }
}

TEST(colour, flat_patches_come_back_as_their_rgb) {
  // The patches of make_colour.sh: three across, two down.
  static const int patch_rgb[6][3] = {{0x20, 0xC0, 0x40}, {0xC0, 0x20, 0x40},
                                      {0x20, 0x40, 0xC0}, {0x80, 0x80, 0x80},
                                      {0xF0, 0xF0, 0xF0}, {0x10, 0x10, 0x10}};
  struct case_t {
    const char* clip;
    matrix_t matrix;
  };
  int worst = 0;
  for (const case_t& c : {case_t{"colour_patches_bt601_sd.mp4", matrix_t::bt601},
                          case_t{"colour_patches_bt709_hd.mp4", matrix_t::bt709},
                          case_t{"colour_patches_untagged_hd.mp4", matrix_t::bt709}}) {
    SCOPED_TRACE(c.clip);
    frame_t frame = first_picture(c.clip, false);
    ASSERT_FALSE(frame.is_end_of_stream());
    EXPECT_EQ(frame.range_, range_t::limited);
    EXPECT_EQ(frame.matrix_, c.matrix);
    rgb_picture_t const picture = decode_jpeg_rgb(jpeg_of(std::move(frame)));
    int const width = picture.width, height = picture.height;
    std::vector<uint8_t> const& rgb = picture.rgb;
    ASSERT_FALSE(rgb.empty());
    int const side = width / 3 / 2 * 2;
    int const column_left[3] = {0, side, 2 * side};
    int const column_width[3] = {side, side, width - 2 * side};
    for (int p = 0; p < 6; ++p) {
      // A 32x32 square in the middle of the patch, far from its edges.
      int const x0 = column_left[p % 3] + column_width[p % 3] / 2 - 16;
      int const y0 = (p / 3) * (height / 2) + height / 4 - 16;
      int patch_worst = 0;
      for (int y = y0; y < y0 + 32; ++y)
        for (int x = x0; x < x0 + 32; ++x)
          for (int k = 0; k < 3; ++k) {
            int const error = std::abs(rgb[(size_t(y) * width + x) * 3 + k] - patch_rgb[p][k]);
            if (error > patch_worst) patch_worst = error;
          }
      size_t const mid = (size_t(y0 + 16) * width + x0 + 16) * 3;
      EXPECT_LE(patch_worst, 4) << "patch " << p << " centre " << int{rgb[mid]} << ","
                                << int{rgb[mid + 1]} << "," << int{rgb[mid + 2]};
      if (patch_worst > worst) worst = patch_worst;
    }
  }
  std::cout << "worst patch error: " << worst << " levels\n";
}

TEST(colour, resize_keeps_the_colour_and_letterboxes_with_its_black) {
  struct case_t {
    frame_t::format_t format;
    range_t range;
    matrix_t matrix;
    uint16_t black_y;
    uint16_t black_c;
    uint16_t bright;  // a full-range level above video white
  };
  using f = frame_t::format_t;
  for (const case_t& c : {case_t{f::yuv420p, range_t::full, matrix_t::bt709, 0, 128, 250},
                          case_t{f::yuv420p, range_t::limited, matrix_t::bt601, 16, 128, 200},
                          case_t{f::nv12, range_t::full, matrix_t::bt601, 0, 128, 250},
                          case_t{f::yuv420p10le, range_t::full, matrix_t::bt2020, 0, 512, 1000},
                          case_t{f::yuv420p10le, range_t::limited, matrix_t::bt709, 64, 512,
                                 800}}) {
    SCOPED_TRACE(to_string(c.format) + (c.range == range_t::full ? " full" : " limited"));
    planes_t flat{64, 48, std::vector<uint16_t>(64 * 48, c.bright),
                  std::vector<uint16_t>(32 * 24, c.black_c),
                  std::vector<uint16_t>(32 * 24, c.black_c)};
    frame_t frame = pack_frame(flat, c.format, 0);
    frame.range_ = c.range;
    frame.matrix_ = c.matrix;
    frame.transfer_ = frame_t::transfer_t::hlg;
    frame.primaries_ = frame_t::primaries_t::p3;
    frame.hdr_ = {1000, 0.005, 900, 300};
    capture_log_t log(vantor_log_warning);
    std::vector<frame_t> frames;
    frames.push_back(std::move(frame));
    // Scaled to 32x24 and letterboxed in 32x32: 4 black rows above and below.
    auto resize = video::create_swscale_resize_filter(
        log.context, play(std::move(frames), end_frame(40)), 32, 32, 0, 4, 32, 24);
    frame_t const out = (*resize)();
    ASSERT_FALSE(out.is_end_of_stream());
    EXPECT_EQ(out.range_, c.range);
    EXPECT_EQ(out.matrix_, c.matrix);
    EXPECT_EQ(out.transfer_, frame_t::transfer_t::hlg);
    EXPECT_EQ(out.primaries_, frame_t::primaries_t::p3);
    EXPECT_EQ(out.hdr_.mastering_max_nits, 1000);
    EXPECT_EQ(out.hdr_.max_fall, 300u);
    planes_t const p = unpack_frame(out);
    EXPECT_EQ(p.y[0], c.black_y);
    EXPECT_EQ(p.y[31 * 32 + 31], c.black_y);
    EXPECT_EQ(p.u[0], c.black_c);
    EXPECT_EQ(p.v[15 * 16 + 15], c.black_c);
    EXPECT_EQ(p.y[16 * 32 + 16], c.bright);
  }
}

TEST(colour, decoded_pictures_carry_range_and_matrix) {
  struct case_t {
    AVPixelFormat format;
    AVColorRange range;
    AVColorSpace space;
    int height;
    range_t want_range;
    matrix_t want_matrix;
  };
  for (const case_t& c : {
           case_t{AV_PIX_FMT_YUV420P, AVCOL_RANGE_MPEG, AVCOL_SPC_BT709, 240, range_t::limited,
                  matrix_t::bt709},
           case_t{AV_PIX_FMT_YUV420P, AVCOL_RANGE_JPEG, AVCOL_SPC_SMPTE170M, 720,
                  range_t::full, matrix_t::bt601},
           case_t{AV_PIX_FMT_YUVJ420P, AVCOL_RANGE_UNSPECIFIED, AVCOL_SPC_BT470BG, 720,
                  range_t::full, matrix_t::bt601},
           case_t{AV_PIX_FMT_YUV420P10LE, AVCOL_RANGE_JPEG, AVCOL_SPC_BT2020_NCL, 240,
                  range_t::full, matrix_t::bt2020},
           case_t{AV_PIX_FMT_YUV420P10LE, AVCOL_RANGE_MPEG, AVCOL_SPC_BT2020_CL, 240,
                  range_t::limited, matrix_t::bt2020},
           case_t{AV_PIX_FMT_NV12, AVCOL_RANGE_UNSPECIFIED, AVCOL_SPC_UNSPECIFIED, 720,
                  range_t::limited, matrix_t::bt709},
           case_t{AV_PIX_FMT_YUV420P, AVCOL_RANGE_UNSPECIFIED, AVCOL_SPC_UNSPECIFIED, 718,
                  range_t::limited, matrix_t::bt601},
       }) {
    SCOPED_TRACE(std::to_string(c.format) + " range " + std::to_string(c.range) + " space " +
                 std::to_string(c.space) + " height " + std::to_string(c.height));
    video::wrap_avframe_t frame(32, static_cast<uint32_t>(c.height), c.format, std::nullopt, 30,
                                0, true);
    frame->color_range = c.range;
    frame->colorspace = c.space;
    frame_t const converted = video::avframe_to_frame(frame, 0, 1000);
    EXPECT_EQ(converted.range_, c.want_range);
    EXPECT_EQ(converted.matrix_, c.want_matrix);
  }
}

}  // namespace
}  // namespace vantor::testing

namespace vantor::testing {
namespace {

using transfer_t = frame_t::transfer_t;
using primaries_t = frame_t::primaries_t;

// The frame's own tags and side data count: the stream-level VUI of the ATC
// clip says BT.2020-10, its pictures say HLG.
TEST(colour, decoded_pictures_carry_transfer_primaries_and_hdr_metadata) {
  struct clip_t {
    const char* name;
    transfer_t transfer;
    double mastering_max;
    uint32_t max_cll;
  };
  for (const clip_t& c : {clip_t{"hdr_pq.mp4", transfer_t::pq, 1000, 1000},
                          clip_t{"hdr_pq_4000.mp4", transfer_t::pq, 4000, 4000},
                          clip_t{"hdr_pq_bare.mp4", transfer_t::pq, 0, 0},
                          clip_t{"hdr_hlg_atc.mp4", transfer_t::hlg, 0, 0}}) {
    SCOPED_TRACE(c.name);
    frame_t const frame = first_picture(c.name, true);
    EXPECT_EQ(frame.transfer_, c.transfer);
    EXPECT_EQ(frame.primaries_, primaries_t::bt2020);
    EXPECT_EQ(frame.matrix_, matrix_t::bt2020);
    EXPECT_EQ(frame.hdr_.mastering_max_nits, c.mastering_max);
    EXPECT_NEAR(frame.hdr_.mastering_min_nits, c.mastering_max > 0 ? 0.005 : 0, 1e-9);
    EXPECT_EQ(frame.hdr_.max_cll, c.max_cll);
    EXPECT_EQ(frame.hdr_.max_fall, c.max_cll > 0 ? 400u : 0u);
  }
  // SDR clips stay SDR, named as they are tagged.
  EXPECT_EQ(first_picture("colour_patches_bt709_hd.mp4", false).transfer_, transfer_t::bt709);
  EXPECT_EQ(first_picture("colour_patches_untagged_hd.mp4", false).transfer_, transfer_t::unspecified);

}

}  // namespace
}  // namespace vantor::testing
