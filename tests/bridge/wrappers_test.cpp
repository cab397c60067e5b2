// The owning packet and frame wrappers.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "ffmpeg_utils/ffmpeg_utils.hpp"
#include "support/expect_failure.hpp"

// Fresh buffers are always writable, so to see the writability check fail
// this executable's av_frame_is_writable stands in for libavutil's in the
// bridge's calls: it answers 0 while `refuse_writable` is set and forwards
// otherwise. Not exported, it leaves libavutil's own callers alone.
namespace {
bool refuse_writable = false;
}  // namespace

extern "C" int av_frame_is_writable(AVFrame* frame) {
  if (refuse_writable) return 0;
  using function_t = int (*)(AVFrame*);
  static function_t const libavutil =
      reinterpret_cast<function_t>(dlsym(RTLD_NEXT, "av_frame_is_writable"));
  return libavutil(frame);
}

namespace vantor::video {
namespace {

using vantor::testing::catch_vantor;
using vantor::testing::expect_check_failure_at;

// Every check of the bridge names its one documented source.
constexpr const char* bridge_file = "ffmpeg_utils/ffmpeg_utils.cpp";
constexpr check_site_t packet_constructor = {
    bridge_file,
    "vantor::video::wrap_avpacket_t::wrap_avpacket_t(int64_t, int64_t, const uint8_t*, const "
    "uint8_t*)"};

TEST(wrap_avpacket, empty_packet_has_no_payload) {
  wrap_avpacket_t packet;
  EXPECT_EQ(packet.data(), nullptr);
  EXPECT_EQ(packet.size(), 0);
  EXPECT_EQ(packet.pts(), AV_NOPTS_VALUE);
}

TEST(wrap_avpacket, copies_the_range_and_sets_dts_then_pts) {
  std::vector<uint8_t> bytes = {0, 0, 0, 1, 0x65, 0x88};
  wrap_avpacket_t packet(10, 20, bytes.data(), bytes.data() + bytes.size());
  EXPECT_EQ(packet.dts(), 10);
  EXPECT_EQ(packet.pts(), 20);
  ASSERT_EQ(packet.size(), 6);
  ASSERT_NE(packet.data(), bytes.data());
  bytes[4] = 0;  // a copy, not a view
  EXPECT_EQ(std::vector<uint8_t>(packet.data(), packet.data() + 6),
            (std::vector<uint8_t>{0, 0, 0, 1, 0x65, 0x88}));
  EXPECT_EQ(packet.flags(), 0);
  EXPECT_EQ(packet.duration(), 0);
  EXPECT_EQ(packet.pos(), -1);
}

TEST(wrap_avpacket, empty_range_is_valid) {
  uint8_t byte = 7;
  wrap_avpacket_t packet(-5, std::numeric_limits<int64_t>::max(), &byte, &byte);
  EXPECT_EQ(packet.size(), 0);
  EXPECT_EQ(packet.dts(), -5);
  EXPECT_EQ(packet.pts(), std::numeric_limits<int64_t>::max());
  wrap_avpacket_t from_nulls(1, 2, nullptr, nullptr);
  EXPECT_EQ(from_nulls.size(), 0);
}

TEST(wrap_avpacket, rejects_reversed_and_oversized_ranges) {
  uint8_t bytes[4] = {};
  expect_check_failure_at([&] { wrap_avpacket_t(0, 0, bytes + 3, bytes + 1); }, packet_constructor,
                          "size >= 0");
  // Only the difference of the two pointers is looked at before the check fails.
  auto const far_end = reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(bytes) +
                                                        (uintptr_t{1} << 31));
  expect_check_failure_at([&] { wrap_avpacket_t(0, 0, bytes, far_end); }, packet_constructor,
                          "size <= std::numeric_limits<int>::max()");
}

TEST(wrap_avpacket, moves_keep_the_one_packet) {
  uint8_t bytes[3] = {1, 2, 3};
  wrap_avpacket_t first(1, 2, bytes, bytes + 3);
  AVPacket* const owned = first.get();
  wrap_avpacket_t second(std::move(first));
  EXPECT_EQ(second.get(), owned);
  EXPECT_EQ(second.size(), 3);
}

TEST(wrap_avframe, empty_frame_has_alloc_defaults) {
  wrap_avframe_t frame;
  ASSERT_NE(frame.get(), nullptr);
  EXPECT_EQ(frame->format, -1);
  EXPECT_EQ(frame->data[0], nullptr);
  EXPECT_EQ(frame.pts(), AV_NOPTS_VALUE);
}

TEST(wrap_avframe, filling_constructor_sets_fields_and_writable_buffers) {
  wrap_avframe_t frame(64, 48, AV_PIX_FMT_YUVJ420P, fraction_t<unsigned, unsigned>{4, 3}, 50,
                       123456789, true);
  EXPECT_EQ(frame->width, 64);
  EXPECT_EQ(frame->height, 48);
  EXPECT_EQ(frame->format, AV_PIX_FMT_YUVJ420P);
  EXPECT_EQ(frame->sample_aspect_ratio.num, 4);
  EXPECT_EQ(frame->sample_aspect_ratio.den, 3);
  EXPECT_EQ(frame.pts(), 123456789);
  EXPECT_EQ(frame->quality, 856);
  EXPECT_TRUE(av_frame_is_writable(frame.get()));
  for (int plane = 0; plane < 3; ++plane) {
    ASSERT_NE(frame->data[plane], nullptr);
    EXPECT_GE(frame->linesize[plane], plane == 0 ? 64 : 32);
  }
}

TEST(wrap_avframe, key_flag_follows_keyframe_and_uses_flags_only) {
  wrap_avframe_t key(16, 16, AV_PIX_FMT_YUV420P, std::nullopt, 30, 0, true);
  EXPECT_EQ(key->flags, AV_FRAME_FLAG_KEY);
  wrap_avframe_t other(16, 16, AV_PIX_FMT_YUV420P, std::nullopt, 30, 0, false);
  EXPECT_EQ(other->flags & AV_FRAME_FLAG_KEY, 0);
  EXPECT_EQ(other->flags, 0);
}

TEST(wrap_avframe, quality_becomes_lambda) {
  EXPECT_EQ(wrap_avframe_t(16, 16, AV_PIX_FMT_YUV420P, std::nullopt, 100, 0, true)->quality, 236);
  EXPECT_EQ(wrap_avframe_t(16, 16, AV_PIX_FMT_YUV420P, std::nullopt, 0, 0, true)->quality, 3658);
}

TEST(wrap_avframe, without_sar_keeps_the_default) {
  wrap_avframe_t frame(16, 16, AV_PIX_FMT_YUV420P, std::nullopt, 30, 0, true);
  EXPECT_EQ(frame->sample_aspect_ratio.num, 0);
  EXPECT_EQ(frame->sample_aspect_ratio.den, 1);
}

TEST(wrap_avframe, constructor_failures) {
  expect_check_failure_at(
      [] {
        wrap_avframe_t(16, 16, AV_PIX_FMT_YUV420P,
                       fraction_t<unsigned, unsigned>{2147483648u, 1}, 30, 0, true);
      },
      {bridge_file, "AVRational vantor::video::make_rational(uint32_t, uint32_t)"},
      "num <= static_cast<uint32_t>(std::numeric_limits<int>::max())");
  expect_check_failure_at(
      [] { wrap_avframe_t(16, 16, AV_PIX_FMT_YUV420P, std::nullopt, 101, 0, true); },
      {bridge_file, "int vantor::video::quality_to_lambda(uint32_t)"}, "quality <= 100");
  for (auto [width, format] : {std::pair<uint32_t, AVPixelFormat>{0, AV_PIX_FMT_YUV420P},
                               std::pair<uint32_t, AVPixelFormat>{16, AV_PIX_FMT_NONE}}) {
    std::optional<vantor::exception> e =
        catch_vantor([&] { wrap_avframe_t(width, 16, format, std::nullopt, 30, 0, true); });
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->result(), vantor_result_libav_failure);
    EXPECT_EQ(std::string(e->what()), "libavcodec failed to allocate buffers for a frame: " +
                                          averror_to_string(AVERROR(EINVAL)));
  }
}

TEST(wrap_avframe, unwritable_buffers_fail_the_last_check_with_the_documented_signature) {
  refuse_writable = true;
  std::optional<vantor::exception> const e = expect_check_failure_at(
      [] { wrap_avframe_t(16, 16, AV_PIX_FMT_YUV420P, std::nullopt, 30, 0, true); },
      {bridge_file,
       "vantor::video::wrap_avframe_t::wrap_avframe_t(uint32_t, uint32_t, AVPixelFormat, "
       "std::optional<vantor::fraction_t<unsigned int, unsigned int> >, uint32_t, uint64_t, "
       "bool)"},
      "av_frame_is_writable(frame_.get()) != 0");
  refuse_writable = false;
  // The stand-in forwards again: the same frame is built without complaint.
  EXPECT_NO_THROW(wrap_avframe_t(16, 16, AV_PIX_FMT_YUV420P, std::nullopt, 30, 0, true));
}

}  // namespace
}  // namespace vantor::video
