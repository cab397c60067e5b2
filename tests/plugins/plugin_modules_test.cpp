#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "buckets.hpp"
#include "exception.hpp"
#include "sources/file_sample_source.hpp"
#include "plugin_loader.hpp"
#include "plugins/plugin_test_support.hpp"
#include "support/clip_table.hpp"
#include "support/capture_log.hpp"
#include "support/md5.hpp"

namespace {

using namespace vantor;
using vantor::testing::capture_log_t;
using vantor::testing::module_path;
using vantor::testing::synthetic_frames_t;

std::unique_ptr<video::frame_source_t> frames(unsigned count = 3) {
  return std::make_unique<synthetic_frames_t>(64, 48, count);
}

std::string unknown(const std::string& implementation, const std::string& attribute) {
  return implementation + ": unknown attribute '" + attribute +
         "' for this transcoder implementation.";
}

// Runs `create` and returns the message of the vantor::exception it throws.
template <typename create_t>
std::string create_error(create_t&& create) {
  try {
    create();
  } catch (const vantor::exception& e) {
    EXPECT_EQ(e.result(), vantor_result_check_failed) << e.what();
    return e.what();
  }
  return "(created)";
}

class decoder_module : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(decoder_module, decodes_the_clip_to_the_reference_pictures) {
  auto const [module, clip] = GetParam();
  video_decoder_plugin_t const plugin(module_path(module));
  capture_log_t log(0);
  host_context_t host(log.context);
  auto decoder = plugin.create(host, vantor::sources::open_file_sample_source(vantor::testing::clip_path(clip)),
                               transcoder_config_t{module, {}});
  vantor::testing::md5_t md5;
  unsigned pictures = 0;
  for (video::frame_t frame = (*decoder)(); !frame.is_end_of_stream(); frame = (*decoder)()) {
    md5.update(frame.data_);
    ++pictures;
  }
  vantor::testing::clip_t const reference = vantor::testing::find_clip(clip);
  EXPECT_EQ(pictures, reference.frames);
  EXPECT_EQ(md5.hex(), reference.raw_md5);
}

TEST_P(decoder_module, refuses_every_attribute_naming_the_first) {
  auto const [module, clip] = GetParam();
  video_decoder_plugin_t const plugin(module_path(module));
  capture_log_t log(0);
  host_context_t host(log.context);
  auto create = [&](std::vector<transcoder_attribute_t> attributes) {
    return create_error([&] {
      plugin.create(host, vantor::sources::open_file_sample_source(vantor::testing::clip_path(clip)),
                    transcoder_config_t{"my_decoder", std::move(attributes)});
    });
  };
  EXPECT_EQ(create({{"quality", "75"}}), unknown("my_decoder", "quality"));
  EXPECT_EQ(create({{"threads", "2"}, {"quality", "75"}}), unknown("my_decoder", "threads"));
  EXPECT_EQ(create({{"", ""}}), unknown("my_decoder", ""));
}

INSTANTIATE_TEST_SUITE_P(
    Modules, decoder_module,
    ::testing::Values(std::make_pair("video_decoder_avc_avcodec", "h264_mkv.mkv"),
                      std::make_pair("video_decoder_hvc_avcodec", "hevc_main_bframes.mp4")));

TEST(resize_module, scales_into_the_rectangle_and_refuses_attributes) {
  video_filter_resize_plugin_t const plugin(module_path("video_filter_resize_swscale"));
  capture_log_t log(0);
  host_context_t host(log.context);
  auto filter = plugin.create(host, frames(), 32, 24, 8, 0, 16, 24, transcoder_config_t{"r", {}});
  video::frame_t const frame = (*filter)();
  ASSERT_EQ(frame.width_, 32u);
  ASSERT_EQ(frame.height_, 24u);
  EXPECT_EQ(frame.data_[0], 16) << "left of the rectangle stays black";
  EXPECT_EQ(frame.data_[8], 60) << "the rectangle holds the picture";
  EXPECT_EQ(frame.data_[24], 16) << "right of the rectangle stays black";

  EXPECT_EQ(create_error([&] {
              plugin.create(host, frames(), 32, 24, 0, 0, 0, 0,
                            transcoder_config_t{"resizer", {{"width", "1"}, {"height", "2"}}});
            }),
            unknown("resizer", "width"));
}

TEST(resize_module, component_error_passes_through_and_factory_stays_usable) {
  video_filter_resize_plugin_t const plugin(module_path("video_filter_resize_swscale"));
  capture_log_t log(0);
  host_context_t host(log.context);
  try {
    plugin.create(host, frames(), 0, 24, 0, 0, 0, 0, transcoder_config_t{"r", {}});
    FAIL() << "a zero output width was accepted";
  } catch (const vantor::exception& e) {
    EXPECT_EQ(e.result(), vantor_result_check_failed);
    EXPECT_TRUE(e.is_assertion());
    EXPECT_EQ(e.expression(), "dst_width_ > 0 && \"Output width must be larger than 0\"");
  }
  auto filter = plugin.create(host, frames(), 32, 24, 0, 0, 0, 0, transcoder_config_t{"r", {}});
  EXPECT_EQ((*filter)().width_, 32u);
}

class jpeg_module : public ::testing::Test {
 protected:
  // The quality the encoder was configured with, read from its level-2 line.
  std::string configured_quality(const std::vector<transcoder_attribute_t>& attributes) {
    capture_log_t log(2);
    host_context_t host(log.context);
    auto encoder = plugin_.create(host, frames(), video_description_t{},
                                  transcoder_config_t{"jpg", attributes});
    auto const lines = log.starting_with("video_encoder_jpg_avcodec: width=");
    EXPECT_EQ(lines.size(), 1u);
    if (lines.empty()) return {};
    std::string const& line = lines[0];
    size_t const at = line.find(" quality=");
    return at == std::string::npos ? line : line.substr(at + 9);
  }

