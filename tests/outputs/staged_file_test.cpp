#include "outputs/staged_file.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

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

}  // namespace
