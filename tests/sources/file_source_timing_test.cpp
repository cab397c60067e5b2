#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "exception.hpp"
#include "sources/file_sample_source.hpp"
#include "support/paths.hpp"

namespace vantor::sources {
namespace {

// A row of tests/data/corpus/timing.tsv: what Debian's ffmpeg decodes from
// a clip, and the first and last picture time ffprobe reports.
struct timing_row_t {
  std::string file;
  int exit_status = 0;
  uint64_t frames = 0;
  std::optional<int64_t> first_pts;
  std::optional<int64_t> last_pts;
};

std::optional<int64_t> note_value(const std::string& notes, const std::string& key) {
  size_t const at = notes.find(key + "=");
  if (at == std::string::npos) return std::nullopt;
  return std::stoll(notes.substr(at + key.size() + 1));
}

std::vector<timing_row_t> read_timing_table() {
  std::ifstream table(testing::clip_path("corpus/timing.tsv"));
  std::vector<timing_row_t> rows;
  std::string line;
  std::getline(table, line);  // the header
  while (std::getline(table, line)) {
    std::vector<std::string> fields;
    std::istringstream columns(line);
    for (std::string field; std::getline(columns, field, '\t');) fields.push_back(field);
    if (fields.size() < 7) continue;
    timing_row_t row;
    row.file = fields[0];
    row.exit_status = std::stoi(fields[2]);
    row.frames = std::stoull(fields[4]);
    row.first_pts = note_value(fields[6], "first_pts");
    row.last_pts = note_value(fields[6], "last_pts");
    rows.push_back(row);
  }
  return rows;
}

// The samples a presentation window keeps, by time: what the source says
// is shown, in the container's time when it has a presentation timeline.
struct shown_samples_t {
  uint64_t count = 0;
  std::vector<int64_t> times;
};

shown_samples_t shown_samples(sources::file_sample_source_t& source) {
  shown_samples_t shown;
  uint64_t dts = source.first_dts();
  auto const start = static_cast<int64_t>(source.presentation_start());
  while (std::optional<full_sample_t> sample = source.read_sample()) {
    int64_t const pts = static_cast<int64_t>(dts) + sample->composition_offset();
    dts += sample->duration();
    if (pts < start) continue;
    ++shown.count;
    shown.times.push_back(pts - start);
  }
  return shown;
}

class file_source_timing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }
  void SetUp() override {
    rows_ = read_timing_table();
    if (rows_.empty()) GTEST_SKIP() << "no rows in " << testing::clip_path("corpus/timing.tsv");
  }
  std::vector<timing_row_t> rows_;
};

TEST_F(file_source_timing, shown_samples_and_their_times_match_ffprobe) {
  for (const timing_row_t& row : rows_) {
    SCOPED_TRACE(row.file);
    std::string const path = testing::clip_path("corpus/" + row.file);
    if (row.frames == 0) {
      try {
        sources::file_sample_source_t::open(path);
        ADD_FAILURE() << "a file without pictures opened";
      } catch (const exception& e) {
        EXPECT_EQ(std::string(e.what()), "file_sample_source: " + path +
                                             ": the file has no video samples (an "
                                             "initialization segment alone?)");
      }
      continue;
    }
    auto source = sources::file_sample_source_t::open(path);
    std::string const container = source->stream_info().container;
    shown_samples_t const shown = shown_samples(*source);
    EXPECT_EQ(shown.count, row.frames);
    ASSERT_FALSE(shown.times.empty());
    ASSERT_TRUE(row.first_pts && row.last_pts);
    int64_t const first = *std::min_element(shown.times.begin(), shown.times.end());
    int64_t const last = *std::max_element(shown.times.begin(), shown.times.end());
    if (container.rfind("mov", 0) == 0 || container.rfind("matroska", 0) == 0) {
      // On the edited timeline: the times the container gives.
      EXPECT_EQ(first, *row.first_pts);
      EXPECT_EQ(last, *row.last_pts);
    } else {
      // MPEG-TS and FLV times may start anywhere (or wrap); the spans agree.
      EXPECT_EQ(last - first, *row.last_pts - *row.first_pts);
    }
    // Damaged files end their samples and keep the fault for afterwards.
    std::shared_ptr<const sources::source_fault_t> const fault = source->fault();
    EXPECT_EQ(fault->error.has_value(), row.exit_status != 0);
    if (fault->error) {
      EXPECT_EQ(fault->error->result(), vantor_result_io_error);
      EXPECT_NE(std::string(fault->error->what()).find("truncated"), std::string::npos)
          << fault->error->what();
    }
    EXPECT_FALSE(source->read_sample()) << "the samples stay ended";
  }
}

TEST_F(file_source_timing, edit_list_of_two_edits_is_refused) {
  auto source = sources::file_sample_source_t::open(testing::clip_path("corpus/timing_two_edits.mp4"));
  std::string message = "no exception";
  try {
    while (source->read_sample()) {
    }
  } catch (const exception& e) {
    EXPECT_EQ(e.result(), vantor_result_check_failed);
    message = e.what();
  }
  std::string const suffix = ": an edit list of several edits is not supported";
  ASSERT_GE(message.size(), suffix.size()) << message;
  EXPECT_EQ(message.substr(message.size() - suffix.size()), suffix) << message;
}

TEST_F(file_source_timing, unsupported_containers_are_named_with_the_supported_ones) {
  struct case_t {
    const char* name;
    std::string bytes;
    const char* container;
  };
  std::string const padding(200, '\x55');
  std::vector<case_t> const cases = {
      {"clip.avi", std::string("RIFF\x10\0\0\0AVI LIST", 16) + padding, "AVI"},
      {"clip.mpg", std::string("\0\0\x01\xba\x44\0\x04\0\x04\x01", 10) + padding, "MPEG program stream"},
      {"clip.ogv", "OggS" + padding, "Ogg"},
      {"clip.wmv",
       std::string("\x30\x26\xb2\x75\x8e\x66\xcf\x11\xa6\xd9\x00\xaa\x00\x62\xce\x6c", 16) + padding,
       "ASF (WMV)"},
  };
  for (const case_t& c : cases) {
    std::string const path = ::testing::TempDir() + c.name;
    std::ofstream(path, std::ios::binary) << c.bytes;
    try {
      sources::file_sample_source_t::open(path);
      ADD_FAILURE() << c.name << " opened";
    } catch (const exception& e) {
      EXPECT_EQ(std::string(e.what()), "file_sample_source: " + path + ": the " + c.container +
                                           " container is not supported (supported: " +
                                           sources::supported_containers_text + ")");
    }
    std::remove(path.c_str());
  }
}

}  // namespace
}  // namespace vantor::sources