  std::string refusal(const std::vector<transcoder_attribute_t>& attributes) {
    capture_log_t log(2);
    host_context_t host(log.context);
    std::string const message = create_error([&] {
      plugin_.create(host, frames(), video_description_t{}, transcoder_config_t{"jpg", attributes});
    });
    EXPECT_TRUE(log.starting_with("video_encoder_jpg_avcodec: width=").empty())
        << "an encoder was configured before the options were refused";
    return message;
  }

  video_encoder_plugin_t plugin_{module_path("video_encoder_jpg_avcodec")};
};

TEST_F(jpeg_module, encodes_every_picture_as_one_jpeg_sample) {
  capture_log_t log(0);
  host_context_t host(log.context);
  auto encoder = plugin_.create(host, frames(3), video_description_t{fraction_t<unsigned, unsigned>{4, 3}},
                                transcoder_config_t{"jpg", {}});
  EXPECT_EQ(encoder->trak().width, 64u);
  unsigned samples = 0;
  while (auto sample = encoder->read_sample()) {
    std::vector<uint8_t> const bytes = buckets_to_vector(sample->data());
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 0xff);
    EXPECT_EQ(bytes[1], 0xd8) << "JPEG start of image";
    EXPECT_EQ(sample->duration(), 40u);
    ++samples;
  }
  EXPECT_EQ(samples, 3u);
}

TEST_F(jpeg_module, quality_reaches_the_encoder) {
  EXPECT_EQ(configured_quality({}), "30");
  EXPECT_EQ(configured_quality({{"quality", "75"}}), "75");
  EXPECT_EQ(configured_quality({{"quality", "50"}, {"quality", "80"}}), "80");
  EXPECT_EQ(configured_quality({{"quality", "0"}}), "0");
}

TEST_F(jpeg_module, only_the_exact_name_quality_is_known) {
  EXPECT_EQ(refusal({{"Quality", "75"}}), unknown("jpg", "Quality"));
  EXPECT_EQ(refusal({{"quality ", "75"}}), unknown("jpg", "quality "));
  EXPECT_EQ(refusal({{"quality", "80"}, {"size", "1"}}), unknown("jpg", "size"));
}

TEST_F(jpeg_module, unparsable_quality_is_the_readers_error) {
  std::string const message = refusal({{"quality", "-1"}});
  EXPECT_EQ(message.rfind("jpg: ", 0), 0u) << message;
  EXPECT_NE(message.find("'quality'"), std::string::npos) << message;
  EXPECT_NE(message.find("'-1'"), std::string::npos) << message;
}

TEST_F(jpeg_module, quality_above100_passes_the_reader_and_fails_in_the_encoder) {
  capture_log_t log(0);
  host_context_t host(log.context);
  try {
    plugin_.create(host, frames(), video_description_t{}, transcoder_config_t{"jpg", {{"quality", "101"}}});
    FAIL() << "quality 101 was accepted";
  } catch (const vantor::exception& e) {
    EXPECT_TRUE(e.is_assertion()) << e.what();
    EXPECT_EQ(e.expression(), "quality <= 100");
  }
  // The factory is unchanged by the failure.
  auto encoder = plugin_.create(host, frames(), video_description_t{},
                                transcoder_config_t{"jpg", {{"quality", "100"}}});
  EXPECT_TRUE(encoder->read_sample().has_value());
}

}  // namespace
