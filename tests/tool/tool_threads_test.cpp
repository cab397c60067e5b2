#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "chunked_decode.hpp"
#include "sources/file_sample_source.hpp"
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

// Parts are read whole ahead of their decoders, so none may hold more than
// the bytes allowed, and parts still start at sync samples.
TEST(tool_threads, parts_are_bounded_by_their_bytes) {
  auto const file = vantor::sources::file_sample_source_t::open(corpus_clip("choice_h264_bframes.mp4"));
  std::vector<vantor::sources::file_sample_source_t::sync_sample_t> const syncs = file->sync_samples();
  ASSERT_GE(syncs.size(), 4u);
  // The runs add up to every sample's bytes.
  uint64_t read_bytes = 0;
  while (std::optional<vantor::full_sample_t> sample = file->read_sample()) read_bytes += vantor::buckets_size(sample->data());
  uint64_t index_bytes = 0;
  uint64_t largest_run = 0;
  for (const auto& sync : syncs) {
    index_bytes += sync.run_bytes;
    largest_run = std::max(largest_run, sync.run_bytes);
  }
  EXPECT_EQ(index_bytes, read_bytes);

  uint32_t const second = file->trak().media_timescale;
  std::vector<uint64_t> const by_time = vantor::tools::chunk_starts(*file, second);
  std::vector<uint64_t> const by_bytes = vantor::tools::chunk_starts(*file, 1000 * second, largest_run);
  ASSERT_GE(by_bytes.size(), 2u);
  EXPECT_EQ(by_bytes.front(), file->first_dts());
  for (size_t part = 0; part < by_bytes.size(); ++part) {
    uint64_t bytes = 0;
    bool starts_at_sync = false;
    for (const auto& sync : syncs) {
      starts_at_sync |= sync.decode_time == by_bytes[part];
      bool const inside = sync.decode_time >= by_bytes[part] &&
                          (part + 1 == by_bytes.size() || sync.decode_time < by_bytes[part + 1]);
      if (inside) bytes += sync.run_bytes;
    }
    EXPECT_TRUE(starts_at_sync) << by_bytes[part];
    EXPECT_LE(bytes, largest_run) << "part " << part;
  }
  EXPECT_GT(by_bytes.size(), vantor::tools::chunk_starts(*file, 1000 * second).size());
  EXPECT_GE(by_time.size(), 2u);
  // A run that no part can hold: the stream is decoded in one chain.
  EXPECT_TRUE(vantor::tools::chunk_starts(*file, second, largest_run - 1).empty());
}

}  // namespace
