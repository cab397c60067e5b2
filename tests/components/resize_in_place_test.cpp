// Every pull copies the picture into a source image and scales it into a
// destination image of its own, at every log level: the level decides which
// lines are written, never what is allocated or which bytes come out.

#include <gtest/gtest.h>

#include <string>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "ffmpeg_utils/exports.hpp"
#include "support/capture_log.hpp"
#include "support/frames.hpp"

// test_components links with --wrap=av_image_alloc: every image the library
// allocates passes here and is noted while a test listens.
static std::vector<std::string>* image_events = nullptr;

extern "C" int __real_av_image_alloc(uint8_t* pointers[4], int linesizes[4], int w, int h,
                                     AVPixelFormat pix_fmt, int align);
extern "C" int __wrap_av_image_alloc(uint8_t* pointers[4], int linesizes[4], int w, int h,
                                     AVPixelFormat pix_fmt, int align) {
  if (image_events != nullptr) {
    image_events->push_back("image " + std::to_string(w) + "x" + std::to_string(h) + " " +
                            av_get_pix_fmt_name(pix_fmt));
  }
  return __real_av_image_alloc(pointers, linesizes, w, h, pix_fmt, align);
}

namespace vantor::testing {
namespace {

using format_t = frame_t::format_t;

// One picture per entry of `formats`, each with its own pattern; the
// pictures are numbered from `first` on.
std::vector<frame_t> resized(int log_level, const std::vector<format_t>& formats, uint32_t src_w,
                             uint32_t src_h, uint32_t dst_w, uint32_t dst_h, uint32_t crop_x,
                             uint32_t crop_w, int first = 0) {
  std::vector<frame_t> frames;
  for (size_t i = 0; i < formats.size(); ++i) {
    int const n = first + static_cast<int>(i);
    frames.push_back(pack_frame(make_pattern(src_w, src_h, is_ten_bit(formats[i]), n), formats[i], 40 * n));
  }
  capture_log_t log(log_level);
  frame_t end = end_frame(40 * (first + formats.size()));
  auto filter = video::create_swscale_resize_filter(
      log.context, play(std::move(frames), std::move(end)), dst_w, dst_h, crop_x, 0, crop_w, 0);
  std::vector<frame_t> out;
  for (frame_t frame = (*filter)(); !frame.data_.empty(); frame = (*filter)())
    out.push_back(std::move(frame));
  return out;
}

class resize_log_level : public ::testing::TestWithParam<format_t> {};

TEST_P(resize_log_level, gives_the_same_bytes_as_the_trace_level) {
  struct geometry_t {
    uint32_t src_w, src_h, dst_w, dst_h, crop_x, crop_w;
  };
  for (geometry_t g : {geometry_t{320, 240, 160, 120, 0, 0}, geometry_t{320, 180, 320, 240, 32, 256},
                       geometry_t{176, 144, 176, 144, 0, 0}, geometry_t{64, 48, 640, 360, 80, 480}}) {
    SCOPED_TRACE(::testing::Message() << g.src_w << "x" << g.src_h << " -> " << g.dst_w << "x" << g.dst_h);
    std::vector<format_t> const formats(3, GetParam());
    std::vector<frame_t> const quiet =
        resized(vantor_log_info, formats, g.src_w, g.src_h, g.dst_w, g.dst_h, g.crop_x, g.crop_w);
    std::vector<frame_t> const traced =
        resized(vantor_log_debug, formats, g.src_w, g.src_h, g.dst_w, g.dst_h, g.crop_x, g.crop_w);
    ASSERT_EQ(quiet.size(), 3u);
    ASSERT_EQ(traced.size(), 3u);
    for (size_t i = 0; i < quiet.size(); ++i) {
      EXPECT_EQ(quiet[i].width_, g.dst_w);
      EXPECT_TRUE(quiet[i].data_ == traced[i].data_) << "picture " << i;
    }
  }
}

// Each picture after a change of pixel format comes out as from a filter of
// its own: nothing made for the previous format carries over.
TEST(resize_images, follow_a_pixel_format_change) {
  std::vector<format_t> const formats = {format_t::yuv420p, format_t::yuv420p10le, format_t::nv12,
                                         format_t::yuv420p};
  for (int level : {vantor_log_info, vantor_log_debug}) {
    std::vector<frame_t> const reused = resized(level, formats, 320, 180, 160, 120, 0, 0);
    ASSERT_EQ(reused.size(), formats.size());
    for (size_t i = 0; i < formats.size(); ++i) {
      std::vector<frame_t> const alone =
          resized(level, {formats[i]}, 320, 180, 160, 120, 0, 0, static_cast<int>(i));
      ASSERT_EQ(alone.size(), 1u);
      EXPECT_EQ(reused[i].format_, formats[i]);
      EXPECT_TRUE(reused[i].data_ == alone[0].data_) << "level " << level << " picture " << i;
    }
  }
}

// What a pull allocates and logs, in order: at the trace level each step's
// line before its image, at level 0 the same two images alone: the picture's
// source copy and a new destination of the rectangle's size. The unscaled
// NV12 picture, which libswscale cannot copy whole, is no exception.
TEST(resize_images, every_pull_allocates_a_source_and_a_destination_at_every_level) {
  struct pull_t {
    format_t format;
    uint32_t width, height;
    std::string av_name;
  };
  std::vector<pull_t> const pulls = {{format_t::yuv420p, 640, 360, "yuv420p"},
                                     {format_t::yuv420p, 640, 360, "yuv420p"},
                                     {format_t::nv12, 960, 720, "nv12"},
                                     {format_t::yuv420p10le, 320, 240, "yuv420p10le"}};
  for (int level : {0, static_cast<int>(vantor_log_debug)}) {
    SCOPED_TRACE(::testing::Message() << "level " << level);
    std::vector<std::string> events;
    // Each line up to its first number, address or image.
    log_context_t log(level, [&](vantor_log_level_t, std::string_view text) {
      events.emplace_back(text.substr(0, text.find_first_of(",([")));
    });
    std::vector<frame_t> frames;
    for (const pull_t& p : pulls) {
      frames.push_back(
          pack_frame(make_pattern(p.width, p.height, is_ten_bit(p.format)), p.format, 0));
    }
    auto filter = video::create_swscale_resize_filter(log, play(std::move(frames), end_frame(40)),
                                                      1280, 720, 160, 0, 960, 720);
    image_events = &events;
    for (size_t i = 0; i < pulls.size(); ++i) {
      events.clear();
      (*filter)();
      std::string const line = "video_filter_resize_swscale: ";
      std::vector<std::string> const traced = {
          line + "making src avimage",
          "image " + std::to_string(pulls[i].width) + "x" + std::to_string(pulls[i].height) + " " +
              pulls[i].av_name,
          line + "making dst avimage", "image 960x720 " + pulls[i].av_name,
          line + "calling swscale_context_->scale", line + "calling avimage_to_frame"};
      std::vector<std::string> expected;
      // The second picture has the first one's context.
      if (level > 0 && i != 1)
        expected.push_back(line + "resize from " + video::to_string(pulls[i].format) + " ");
      for (const std::string& event : traced)
        if (level > 0 || event.rfind("image ", 0) == 0) expected.push_back(event);
      EXPECT_EQ(events, expected) << "pull " << i;
    }
    events.clear();
    EXPECT_TRUE((*filter)().data_.empty());
    EXPECT_TRUE(events.empty()) << "the end of the stream allocates nothing";
    image_events = nullptr;
  }
}

INSTANTIATE_TEST_SUITE_P(formats, resize_log_level,
                         ::testing::Values(format_t::nv12, format_t::yuv420p, format_t::yuv420p10le));

}  // namespace
}  // namespace vantor::testing
