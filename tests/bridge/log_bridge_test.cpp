// FFmpeg error texts and the bridge from FFmpeg's log callback to a
// codec context owner's synchronizer.

#include <gtest/gtest.h>

#include <cstdarg>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ffmpeg_utils/ffmpeg_utils.hpp"

extern "C" {
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

namespace vantor::video {
namespace {

using event_t = std::pair<vantor_log_level_t, std::string>;

// A codec context linked to a synchronizer whose events land in `events`.
class log_bridge : public ::testing::Test {
 protected:
  log_bridge()
      : log_context_(vantor_log_trace,
                     [this](vantor_log_level_t level, std::string_view text) {
                       events_.emplace_back(level, std::string(text));
                     }),
        synchronizer_(log_context_, 100),
        context_(avcodec_alloc_context3(nullptr)) {
    install_avlog_callback(context_.get(), &synchronizer_);
  }

  // Calls the callback as FFmpeg would, with a real va_list.
  static void log(void* avcl, int level, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    avlog_callback(avcl, level, fmt, args);
    va_end(args);
  }

  std::vector<event_t> flushed() {
    synchronizer_.flush_events();
    return std::exchange(events_, {});
  }

  // Which vantor level a message of FFmpeg `level` arrives at (threshold at
  // its most verbose), or -1 when it does not arrive.
  int mapped_level(int level) {
    log(context_.get(), level, "x");
    std::vector<event_t> events = flushed();
    if (events.empty()) return -1;
    EXPECT_EQ(events.size(), 1u);
    return events.front().first;
  }

  std::vector<event_t> events_;
  log_context_t log_context_;
  logging_synchronizer_t synchronizer_;
  std::unique_ptr<AVCodecContext, avcodec_context_deleter_t> context_;
};

TEST(averror_to_string, names_known_codes_and_numbers_rejected_ones) {
  EXPECT_EQ(averror_to_string(AVERROR_EOF), "End of file");
  EXPECT_EQ(averror_to_string(AVERROR(EINVAL)), "Invalid argument");
  // av_strerror rejects these and leaves "Error number ... occurred" behind.
  EXPECT_EQ(averror_to_string(-123456), "Unknown ffmpeg error -123456");
  EXPECT_EQ(averror_to_string(-2147483647 - 1), "Unknown ffmpeg error -2147483648");
  EXPECT_EQ(averror_to_string(123456), "Unknown ffmpeg error 123456");
}

TEST_F(log_bridge, install_links_the_synchronizer_through_opaque) {
  EXPECT_EQ(context_->opaque, &synchronizer_);
}

TEST_F(log_bridge, stores_prefixed_formatted_text_at_the_mapped_level) {
  synchronizer_.verbosity_threshold = vantor_log_warning;
  log(context_.get(), AV_LOG_WARNING, "frame %d of %s\n", 7, "clip");
  std::vector<event_t> events = flushed();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].first, vantor_log_warning);
  EXPECT_EQ(events[0].second, "libavcodec: frame 7 of clip\n");
}

TEST_F(log_bridge, real_av_log_calls_arrive_through_the_installed_callback) {
  av_log(context_.get(), AV_LOG_ERROR, "broken %s", "stream");
  std::vector<event_t> events = flushed();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], event_t(vantor_log_error, "libavcodec: broken stream"));
}

TEST_F(log_bridge, maps_named_levels) {
  EXPECT_EQ(mapped_level(AV_LOG_PANIC), vantor_log_error);
  EXPECT_EQ(mapped_level(AV_LOG_FATAL), vantor_log_error);
  EXPECT_EQ(mapped_level(AV_LOG_ERROR), vantor_log_error);
  EXPECT_EQ(mapped_level(AV_LOG_WARNING), vantor_log_warning);
  EXPECT_EQ(mapped_level(AV_LOG_INFO), vantor_log_info);
  EXPECT_EQ(mapped_level(AV_LOG_VERBOSE), vantor_log_debug);
  EXPECT_EQ(mapped_level(AV_LOG_DEBUG), vantor_log_debug);
  EXPECT_EQ(mapped_level(AV_LOG_TRACE), vantor_log_trace);
}

TEST_F(log_bridge, maps_unnamed_levels_and_quiet_to_trace) {
  EXPECT_EQ(mapped_level(17), vantor_log_trace);
  EXPECT_EQ(mapped_level(1), vantor_log_trace);
  EXPECT_EQ(mapped_level(47), vantor_log_trace);
  EXPECT_EQ(mapped_level(49), vantor_log_trace);
  EXPECT_EQ(mapped_level(255), vantor_log_trace);
  EXPECT_EQ(mapped_level(AV_LOG_QUIET), vantor_log_trace);  // -8 reads as 248
}

