#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "exception.hpp"
#include "log_context.hpp"
#include "sources/file_sample_source.hpp"
#include "sources/libav_log_scope.hpp"
#include "support/capture_log.hpp"
#include "support/paths.hpp"

namespace vantor::sources {
namespace {

using testing::capture_log_t;

// What `run` writes to file descriptor 2, FFmpeg's default log included.
std::string stderr_of(const std::function<void()>& run) {
  std::FILE* const file = std::tmpfile();
  int const saved = dup(2);
  std::fflush(stderr);
  dup2(fileno(file), 2);
  run();
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::string text;
  std::rewind(file);
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

// An initialization segment alone: libavformat finds no picture to learn
// the pixel format from and says so, before the source refuses the file.
void open_init_segment(log_context_t* log_context) {
  try {
    file_sample_source_t::open(testing::clip_path("corpus/timing_fmp4_init_only.mp4"), log_context);
    ADD_FAILURE() << "an initialization segment alone opened";
  } catch (const exception& e) {
    EXPECT_NE(std::string(e.what()).find("an initialization segment alone?"), std::string::npos) << e.what();
  }
}

TEST(file_source_log, libavformat_speaks_into_the_log_context_and_never_onto_stderr) {
  av_log_set_callback(av_log_default_callback);
  av_log_set_level(AV_LOG_INFO);
  std::string const analysis = "Could not find codec parameters for stream 0";
  // Without a log context, as before: FFmpeg's own output.
  EXPECT_NE(stderr_of([] { open_init_segment(nullptr); }).find(analysis), std::string::npos);

  capture_log_t log(vantor_log_debug);
  EXPECT_EQ(stderr_of([&] { open_init_segment(&log.context); }), "");
  auto const warning = std::find_if(log.lines.begin(), log.lines.end(), [&](const testing::captured_line_t& line) {
    return line.text.rfind("libavformat: " + analysis, 0) == 0;
  });
  ASSERT_NE(warning, log.lines.end());
  EXPECT_EQ(warning->level, vantor_log_info);
  EXPECT_NE(warning->text.find("Consider increasing the value for the 'analyzeduration'"), std::string::npos);

  // A context that wants warnings (the tool's default) hears only the
  // source's own message, and stderr nothing either.
  capture_log_t errors_only(vantor_log_warning);
  EXPECT_EQ(stderr_of([&] { open_init_segment(&errors_only.context); }), "");
  EXPECT_TRUE(errors_only.lines.empty()) << errors_only.lines.front().text;
}

// Something that logs as libavformat's objects do: an AVClass pointer first.
AVClass const demuxer_class = [] {
  AVClass av_class{};
  av_class.class_name = "demuxer";
  return av_class;
}();
struct logging_object_t {
  const AVClass* av_class = &demuxer_class;
};

TEST(libav_log_scope, levels_come_below_the_sources_own_messages_and_only_inside_the_scope) {
  logging_object_t object;
  capture_log_t log(vantor_log_trace);
  {
    libav_log_scope_t const scope(&log.context);
    for (int const level : {AV_LOG_PANIC, AV_LOG_FATAL, AV_LOG_ERROR, AV_LOG_WARNING, AV_LOG_INFO, AV_LOG_VERBOSE,
                            AV_LOG_DEBUG, AV_LOG_TRACE, 17, AV_LOG_WARNING | 0x100}) {
      av_log(&object, level, "level %d\n", level);
    }
  }
  av_log(&object, AV_LOG_ERROR, "after the scope\n");
  std::vector<vantor_log_level_t> levels;
  for (const auto& line : log.lines) levels.push_back(line.level);
  EXPECT_EQ(levels, (std::vector<vantor_log_level_t>{vantor_log_info, vantor_log_info, vantor_log_info,
                                                     vantor_log_info, vantor_log_debug, vantor_log_trace,
                                                     vantor_log_trace, vantor_log_trace, vantor_log_trace,
                                                     vantor_log_info}));
  ASSERT_FALSE(log.lines.empty());
  EXPECT_EQ(log.lines[3].text, "libavformat: level 24\n");
}

// Each thread's messages reach its own scope's context, also while another
// thread's scope is open; a decoder's codec context keeps reaching its
// synchronizer through the installed route, and a codec context of
// libavformat's own (no synchronizer) is the scope's.
TEST(libav_log_scope, threads_keep_their_own_contexts_and_decoders_keep_their_bridge) {
  capture_log_t first_log(vantor_log_info), second_log(vantor_log_info);
  std::promise<void> first_open, second_open, first_logged;
  std::thread first([&] {
    libav_log_scope_t const scope(&first_log.context);
    first_open.set_value();
    second_open.get_future().wait();
    logging_object_t object;
    av_log(&object, AV_LOG_WARNING, "first\n");
    first_logged.set_value();
  });
  std::thread second([&] {
    first_open.get_future().wait();
    libav_log_scope_t const scope(&second_log.context);
    second_open.set_value();
    first_logged.get_future().wait();
    logging_object_t object;
    av_log(&object, AV_LOG_WARNING, "second\n");
  });
  first.join();
  second.join();
  ASSERT_EQ(first_log.lines.size(), 1u);
  EXPECT_EQ(first_log.lines[0].text, "libavformat: first\n");
  ASSERT_EQ(second_log.lines.size(), 1u);
  EXPECT_EQ(second_log.lines[0].text, "libavformat: second\n");

  capture_log_t decoder_log(vantor_log_info);
  logging_synchronizer_t synchronizer(decoder_log.context, 16);
  AVCodecContext* decoder = avcodec_alloc_context3(nullptr);
  AVCodecContext* probe = avcodec_alloc_context3(nullptr);
  ASSERT_TRUE(decoder && probe);
  decoder->opaque = &synchronizer;
  capture_log_t source_log(vantor_log_info);
  {
    libav_log_scope_t const scope(&source_log.context);
    av_log(decoder, AV_LOG_WARNING, "from the decoder\n");
    av_log(probe, AV_LOG_WARNING, "from a probe\n");
  }
  av_log(decoder, AV_LOG_ERROR, "after the scope\n");
  synchronizer.flush_events();
  avcodec_free_context(&decoder);
  avcodec_free_context(&probe);
  ASSERT_EQ(decoder_log.lines.size(), 2u);
  EXPECT_EQ(decoder_log.lines[0].text, "libavcodec: from the decoder\n");
  EXPECT_EQ(decoder_log.lines[1].text, "libavcodec: after the scope\n");
  ASSERT_EQ(source_log.lines.size(), 1u);
  EXPECT_EQ(source_log.lines[0].text, "libavcodec: from a probe\n");
}

}  // namespace
}  // namespace vantor::sources
