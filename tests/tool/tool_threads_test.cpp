#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/tool_runner.hpp"

// Cutting the stream into parts decoded on several threads must not change a
// single byte of the output, nor what a damaged file gives.
namespace {

namespace fs = std::filesystem;

std::string corpus_clip(const std::string& name) {
  return std::string(VANTOR_TEST_DATA_DIR) + "/corpus/" + name;
}

std::vector<std::string> folder_files(const fs::path& folder) {
  std::vector<std::string> contents;
  for (size_t i = 1; fs::exists(folder / (std::string(6 - std::to_string(i).size(), '0') + std::to_string(i) + ".jpg")); ++i) {
    contents.push_back(vantor::testing::read_file(
        folder / (std::string(6 - std::to_string(i).size(), '0') + std::to_string(i) + ".jpg")));
  }
  return contents;
}

TEST(tool_threads, parts_decoded_at_once_give_the_bytes_of_one_stream) {
  vantor::testing::scratch_folder_t scratch{"vantor_threads"};
  struct case_t {
    const char* clip;
    int status;
  };
  // Closed GOPs with B-frames, open GOPs whose leading pictures need the
  // part before, an edit list, and a file cut short.
  for (const case_t& c : {case_t{"choice_h264_bframes.mp4", 0}, case_t{"choice_hevc_open_gop.mp4", 0},
                          case_t{"choice_edit_list.mp4", 0}, case_t{"timing_cut_faststart.mp4", 1}}) {
    SCOPED_TRACE(c.clip);
    std::vector<std::vector<std::string>> outputs;
    std::vector<std::string> errors;
    for (const char* threads : {"1", "3"}) {
      fs::path const out = scratch.path() / (std::string(c.clip) + threads);
      auto const result = vantor::testing::run_tool_in(
          scratch.path(), {corpus_clip(c.clip), "--size", "96x54", "--threads", threads, "-o", out.string()});
      EXPECT_EQ(result.status, c.status) << result.err;
      // Warnings and errors must match; the summary line after them names the folder and the time.
      size_t const summary = result.status == 0 ? result.err.rfind("vantor-transcode: ") : std::string::npos;
      EXPECT_TRUE(result.status != 0 || summary != std::string::npos) << result.err;
      errors.push_back(result.err.substr(0, summary));
      outputs.push_back(folder_files(out));
    }
    ASSERT_GE(outputs[0].size(), 50u);
    EXPECT_EQ(outputs[1], outputs[0]);
    EXPECT_EQ(errors[1], errors[0]);
  }
}

}  // namespace
