#include "outputs/staged_file.hpp"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/tool_runner.hpp"

namespace {

namespace fs = std::filesystem;
using namespace vantor::outputs;
using vantor::testing::read_file;

// In a folder others may write to, a name planted ahead of a run must not
// redirect its bytes: temporary names cannot be guessed, creation never
// follows a link, and putting a file in place replaces a link there
// instead of writing through it.
TEST(staged_file, a_planted_link_never_receives_the_bytes) {
  vantor::testing::scratch_folder_t scratch{"vantor_staged"};
  fs::path const victim = scratch.path() / "victim";
  std::ofstream(victim) << "precious";
  fs::path const planted = scratch.path() / "planted";
  fs::create_symlink(victim, planted);

  EXPECT_EQ(create_exclusively(planted), -EEXIST);
  EXPECT_NE(staged_file_t::temporary_name_of(planted), staged_file_t::temporary_name_of(planted));

  fs::path const final_name = scratch.path() / "000001.jpg";
  fs::create_symlink(victim, final_name);
  {
    staged_file_t file(final_name);
    file.write("jpeg", 4);
    file.commit();
  }
  EXPECT_FALSE(fs::is_symlink(final_name));
  EXPECT_EQ(read_file(final_name), "jpeg");
  EXPECT_EQ(read_file(victim), "precious");
  for (const auto& entry : fs::directory_iterator(scratch.path()))
    EXPECT_EQ(entry.path().filename().string().find(".partial-"), std::string::npos) << entry.path();
}

std::vector<std::string> names_in(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  return names;
}

// A file being written has no name where the file system allows unnamed
// files, so a run killed outright leaves nothing in the folder; elsewhere
// one hidden temporary name, which a run that ends normally removes.
TEST(staged_file, a_run_killed_while_writing_leaves_no_name_behind) {
  vantor::testing::scratch_folder_t scratch{"vantor_unnamed"};
  int const probe = ::open(scratch.path().c_str(), O_TMPFILE | O_WRONLY, 0600);
  bool const unnamed = probe >= 0;
  if (probe >= 0) ::close(probe);
  fs::path const final_name = scratch.path() / "index.vtt";
  {
    staged_file_t file(final_name);
    file.write("WEBVTT\n", 7);
    std::vector<std::string> const names = names_in(scratch.path());
    if (unnamed) {
      EXPECT_TRUE(names.empty()) << names.front();
    } else {
      ASSERT_EQ(names.size(), 1u);
      EXPECT_EQ(names[0].rfind(".index.vtt.partial-", 0), 0u) << names[0];
    }
  }
  EXPECT_TRUE(names_in(scratch.path()).empty());

  pid_t const child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    staged_file_t file(final_name);
    file.write("WEBVTT\n", 7);
    ::raise(SIGKILL);  // as a service kills a runaway job: nothing is cleaned up
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  if (unnamed) {
    EXPECT_TRUE(names_in(scratch.path()).empty());
  }
  EXPECT_FALSE(fs::exists(final_name));
}

}  // namespace
