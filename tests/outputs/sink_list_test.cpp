#include "outputs/sink_list.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "buckets.hpp"
#include "outputs/jpeg_files_sink.hpp"
#include "outputs/mp4_track_sink.hpp"
#include "outputs/picture_writers.hpp"
#include "outputs/webvtt_sink.hpp"
#include "support/tool_runner.hpp"

namespace {

namespace fs = std::filesystem;
using namespace vantor::outputs;
using vantor::testing::read_file;

// The sinks store samples as they are; no sink decodes them.
vantor::full_sample_t sample_of(const std::string& bytes, uint32_t duration) {
  vantor::unique_buckets_ptr_t data = vantor::buckets_create();
  vantor::bucket_writer_t writer(*data, 64);
  auto const* const begin = reinterpret_cast<const uint8_t*>(bytes.data());
  writer.write(begin, begin + bytes.size());
  return vantor::full_sample_t(duration, 0, 1, vantor::sample_flags_t::make(vantor::sample_flags_t::sync_sample),
                               std::nullopt, std::move(data), vantor::buckets_create());
}

vantor::trak_t track(uint32_t timescale) {
  vantor::trak_t trak = vantor::create_jpeg_trak(64, 48, std::nullopt);
  trak.media_timescale = timescale;
  return trak;
}

// Fails at its `fail_at`-th sample, as a full disk would.
class failing_sink_t final : public output_sink_t {
 public:
  explicit failing_sink_t(uint64_t fail_at, bool& abandoned) : fail_at_(fail_at), abandoned_(abandoned) {}
  void begin(const track_description_t&) override {}
  void take(const track_sample_t& sample) override {
    if (sample.number == fail_at_) throw output_error_t("disk full");
  }
  void finish(uint64_t) override {}
  void abandon() noexcept override { abandoned_ = true; }
  std::string summary() const override { return "failing"; }

 private:
  uint64_t fail_at_;
  bool& abandoned_;
};

// The MP4 sink's temporary files beside `final`: hidden, named at random.
size_t partial_files_of(const fs::path& final) {
  std::string const prefix = "." + final.filename().string() + ".partial-";
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator(final.parent_path()))
    count += entry.path().filename().string().rfind(prefix, 0) == 0;
  return count;
}

class sink_list : public ::testing::Test {
 protected:
  vantor::testing::scratch_folder_t scratch_{"vantor_sinks"};
  fs::path const& work_ = scratch_.path();
};

TEST_F(sink_list, every_output_gets_every_sample_with_its_number_and_time) {
  {
    track_description_t description;
    description.cue_origin = 900;  // an MPEG-TS clock that starts at 10 ms
    sink_list_t sinks(description);
    sinks.add(std::make_unique<jpeg_files_sink_t>(work_ / "pictures", picture_file_pattern, false));
    sinks.add(std::make_unique<webvtt_sink_t>(work_ / "index.vtt", work_ / "pictures", picture_file_pattern, false));
    sinks.add(std::make_unique<mp4_track_sink_t>(work_ / "track.mp4", false));
    uint64_t dts = 900;
    for (std::string const bytes : {"first", "second", "third"}) {
      sinks.take(track(90000), dts, sample_of(bytes, 3000));
      dts += 3000;
    }
    sinks.finish(dts);
    EXPECT_EQ(sinks.written(), 3u);
    EXPECT_EQ(sinks.summary(), (work_ / "pictures/000001.jpg").string() + " ... " +
                                   (work_ / "pictures/000003.jpg").string() + ", " +
                                   (work_ / "index.vtt").string() + ", " + (work_ / "track.mp4").string());
  }
  EXPECT_EQ(read_file(work_ / "pictures/000002.jpg"), "second");
  EXPECT_EQ(read_file(work_ / "index.vtt"),
            "WEBVTT\n\n00:00:00.000 --> 00:00:00.033\npictures/000001.jpg\n\n"
            "00:00:00.033 --> 00:00:00.067\npictures/000002.jpg\n\n"
            "00:00:00.067 --> 00:00:00.100\npictures/000003.jpg\n");
  EXPECT_GT(fs::file_size(work_ / "track.mp4"), 0u);
}

TEST_F(sink_list, a_failure_abandons_every_output_and_keeps_what_the_files_hold) {
  std::string const earlier = "an earlier run's track";
  {
    std::FILE* file = std::fopen((work_ / "track.mp4").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs(earlier.c_str(), file);
    std::fclose(file);
  }
  bool abandoned = false;
  uint64_t written = 0;
  try {
    sink_list_t sinks(track_description_t{});
    sinks.add(std::make_unique<jpeg_files_sink_t>(work_, picture_file_pattern, false));
    sinks.add(std::make_unique<mp4_track_sink_t>(work_ / "track.mp4", true));
    sinks.add(std::make_unique<webvtt_sink_t>(work_ / "index.vtt", work_, picture_file_pattern, false));
    sinks.add(std::make_unique<failing_sink_t>(2, abandoned));
    sinks.take(track(1000), 0, sample_of("one", 40));
    // The track is being written, not under its final name (nor, where the
    // file system allows, under any name).
    EXPECT_EQ(read_file(work_ / "track.mp4"), earlier);
    EXPECT_LE(partial_files_of(work_ / "track.mp4"), 1u);
    written = sinks.written();
    sinks.take(track(1000), 40, sample_of("two", 40));
    FAIL() << "the failing output did not throw";
  } catch (const output_error_t& error) {
    EXPECT_STREQ(error.what(), "disk full");
  }
  EXPECT_EQ(written, 1u);
  EXPECT_TRUE(abandoned);
  // The second file was written before the later output failed: it stays.
  EXPECT_EQ(read_file(work_ / "000002.jpg"), "two");
  EXPECT_EQ(read_file(work_ / "track.mp4"), earlier);
  EXPECT_EQ(partial_files_of(work_ / "track.mp4"), 0u);
  EXPECT_FALSE(fs::exists(work_ / "index.vtt"));
}

TEST_F(sink_list, sheet_cues_cover_the_written_sheets_until_the_end) {
  std::vector<vantor::stages::sprite_compositor_t::tile_t> const tiles = {
      {0, 0, 0, 0}, {0, 1, 0, 1000}, {1, 0, 0, 2000}, {2, 0, 0, 3000}};
  {
    sink_list_t sinks(track_description_t{});
    sinks.add(std::make_unique<jpeg_files_sink_t>(work_, sheet_file_pattern, false));
    sinks.add(std::make_unique<webvtt_sink_t>(work_ / "sheets.vtt", work_, sheet_file_pattern, false));
    sinks.describe_sheets({160, 90, &tiles});
    sinks.take(track(1000), 0, sample_of("sheet one", 2000));
    sinks.take(track(1000), 2000, sample_of("sheet two", 1000));
    // The third sheet never came (Ctrl-C): its tile gets no cue.
    sinks.finish(2500);
  }
  EXPECT_EQ(read_file(work_ / "sheets.vtt"),
            "WEBVTT\n\n00:00:00.000 --> 00:00:01.000\nsheet-0001.jpg#xywh=0,0,160,90\n\n"
            "00:00:01.000 --> 00:00:02.000\nsheet-0001.jpg#xywh=160,0,160,90\n\n"
            "00:00:02.000 --> 00:00:03.000\nsheet-0002.jpg#xywh=0,0,160,90\n");
}

}  // namespace
