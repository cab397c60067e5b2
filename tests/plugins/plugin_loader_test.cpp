#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "exception.hpp"
#include "plugin_loader.hpp"
#include "plugins/plugin_test_support.hpp"
#include "support/capture_log.hpp"

namespace {

using namespace vantor;
using vantor::testing::build_path;
using vantor::testing::module_path;

std::string load_error(const std::string& path, vantor_result expected_code) {
  try {
    video_decoder_plugin_t const plugin(path);
  } catch (const vantor::exception& e) {
    EXPECT_EQ(e.result(), expected_code) << e.what();
    return e.what();
  }
  ADD_FAILURE() << path << " loaded as a decoder";
  return {};
}

TEST(plugin_loader, missing_file_names_path_and_loader_reason) {
  std::string const path = build_path("plugins/libno_such_module.so");
  std::string const message = load_error(path, vantor_result_io_error);
  EXPECT_NE(message.find("'" + path + "'"), std::string::npos) << message;
  EXPECT_NE(message.find("No such file"), std::string::npos) << message;
}

TEST(plugin_loader, library_without_entry_point_is_refused) {
  std::string const path = build_path("lib/libpellix.so");
  std::string const message = load_error(path, vantor_result_check_failed);
  EXPECT_NE(message.find("no entry point mp4_get_plugin_impl_1_15_9"), std::string::npos) << message;
  EXPECT_NE(message.find(path), std::string::npos) << message;
}

TEST(plugin_loader, wrong_interface_names_expected_and_found) {
  std::string const message =
      load_error(module_path("video_encoder_jpg_avcodec"), vantor_result_check_failed);
  EXPECT_NE(message.find("video_encoder_jpg_avcodec_factory_t"), std::string::npos) << message;
  EXPECT_NE(message.find("not a vantor::video_decoder_factory_t"), std::string::npos) << message;
}

TEST(plugin_loader, entry_point_returns_the_same_object_every_time) {
  for (const char* name : {"video_decoder_avc_avcodec", "video_decoder_hvc_avcodec",
                           "video_encoder_jpg_avcodec", "video_filter_resize_swscale"}) {
    void* const handle = dlopen(module_path(name).c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    auto const entry = reinterpret_cast<plugin_entry_point_t>(dlsym(handle, plugin_entry_point_name));
    ASSERT_NE(entry, nullptr) << name;
    plugin_t* const first = entry();
    EXPECT_NE(first, nullptr) << name;
    EXPECT_EQ(entry(), first) << name;
    dlclose(handle);
  }
}

TEST(plugin_loader, module_stays_loaded_until_its_last_component_is_gone) {
  std::string const path = module_path("video_filter_resize_swscale");
  ASSERT_FALSE(vantor::testing::is_loaded(path)) << "another test left the module loaded";
  vantor::testing::capture_log_t log(0);
  host_context_t host(log.context);
  std::unique_ptr<video::frame_source_t> filter;
  {
    video_filter_resize_plugin_t const plugin(path);
    EXPECT_TRUE(vantor::testing::is_loaded(path));
    filter = plugin.create(host, std::make_unique<vantor::testing::synthetic_frames_t>(64, 48, 2),
                           32, 24, 0, 0, 0, 0, transcoder_config_t{"resize", {}});
  }
  EXPECT_TRUE(vantor::testing::is_loaded(path)) << "unloaded under a live component";
  video::frame_t const frame = (*filter)();
  EXPECT_EQ(frame.width_, 32u);
  EXPECT_EQ(frame.height_, 24u);
  filter.reset();
  EXPECT_FALSE(vantor::testing::is_loaded(path)) << "still loaded after the last component";
}

TEST(plugin_loader, failed_create_leaves_nothing_loaded) {
  std::string const path = module_path("video_filter_resize_swscale");
  vantor::testing::capture_log_t log(0);
  host_context_t host(log.context);
  {
    video_filter_resize_plugin_t const plugin(path);
    EXPECT_THROW(plugin.create(host, std::make_unique<vantor::testing::synthetic_frames_t>(64, 48, 1),
                               0, 24, 0, 0, 0, 0, transcoder_config_t{"resize", {}}),
                 vantor::exception);
  }
  EXPECT_FALSE(vantor::testing::is_loaded(path));
}

}  // namespace

extern "C" void av_log(void* avcl, int level, const char* fmt, ...);

namespace {

// The library installs FFmpeg's process-wide log callback and never removes
// it, so it must stay mapped after the modules that brought it in are gone.
TEST(plugin_loader_DeathTest, ffmpeg_logging_survives_unloading_the_modules) {
  // Re-executing the test binary would bypass the emulator in a cross build.
  GTEST_FLAG_SET(death_test_style, *VANTOR_TEST_EMULATOR ? "fast" : "threadsafe");
  EXPECT_EXIT(
      {
        {
          vantor::testing::capture_log_t log(0);
          host_context_t host(log.context);
          video_encoder_plugin_t const plugin(module_path("video_encoder_jpg_avcodec"));
          auto encoder = plugin.create(host, std::make_unique<vantor::testing::synthetic_frames_t>(64, 48, 1),
                                       video_description_t{}, transcoder_config_t{"jpg", {}});
          while (encoder->read_sample()) {
          }
        }
        av_log(nullptr, 32, "after unload\n");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
