// Eight decoder -> resize -> JPEG chains at once, all made through the same
// four factory objects (each module loaded once), each with its own log
// context at level 4. Every chain must give the bytes and the log that it
// gives when it runs alone: a race in a shared factory, in the log bridge
// or in FFmpeg's global state shows up as a difference (and, under
// ThreadSanitizer, as a report).

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "buckets.hpp"
#include "plugin.hpp"
#include "plugin_loader.hpp"
#include "support/capture_log.hpp"
#include "support/jpeg_decode.hpp"
#include "sources/file_sample_source.hpp"
#include "support/clip_table.hpp"

namespace vantor::testing {
namespace {

// One chain: a clip, its decoder and a distinct output size, so that every
// size-bearing line can belong to one chain only.
struct chain_spec_t {
  const char* clip;
  bool hevc;
  uint32_t width, height;
  const char* quality;
};

const chain_spec_t chains[] = {
    {"h264_high_bframes.mp4", false, 160, 120, "30"},
    {"h264_mkv.mkv", false, 96, 54, "50"},
    {"hevc_main_bframes.mp4", true, 128, 72, "30"},
    {"hevc_main10.mp4", true, 80, 60, "75"},
    {"h264_fullrange.mp4", false, 112, 84, "30"},
    {"h264_size_change.mp4", false, 144, 108, "90"},
    {"h264_annexb.h264", false, 88, 72, "10"},
    {"h264_high_bframes.mp4", false, 64, 48, "100"},
};
constexpr size_t chain_count = sizeof chains / sizeof chains[0];
static_assert(chain_count == 8, "eight threads");

struct modules_t {
  video_decoder_plugin_t avc{module_path("video_decoder_avc_avcodec")};
  video_decoder_plugin_t hvc{module_path("video_decoder_hvc_avcodec")};
  video_filter_resize_plugin_t resize{module_path("video_filter_resize_swscale")};
  video_encoder_plugin_t jpg{module_path("video_encoder_jpg_avcodec")};
};

struct chain_result_t {
  std::vector<std::vector<uint8_t>> jpegs;
  std::vector<captured_line_t> lines;
  std::string error;  // what() of an exception, if the chain threw
};

// Addresses differ from run to run; everything else in a line must not.
std::string without_addresses(const std::string& text) {
  static const std::regex address("0x[0-9a-f]+");
  return std::regex_replace(text, address, "0x?");
}

chain_result_t run_chain(const modules_t& modules, const chain_spec_t& spec) {
  chain_result_t result;
  capture_log_t log(vantor_log_trace);
  try {
    host_context_t context(log.context);
    std::unique_ptr<video::frame_source_t> decoder =
        (spec.hevc ? modules.hvc : modules.avc)
            .create(context, vantor::sources::open_file_sample_source(clip_path(spec.clip)),
                    transcoder_config_t{spec.hevc ? "video_decoder_hvc_avcodec" : "video_decoder_avc_avcodec", {}});
    std::unique_ptr<video::frame_source_t> filter = modules.resize.create(
        context, std::move(decoder), spec.width, spec.height, 0, 0, 0, 0,
        transcoder_config_t{"video_filter_resize_swscale", {}});
    std::unique_ptr<sample_source_t> encoder =
        modules.jpg.create(context, std::move(filter), video_description_t{},
                           transcoder_config_t{"video_encoder_jpg_avcodec", {{"quality", spec.quality}}});
    while (std::optional<full_sample_t> sample = encoder->read_sample())
      result.jpegs.push_back(buckets_to_vector(sample->data()));
  } catch (const std::exception& e) {
    result.error = e.what();
  }
  result.lines = std::move(log.lines);
  for (captured_line_t& line : result.lines) line.text = without_addresses(line.text);
  return result;
}

// Holds the threads until all of them are ready, so that the chains overlap.
class start_gate_t {
 public:
  explicit start_gate_t(size_t count) : waiting_(count) {}
  void arrive_and_wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (--waiting_ == 0) {
      cv_.notify_all();
      return;
    }
    cv_.wait(lock, [this] { return waiting_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  size_t waiting_;
};

class concurrent_chains : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    modules_ = new modules_t;
    for (const chain_spec_t& spec : chains) alone_.push_back(run_chain(*modules_, spec));

    together_.resize(chain_count);
    start_gate_t gate(chain_count);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < chain_count; ++i) {
      threads.emplace_back([i, &gate] {
        gate.arrive_and_wait();
        together_[i] = run_chain(*modules_, chains[i]);
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  static void TearDownTestSuite() {
    alone_.clear();
    together_.clear();
    delete modules_;
    modules_ = nullptr;
  }

  static modules_t* modules_;
  static std::vector<chain_result_t> alone_;
  static std::vector<chain_result_t> together_;
};

modules_t* concurrent_chains::modules_ = nullptr;
std::vector<chain_result_t> concurrent_chains::alone_;
std::vector<chain_result_t> concurrent_chains::together_;

TEST_F(concurrent_chains, every_chain_alone_gives_one_jpeg_per_frame_at_its_size) {
  for (size_t i = 0; i < chain_count; ++i) {
    SCOPED_TRACE(std::string(chains[i].clip) + " -> " + std::to_string(chains[i].width) + "x" +
                 std::to_string(chains[i].height));
    const chain_result_t& result = alone_[i];
    ASSERT_EQ(result.error, "");
    ASSERT_EQ(result.jpegs.size(), find_clip(chains[i].clip).frames);
    // An independent decoder reads the first and the last picture.
    for (const std::vector<uint8_t>* jpeg : {&result.jpegs.front(), &result.jpegs.back()}) {
      decoded_jpeg_t const decoded = decode_jpeg(*jpeg);
      EXPECT_EQ(decoded.width, static_cast<int>(chains[i].width));
      EXPECT_EQ(decoded.height, static_cast<int>(chains[i].height));
    }
  }
}

TEST_F(concurrent_chains, every_thread_gives_the_single_threaded_bytes) {
  for (size_t i = 0; i < chain_count; ++i) {
    SCOPED_TRACE(std::string("thread ") + std::to_string(i) + ": " + chains[i].clip);
    EXPECT_EQ(together_[i].error, alone_[i].error);
    ASSERT_EQ(together_[i].jpegs.size(), alone_[i].jpegs.size());
    for (size_t n = 0; n < alone_[i].jpegs.size(); ++n)
      EXPECT_TRUE(together_[i].jpegs[n] == alone_[i].jpegs[n]) << "JPEG " << n << " differs";
  }
}

TEST_F(concurrent_chains, every_message_lands_in_its_own_chains_log) {
  for (size_t i = 0; i < chain_count; ++i) {
    SCOPED_TRACE(std::string("thread ") + std::to_string(i) + ": " + chains[i].clip);
    const std::vector<captured_line_t>& alone = alone_[i].lines;
    const std::vector<captured_line_t>& together = together_[i].lines;

    // FFmpeg's own messages came through the bridge, and the chain's
    // resize filter names this chain's output size.
    auto size_text = [](const chain_spec_t& spec) {
      return "to [" + std::to_string(spec.width) + "," + std::to_string(spec.height) + "]";
    };
    size_t libavcodec_lines = 0;
    size_t own_size_lines = 0;
    for (const captured_line_t& line : alone) {
      libavcodec_lines += line.text.rfind("libavcodec: ", 0) == 0;
      own_size_lines += line.text.find(size_text(chains[i])) != std::string::npos;
    }
    EXPECT_GT(libavcodec_lines, 0u);
    EXPECT_GT(own_size_lines, 0u);

    // The same lines in the same order: one message of another chain, or
    // one of this chain's lost, and the logs differ.
    ASSERT_EQ(together.size(), alone.size());
    for (size_t n = 0; n < alone.size(); ++n) {
      EXPECT_EQ(together[n].level, alone[n].level) << "line " << n;
      ASSERT_EQ(together[n].text, alone[n].text) << "line " << n;
    }

    // No line names another chain's output size.
    for (size_t other = 0; other < chain_count; ++other) {
      if (other == i) continue;
      for (const captured_line_t& line : together)
        EXPECT_EQ(line.text.find(size_text(chains[other])), std::string::npos) << line.text;
    }
  }
}

}  // namespace
}  // namespace vantor::testing
