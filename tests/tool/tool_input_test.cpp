#include <gtest/gtest.h>

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
