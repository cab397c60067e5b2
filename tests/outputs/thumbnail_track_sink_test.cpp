#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "buckets.hpp"
#include "outputs/dash_thumbnails_sink.hpp"
#include "outputs/hls_thumbnails_sink.hpp"
#include "outputs/picture_writers.hpp"
#include "support/tool_runner.hpp"

// The streaming outputs as the sink list drives them: the sheets' sizes and
// times gathered sample by sample, the pictures held to the grid, the
// manifests written at finish and refused over earlier ones.
namespace {

namespace fs = std::filesystem;
using namespace vantor::outputs;
using vantor::testing::read_file;

vantor::full_sample_t sample_of(size_t bytes) {
  vantor::unique_buckets_ptr_t data = vantor::buckets_create();
  vantor::bucket_writer_t writer(*data, 64);
  std::vector<uint8_t> const payload(bytes, 0xff);
  writer.write(payload.data(), payload.data() + payload.size());
  return vantor::full_sample_t(40, 0, 1, vantor::sample_flags_t::make(vantor::sample_flags_t::sync_sample),
                               std::nullopt, std::move(data), vantor::buckets_create());
}

track_description_t description(uint32_t width, uint32_t height) {
  track_description_t track;
  track.trak = vantor::create_jpeg_trak(width, height, std::nullopt);
  track.trak.media_timescale = 1000;
  return track;
}

thumbnail_grid_t every_second() { return {0, 1'000'000, 1, false}; }

class thumbnail_track_sink : public ::testing::Test {
 protected:
  vantor::testing::scratch_folder_t scratch_{"vantor_thumbnail_sinks"};
  fs::path const& work_ = scratch_.path();
};

TEST_F(thumbnail_track_sink, a_tile_without_a_picture_of_its_own_stops_the_run) {
  dash_thumbnails_sink_t sink(work_ / "t.mpd", std::nullopt, {work_, picture_file_pattern}, every_second(), 1, 1,
                              false);
  sink.begin(description(64, 36));
  vantor::full_sample_t const picture = sample_of(10);
  sink.take({picture, 1, 0});
  sink.take({picture, 2, 1000});
  // The picture at 3 s was chosen for the mark at 2 s too: no picture is
  // the tile from 2 s to 3 s.
  try {
    sink.take({picture, 3, 3000});
    ADD_FAILURE() << "a picture off the grid was taken";
  } catch (const output_error_t& e) {
    EXPECT_EQ(std::string(e.what()),
              (work_ / "t.mpd").string() +
                  ": players show a thumbnail track on an even grid of 1.000 s tiles, and no picture was chosen "
                  "for the tile from 0:00:02.000 to 0:00:03.000 (the video has a gap there, its pictures lie "
                  "further apart than the tiles, or with --keyframes no keyframe falls in it); give a longer "
                  "--every or a smaller --count");
  }
  sink.abandon();
  EXPECT_FALSE(fs::exists(work_ / "t.mpd"));

  // A picture anywhere in its tile is on the grid.
  dash_thumbnails_sink_t late(work_ / "late.mpd", std::nullopt, {work_, picture_file_pattern}, every_second(), 1, 1,
                              false);
  late.begin(description(64, 36));
  EXPECT_NO_THROW(late.take({picture, 1, 999}));
  EXPECT_NO_THROW(late.take({picture, 2, 1999}));
}

TEST_F(thumbnail_track_sink, sheets_become_the_playlists_at_finish_and_are_not_overwritten) {
  // Seven pictures, one a second, on 2x2 sheets; the video ends at 6.5 s.
  std::vector<vantor::stages::sprite_compositor_t::tile_t> tiles;
  for (unsigned i = 0; i < 7; ++i) tiles.push_back({i / 4, i % 2, (i % 4) / 2, i * 1000ull});
  track_description_t track = description(64, 36);
  track.sheets = {32, 18, &tiles};
  fs::path const master = work_ / "hls" / "master.m3u8";
  fs::create_directories(master.parent_path());
  std::ofstream(master) << "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=90000\nvideo.m3u8\n";

  hls_thumbnails_sink_t sink(work_ / "images.m3u8", master, {work_ / "sheets", sheet_file_pattern}, every_second(),
                             2, 2, false);
  sink.begin(track);
  sink.take({sample_of(400), 1, 0});
  sink.take({sample_of(100), 2, 4000});
  sink.finish(6500);
  EXPECT_EQ(sink.summary(), (work_ / "images.m3u8").string() + ", " + (work_ / "hls/master-thumbs.m3u8").string());
  std::string const playlist = read_file(work_ / "images.m3u8");
  EXPECT_NE(playlist.find("#EXTINF:4.000,\n#EXT-X-TILES:RESOLUTION=32x18,LAYOUT=2x2,DURATION=1.000\n"
                          "sheets/sheet-0001.jpg\n#EXTINF:2.500,\n#EXT-X-TILES:RESOLUTION=32x18,LAYOUT=2x2,"
                          "DURATION=1.000\nsheets/sheet-0002.jpg\n#EXT-X-ENDLIST\n"),
            std::string::npos)
      << playlist;
  // 400 bytes over 4 s.
  EXPECT_EQ(read_file(work_ / "hls/master-thumbs.m3u8"),
            "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=90000\nvideo.m3u8\n"
            "#EXT-X-IMAGE-STREAM-INF:BANDWIDTH=800,RESOLUTION=32x18,CODECS=\"jpeg\",URI=\"../images.m3u8\"\n");

  for (const fs::path& existing : {work_ / "images.m3u8", work_ / "hls/master-thumbs.m3u8"}) {
    fs::path const playlist_path = existing == work_ / "images.m3u8" ? existing : work_ / "other.m3u8";
    try {
      hls_thumbnails_sink_t again(playlist_path, master, {work_ / "sheets", sheet_file_pattern}, every_second(), 2,
                                  2, false);
      ADD_FAILURE() << existing << " would be overwritten";
    } catch (const output_error_t& e) {
      EXPECT_EQ(std::string(e.what()), existing.string() + ": exists already; give --overwrite to replace it");
    }
  }
  hls_thumbnails_sink_t overwriting(work_ / "images.m3u8", master, {work_ / "sheets", sheet_file_pattern},
                                    every_second(), 2, 2, true);
}

}  // namespace
