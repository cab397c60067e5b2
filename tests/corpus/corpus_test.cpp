#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/clip_table.hpp"
#include "support/md5.hpp"
#include "support/tool_runner.hpp"

// The tool on the real-world corpus, against what Debian's ffmpeg decodes
// from each file (tests/data/corpus/*.tsv, written by make_corpus.sh).
namespace {

namespace fs = std::filesystem;
using vantor::testing::read_file;
using vantor::testing::run_tool_in;

struct corpus_row_t {
  std::string table;
  std::string file;
  std::vector<std::string> arguments;
  int exit_status = 0;
  uint64_t frames = 0;
  std::string raw_md5;  // "-" where only the count is compared
  std::string notes;
};

fs::path corpus_dir() { return fs::path(VANTOR_TEST_DATA_DIR) / "corpus"; }

std::vector<corpus_row_t> read_corpus() {
  std::vector<fs::path> tables;
  for (const auto& entry : fs::directory_iterator(corpus_dir())) {
    if (entry.path().extension() == ".tsv") tables.push_back(entry.path());
  }
  std::sort(tables.begin(), tables.end());
  std::vector<corpus_row_t> rows;
  for (const fs::path& table : tables) {
    std::ifstream input(table);
    std::string line;
    std::getline(input, line);  // the header
    while (std::getline(input, line)) {
      if (line.empty()) continue;
      std::vector<std::string> const fields = vantor::testing::detail::split(line, '\t');
      if (fields.size() < 7) ADD_FAILURE() << table << ": a row with " << fields.size() << " fields";
      if (fields.size() < 7) continue;
      corpus_row_t row;
      row.table = table.stem().string();
      row.file = fields[0];
      if (fields[1] != "-") {
        std::istringstream words(fields[1]);
        for (std::string word; words >> word;) row.arguments.push_back(word);
      }
      row.exit_status = std::stoi(fields[2]);
      row.frames = std::stoull(fields[4]);
      row.raw_md5 = fields[5];
      row.notes = fields[6];
      rows.push_back(row);
    }
  }
  return rows;
}

class corpus : public ::testing::Test {
 protected:

  std::vector<std::string> command_for(const corpus_row_t& row, std::vector<std::string> output) const {
    std::vector<std::string> arguments{(corpus_dir() / row.file).string()};
    arguments.insert(arguments.end(), output.begin(), output.end());
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    return arguments;
  }

  vantor::testing::scratch_folder_t scratch_{"vantor_corpus"};
  fs::path const& work_ = scratch_.path();
};

// Every picture, bit-exact and upright, and nothing else: raw planes as
// ffmpeg writes them, the same count as JPEGs, and the exit status a damaged
// file deserves after its decodable pictures are out.
TEST_F(corpus, the_tool_gives_the_pictures_ffmpeg_decodes) {
  std::vector<corpus_row_t> const rows = read_corpus();
  ASSERT_FALSE(rows.empty());
  for (const corpus_row_t& row : rows) {
    SCOPED_TRACE(row.table + ": " + row.file + " (" + row.notes + ")");
    fs::remove_all(work_ / "jpegs");
    fs::remove(work_ / "raw.yuv");
    auto const raw = run_tool_in(work_, command_for(row, {"--raw", "raw.yuv"}));
    EXPECT_EQ(raw.status, row.exit_status) << raw.err;
    std::string const planes = read_file(work_ / "raw.yuv");
    if (row.raw_md5 != "-") {
      EXPECT_EQ(vantor::testing::md5_t::of(planes), row.raw_md5);
    }

    auto const jpegs = run_tool_in(work_, command_for(row, {"-o", "jpegs"}));
    EXPECT_EQ(jpegs.status, row.exit_status) << jpegs.err;
    uint64_t files = 0;
    if (fs::is_directory(work_ / "jpegs")) {
      for (const auto& entry : fs::directory_iterator(work_ / "jpegs")) files += entry.path().extension() == ".jpg";
    }
    EXPECT_EQ(files, row.frames);
  }
}

}  // namespace
