#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/paths.hpp"

namespace vantor::testing {

struct tool_result_t {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline std::string shell_quoted(const std::string& text) {
  std::string result = "'";
  for (char const c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

// The tool as a shell command. A cross build runs it under the same emulator
// as its tests; the environment may name another wrapper (valgrind, for the
// leak checks).
inline std::string tool_command() {
  const char* wrapper = std::getenv("VANTOR_TEST_EMULATOR");
  if (wrapper == nullptr) wrapper = VANTOR_TEST_EMULATOR;
  return (*wrapper ? std::string(wrapper) + " " : std::string()) +
         shell_quoted(build_path("bin/vantor-transcode"));
}

// Runs `command` in `folder` with stdout and stderr caught in files there;
// stdin is the caller's to redirect.
inline tool_result_t run_shell_in(const std::filesystem::path& folder, const std::string& command) {
  std::string const line = "cd " + shell_quoted(folder.string()) + " && " + command +
                           " >stdout.txt 2>stderr.txt";
  int const status = std::system(line.c_str());
  tool_result_t result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = read_file(folder / "stdout.txt");
  result.err = read_file(folder / "stderr.txt");
  return result;
}

inline tool_result_t run_tool_in(const std::filesystem::path& folder,
                                 const std::vector<std::string>& arguments) {
  std::string command = tool_command();
  for (const std::string& argument : arguments) command += " " + shell_quoted(argument);
  return run_shell_in(folder, command + " </dev/null");
}

// A fresh folder under the test temp dir, named after the running test and
// the process, removed again with the object.
class scratch_folder_t {
 public:
  explicit scratch_folder_t(const std::string& prefix) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::path(::testing::TempDir()) /
            (prefix + "_" + (info ? info->name() : "") + "_" + std::to_string(getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~scratch_folder_t() { std::filesystem::remove_all(path_); }
  scratch_folder_t(const scratch_folder_t&) = delete;
  scratch_folder_t& operator=(const scratch_folder_t&) = delete;

  const std::filesystem::path& path() const noexcept { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace vantor::testing
