#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/tool_runner.hpp"

// What the tool says of an input it cannot read: the cause in the input,
// not a failure further down the chain.
namespace {

using vantor::testing::run_tool_in;

TEST(tool_input, a_reference_movie_is_refused_for_what_it_is) {
  vantor::testing::scratch_folder_t scratch{"vantor_input"};
  std::string const path = std::string(VANTOR_TEST_DATA_DIR) + "/corpus/external_url.mp4";
  auto const result = run_tool_in(scratch.path(), {path, "-o", "out"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("vantor-transcode: " + path +
                            ": the video's samples are in another file (an external data reference to "
                            "\"external_media.mp4\"); only files that hold their own samples are read\n"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(result.err.find("MJPEG"), std::string::npos) << result.err;
}

}  // namespace

namespace {

namespace fs = std::filesystem;

std::string hostile(const std::string& name) { return std::string(VANTOR_TEST_DATA_DIR) + "/hostile/" + name; }

// Crafted uploads (tests/data/hostile/make_hostile.py) fail alone, with a
// message that names the cause; nothing of them is decoded.
TEST(tool_input, crafted_headers_are_refused_before_decoding) {
  vantor::testing::scratch_folder_t scratch{"vantor_hostile"};
  struct case_t {
    const char* file;
    const char* cause;
  };
  for (case_t const c : {case_t{"h264_sps_8192.h264", "the video's pictures are 8192x8192 (67108864 pixels), "
                                                      "more than the 35389440 allowed"},
                         case_t{"h264_sps_16000.h264", "16000x16000 (256000000 pixels)"},
                         case_t{"hevc_sps_8192.hevc", "8192x8192 (67108864 pixels)"},
                         case_t{"mp4_stsz_85M.mp4", "the index claims 85000000 samples, more than a file of 14904 bytes"}}) {
    SCOPED_TRACE(c.file);
    auto const result = run_tool_in(scratch.path(), {hostile(c.file), "--size", "320x180", "--threads", "2", "-o", c.file});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind("vantor-transcode: " + hostile(c.file) + ": ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find(c.cause), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(scratch.path() / c.file / "000001.jpg"));
  }
  // A user who wants such pictures says so.
  auto const allowed = run_tool_in(scratch.path(), {hostile("h264_sps_8192.h264"), "--max-pixels", "67108864",
                                                    "--size", "64x64", "--count", "1", "--end", "0.1", "-o", "big"});
  EXPECT_EQ(allowed.err.find("allowed"), std::string::npos) << allowed.err;
}

// A fragment whose decode time jumps by 4e9 s: the pictures before the jump
// are written, then the run ends at once naming the sample, instead of the
// picker stepping through the gap's marks.
TEST(tool_input, a_clock_jump_ends_the_run_after_the_pictures_before_it) {
  vantor::testing::scratch_folder_t scratch{"vantor_jump"};
  auto const result = run_tool_in(scratch.path(), {hostile("mp4_tfdt_jump.mp4"), "--every", "10s", "--size",
                                                   "320x180", "-o", "out"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find(": sample 29: duration 51200000001024 does not fit in 32 bits"), std::string::npos)
      << result.err;
  EXPECT_TRUE(fs::exists(scratch.path() / "out" / "000001.jpg"));
  EXPECT_FALSE(fs::exists(scratch.path() / "out" / "000002.jpg"));
}

// A name is a file: "pipe:0" reads no inherited descriptor, and a name with
// a colon is no protocol.
TEST(tool_input, names_are_files_whatever_they_look_like) {
  vantor::testing::scratch_folder_t scratch{"vantor_names"};
  fs::copy_file(std::string(VANTOR_TEST_DATA_DIR) + "/h264_annexb.h264", scratch.path() / "clip:1.h264");
  auto const colon = run_tool_in(scratch.path(), {"clip:1.h264", "-o", "colon"});
  EXPECT_EQ(colon.status, 0) << colon.err;
  EXPECT_TRUE(fs::exists(scratch.path() / "colon" / "000010.jpg"));

  auto const pipe = run_tool_in(scratch.path(), {"pipe:0", "-o", "pipe"});
  EXPECT_EQ(pipe.status, 1);
  EXPECT_NE(pipe.err.find("pipe:0: cannot open the file: No such file or directory"), std::string::npos) << pipe.err;
}

// --timeout ends a run between two samples with its files complete, and
// fails it with a message; every picture written before is a whole JPEG.
TEST(tool_input, a_timeout_stops_the_run_with_its_files_finished) {
  vantor::testing::scratch_folder_t scratch{"vantor_timeout"};
  std::string const clip = std::string(VANTOR_TEST_DATA_DIR) + "/h264_high_bframes.mp4";
  auto const result = run_tool_in(scratch.path(), {clip, "--timeout", "1ms", "-o", "out"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("vantor-transcode: " + clip + ": stopped at --timeout 0:00:00.001 after "),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("the files written are complete"), std::string::npos) << result.err;
  for (const auto& entry : fs::directory_iterator(scratch.path() / "out")) {
    std::string const bytes = vantor::testing::read_file(entry.path());
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\xff\xd9") << entry.path();
  }
}

}  // namespace