TEST_F(log_bridge, ignores_flag_bits_above_the_low_byte) {
  EXPECT_EQ(mapped_level(AV_LOG_WARNING + 0x100), vantor_log_warning);
  EXPECT_EQ(mapped_level(AV_LOG_ERROR | 0x7f00), vantor_log_error);
  EXPECT_EQ(mapped_level(AV_LOG_INFO | 0x40000000), vantor_log_info);
  EXPECT_EQ(mapped_level(static_cast<int>(0x80000000u | AV_LOG_DEBUG)), vantor_log_debug);
}

TEST_F(log_bridge, threshold_drops_more_verbose_messages) {
  synchronizer_.verbosity_threshold = vantor_log_error;
  log(context_.get(), AV_LOG_WARNING, "dropped");
  EXPECT_TRUE(flushed().empty());

  synchronizer_.verbosity_threshold = vantor_log_warning;
  log(context_.get(), AV_LOG_WARNING, "kept");
  log(context_.get(), AV_LOG_INFO, "dropped");
  std::vector<event_t> events = flushed();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], event_t(vantor_log_warning, "libavcodec: kept"));
}

TEST_F(log_bridge, threshold_is_tested_before_any_formatting) {
  // "%n" writes the count of characters formatted so far: the count shows
  // whether the text was formatted at all.
  int formatted = -1;
  synchronizer_.verbosity_threshold = vantor_log_info;
  log(context_.get(), AV_LOG_DEBUG, "abc%n", &formatted);
  EXPECT_EQ(formatted, -1) << "a dropped message was formatted";
  EXPECT_TRUE(flushed().empty());

  synchronizer_.verbosity_threshold = vantor_log_debug;
  log(context_.get(), AV_LOG_DEBUG, "abc%n", &formatted);
  EXPECT_EQ(formatted, 3);
  EXPECT_EQ(flushed(), std::vector<event_t>{event_t(vantor_log_debug, "libavcodec: abc")});
}

TEST_F(log_bridge, null_opaque_gives_nothing) {
  context_->opaque = nullptr;
  log(context_.get(), AV_LOG_ERROR, "lost");
  context_->opaque = &synchronizer_;
  EXPECT_TRUE(flushed().empty());
}

TEST_F(log_bridge, other_classes_never_arrive) {
  // The context keeps its synchronizer in opaque; only its class differs.
  AVClass const* const own_class = context_->av_class;
  AVClass lookalike = *own_class;
  int levels[] = {AV_LOG_PANIC, AV_LOG_ERROR, AV_LOG_WARNING, AV_LOG_INFO, AV_LOG_TRACE};
  for (const char* name : {"SWScaler", "AVCodecContex", "AVCodecContextX", "avcodeccontext", ""}) {
    lookalike.class_name = name;
    context_->av_class = &lookalike;
    for (int level : levels) log(context_.get(), level, "from %s", name);
  }
  context_->av_class = sws_get_class();
  for (int level : levels) log(context_.get(), level, "from a scaler");
  context_->av_class = own_class;
  EXPECT_TRUE(flushed().empty());
}

TEST_F(log_bridge, a_real_scaling_context_is_dropped) {
  SwsContext* sws = sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 8, 8, AV_PIX_FMT_YUV420P,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr);
  ASSERT_NE(sws, nullptr);
  log(sws, AV_LOG_ERROR, "scaler error");
  av_log(sws, AV_LOG_ERROR, "scaler error through av_log");
  sws_freeContext(sws);
  EXPECT_TRUE(flushed().empty());
}

TEST_F(log_bridge, null_object_class_or_class_name_is_dropped_not_dereferenced) {
  log(nullptr, AV_LOG_ERROR, "no object");

  AVClass const* const own_class = context_->av_class;
  context_->av_class = nullptr;
  log(context_.get(), AV_LOG_ERROR, "no class");

  AVClass nameless = *own_class;
  nameless.class_name = nullptr;
  context_->av_class = &nameless;
  log(context_.get(), AV_LOG_ERROR, "no class name");

  context_->av_class = own_class;
  EXPECT_TRUE(flushed().empty());
}

}  // namespace
}  // namespace vantor::video
