#include <gtest/gtest.h>
#include <sys/mount.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/jpeg_decode.hpp"
#include "support/tool_runner.hpp"

// What a run leaves behind when it cannot finish: never a file cut short,
// never a silent mix with an earlier run.
namespace {

namespace fs = std::filesystem;
using vantor::testing::run_tool_in;

std::string clip() { return std::string(VANTOR_TEST_DATA_DIR) + "/corpus/choice_h264_bframes.mp4"; }

std::vector<std::string> names_in(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Every file is a whole JPEG that libjpeg-turbo decodes, and no temporary is left.
void expect_whole_jpegs(const fs::path& folder) {
  for (const std::string& name : names_in(folder)) {
    SCOPED_TRACE(name);
    EXPECT_EQ(name.find(".partial"), std::string::npos);
    if (fs::path(name).extension() != ".jpg") continue;
    std::string const bytes = vantor::testing::read_file(folder / name);
    EXPECT_NO_THROW(vantor::testing::decode_jpeg(std::vector<uint8_t>(bytes.begin(), bytes.end())));
  }
}

TEST(tool_hygiene, an_earlier_series_is_refused_unless_overwritten) {
  vantor::testing::scratch_folder_t scratch{"vantor_hygiene"};
  ASSERT_EQ(run_tool_in(scratch.path(), {clip(), "--every", "1s", "-o", "out", "--vtt", "i.vtt"}).status, 0);
  ASSERT_EQ(names_in(scratch.path() / "out").size(), 12u);

  auto const again = run_tool_in(scratch.path(), {clip(), "--every", "3s", "-o", "out"});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("out: holds 12 pictures of an earlier run (000001.jpg ... 000012.jpg); give "
                           "--overwrite to replace them"),
            std::string::npos)
      << again.err;
  auto const vtt = run_tool_in(scratch.path(), {clip(), "--every", "3s", "-o", "other", "--vtt", "i.vtt"});
  EXPECT_EQ(vtt.status, 1);
  EXPECT_NE(vtt.err.find("i.vtt: exists already; give --overwrite to replace it"), std::string::npos) << vtt.err;
  EXPECT_EQ(names_in(scratch.path() / "out").size(), 12u);

  // Fewer pictures now: none of the twelve is left behind.
  auto const replaced =
      run_tool_in(scratch.path(), {clip(), "--every", "3s", "-o", "out", "--vtt", "i.vtt", "--overwrite"});
  ASSERT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_EQ(names_in(scratch.path() / "out"),
            (std::vector<std::string>{"000001.jpg", "000002.jpg", "000003.jpg", "000004.jpg"}));
}

TEST(tool_hygiene, ctrl_c_stops_at_a_picture_and_finishes_every_file) {
  vantor::testing::scratch_folder_t scratch{"vantor_hygiene"};
  std::string command = "VANTOR_TRANSCODE_INTERRUPT_AFTER=5 " + vantor::testing::tool_command();
  for (const char* argument : {"--every", "1s", "-o", "out", "--vtt", "i.vtt", "--mp4", "t.mp4"}) {
    command += std::string(" ") + argument;
  }
  auto const result = vantor::testing::run_shell_in(scratch.path(), command + " " + clip() + " </dev/null");
  EXPECT_EQ(result.status, 130) << result.err;
  // The encoder has the next picture already (a sample lasts until the next
  // picture's time): that one is finished too, and nothing after it.
  size_t const written = names_in(scratch.path() / "out").size();
  EXPECT_TRUE(written == 5 || written == 6) << written;
  EXPECT_NE(result.err.find("interrupted: " + std::to_string(written) + " pictures"), std::string::npos)
      << result.err;
  expect_whole_jpegs(scratch.path() / "out");
  expect_whole_jpegs(scratch.path());
  std::string const index = vantor::testing::read_file(scratch.path() / "i.vtt");
  EXPECT_EQ(index.rfind("WEBVTT\n", 0), 0u);
  EXPECT_NE(index.find("00:00:04.000 --> 00:00:05.000\nout/000005.jpg\n"), std::string::npos) << index;
  EXPECT_EQ(index.find(written == 5 ? "000006.jpg" : "000007.jpg"), std::string::npos) << index;
  EXPECT_GT(fs::file_size(scratch.path() / "t.mp4"), 1000u);
}

// A name may hold any byte but '/' and NUL: messages show control
// characters escaped, so a newline cannot forge a line.
TEST(tool_hygiene, control_characters_in_names_are_escaped_in_messages) {
  vantor::testing::scratch_folder_t scratch{"vantor_hygiene"};
  auto const missing = run_tool_in(scratch.path(), {"gone\nvantor-transcode: 3 pictures\x1b[2J.mp4"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err.rfind("vantor-transcode: gone\\nvantor-transcode: 3 pictures\\x1b[2J.mp4: ", 0), 0u)
      << missing.err;
  EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1) << missing.err;

  auto const two = run_tool_in(scratch.path(), {"a\rb.mp4", "c\td.mp4"});
  EXPECT_EQ(two.status, 2);
  EXPECT_EQ(two.err,
            "vantor-transcode: only one input file can be given ('a\\rb.mp4' and 'c\\td.mp4')\n"
            "Try 'vantor-transcode --help' for more information.\n");

  auto const done = run_tool_in(scratch.path(), {clip(), "--every", "5s", "-o", "th\numbs"});
  ASSERT_EQ(done.status, 0) << done.err;
  EXPECT_TRUE(done.out.empty()) << done.out;
  EXPECT_NE(done.err.find("-> th\\numbs/000001.jpg ... th\\numbs/000003.jpg\n"), std::string::npos)
      << done.err;
  EXPECT_EQ(std::count(done.err.begin(), done.err.end(), '\n'), 1) << done.err;

  // Batch: the log lines of each chain name its input.
  fs::copy_file(clip(), scratch.path() / "clip\x1b[2J.mp4");
  std::ofstream(scratch.path() / "list.txt") << "clip\x1b[2J.mp4\n";
  auto const batch = run_tool_in(scratch.path(), {"--batch", "list.txt", "--log-level", "2", "-o", "b"});
  ASSERT_EQ(batch.status, 0) << batch.err;
  EXPECT_NE(batch.err.find("clip\\x1b[2J.mp4: "), std::string::npos) << batch.err;
  EXPECT_EQ(batch.err.find('\x1b'), std::string::npos) << batch.err;
  EXPECT_NE(batch.out.find(R"("path":"clip\u001b[2J.mp4")"), std::string::npos) << batch.out;
}

TEST(tool_hygiene, a_full_disk_leaves_whole_pictures_only) {
  vantor::testing::scratch_folder_t scratch{"vantor_hygiene"};
  fs::path const disk = scratch.path() / "disk";
  fs::create_directories(disk);
  // Room for a few of the 300 pictures and no more.
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=96k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << "); needs root";
  }
  struct unmount_t {
    fs::path path;
    ~unmount_t() { umount2(path.c_str(), MNT_DETACH); }
  } const unmount{disk};
  auto const result = run_tool_in(scratch.path(), {clip(), "--size", "128x72", "--quality", "90", "-o",
                                                   (disk / "out").string(), "--vtt", (disk / "i.vtt").string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("No space left on device"), std::string::npos) << result.err;
  size_t const written = names_in(disk / "out").size();
  EXPECT_GT(written, 2u);
  EXPECT_LT(written, 300u);
  expect_whole_jpegs(disk / "out");
  EXPECT_FALSE(fs::exists(disk / "i.vtt"));
  expect_whole_jpegs(disk);
}

}  // namespace
