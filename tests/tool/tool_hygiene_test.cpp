#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
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

// The tool started in `folder` with its log on a pipe the test reads, and
// standard output in stdout.txt there.
struct running_tool_t {
  pid_t pid = -1;
  int log = -1;  // the read end of the tool's standard error
};

running_tool_t start_tool_in(const fs::path& folder, const std::vector<std::string>& arguments) {
  std::string command = "exec " + vantor::testing::tool_command();
  for (const std::string& argument : arguments) command += " " + vantor::testing::shell_quoted(argument);
  command += " </dev/null >stdout.txt";
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return {};
  // A small pipe fills after a few lines, so that a tool whose log is not
  // read stops where it is rather than finish the run.
  fcntl(ends[1], F_SETPIPE_SZ, 4096);
  pid_t const pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0 || dup2(ends[1], STDERR_FILENO) < 0) _exit(127);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ends[1]);
  return {pid, ends[0]};
}

// Reads what is on the pipe now, waiting at most `timeout_ms`; false at its end.
bool read_some(int fd, std::string& into, int timeout_ms) {
  pollfd waiting{fd, POLLIN, 0};
  if (poll(&waiting, 1, timeout_ms) <= 0) return true;
  char buffer[4096];
  ssize_t const got = read(fd, buffer, sizeof buffer);
  if (got > 0) into.append(buffer, static_cast<size_t>(got));
  return got > 0;
}

// Ctrl-C from outside, as a person gives it: once the first picture is
// written, the log is no longer read, so the tool stalls on it within a few
// pictures; SIGINT arrives before the run could end.
TEST(tool_hygiene, ctrl_c_stops_at_a_picture_and_finishes_every_file) {
  vantor::testing::scratch_folder_t scratch{"vantor_hygiene"};
  running_tool_t const tool =
      start_tool_in(scratch.path(), {clip(), "--every", "1s", "--log-level", "4", "-o", "out", "--vtt",
                                     "i.vtt", "--mp4", "t.mp4"});
  ASSERT_GT(tool.pid, 0);
  std::string log;
  bool open = true;
  // Bounded, so that a tool that never writes fails the test instead of hanging it.
  auto const give_up = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  bool first = false;
  while (open && !(first = fs::exists(scratch.path() / "out/000001.jpg")) &&
         std::chrono::steady_clock::now() < give_up) {
    open = read_some(tool.log, log, 1);
  }
  kill(tool.pid, SIGINT);
  EXPECT_TRUE(first) << "no picture before the run ended: " << log;
  while (read_some(tool.log, log, 1000)) {
  }
  close(tool.log);
  int status = 0;
  ASSERT_EQ(waitpid(tool.pid, &status, 0), tool.pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130) << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);

  size_t const written = names_in(scratch.path() / "out").size();
  EXPECT_GE(written, 1u);
  EXPECT_LT(written, 12u) << "the whole run went through";
  EXPECT_NE(log.find("vantor-transcode: interrupted: " + std::to_string(written) + " pictures"),
            std::string::npos);
  EXPECT_TRUE(vantor::testing::read_file(scratch.path() / "stdout.txt").empty()) << "stdout is for data";
  expect_whole_jpegs(scratch.path() / "out");
  expect_whole_jpegs(scratch.path());
  // One cue per picture written, the last pointing at the last file.
  std::string const index = vantor::testing::read_file(scratch.path() / "i.vtt");
  EXPECT_EQ(index.rfind("WEBVTT\n", 0), 0u);
  size_t cues = 0;
  for (size_t at = index.find(" --> "); at != std::string::npos; at = index.find(" --> ", at + 1)) ++cues;
  EXPECT_EQ(cues, written) << index;
  char last[32];
  std::snprintf(last, sizeof last, "out/%06zu.jpg\n", written);
  EXPECT_NE(index.find(last), std::string::npos) << index;
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
