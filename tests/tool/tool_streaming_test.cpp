#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/tool_runner.hpp"

// The DASH and HLS thumbnail tracks the tool adds to the manifests of
// Debian's ffmpeg (tests/data/streaming), read as a player reads them: each
// tile's time gives a sheet and a place on it, which must be the sheet and
// tile the WebVTT index gives the picture chosen for that time (the sprite
// test checks those pictures against ffmpeg's). tests/players runs real
// players on the same kind of output.
namespace {

namespace fs = std::filesystem;
using vantor::testing::read_file;

std::string const clip = std::string(VANTOR_TEST_DATA_DIR) + "/corpus/choice_h264_bframes.mp4";  // 12 s
fs::path const streaming_data = fs::path(VANTOR_TEST_DATA_DIR) / "streaming";

struct cue_t {
  uint64_t start_ms = 0;
  fs::path file;
  unsigned x = 0, y = 0;
};

std::string percent_decoded(const std::string& url) {
  std::string text;
  for (size_t i = 0; i < url.size(); ++i) {
    if (url[i] == '%' && i + 2 < url.size()) {
      text += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      text += url[i];
    }
  }
  return text;
}

// The file a relative URL names from `folder`.
fs::path resolved(const fs::path& folder, const std::string& url) {
  return fs::weakly_canonical(folder / percent_decoded(url));
}

std::vector<cue_t> read_cues(const fs::path& vtt) {
  std::istringstream in(read_file(vtt));
  std::vector<cue_t> cues;
  std::string line;
  while (std::getline(in, line)) {
    unsigned h = 0, m = 0, s = 0, ms = 0;
    if (std::sscanf(line.c_str(), "%u:%u:%u.%u --> ", &h, &m, &s, &ms) != 4) continue;
    cue_t cue;
    cue.start_ms = ((h * 60ull + m) * 60 + s) * 1000 + ms;
    std::getline(in, line);
    size_t const hash = line.find("#xywh=");
    cue.file = resolved(vtt.parent_path(), line.substr(0, hash));
    EXPECT_EQ(std::sscanf(line.c_str() + hash + 6, "%u,%u", &cue.x, &cue.y), 2) << line;
    cues.push_back(cue);
  }
  return cues;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class tool_streaming : public ::testing::Test {
 protected:
  vantor::testing::scratch_folder_t scratch_{"vantor_streaming"};
  fs::path const& work_ = scratch_.path();
};

TEST_F(tool_streaming, choices_off_an_even_grid_are_refused_naming_one_that_fits) {
  struct refusal_t {
    std::vector<std::string> arguments;
    std::string message;
  };
  std::vector<refusal_t> const refusals = {
      {{"--dash", "t.mpd", "--keyframes"},
       "--dash lays the thumbnails on an even grid of time, and --keyframes alone takes keyframes wherever they "
       "fall; give --every D (with --keyframes, the first keyframe after each mark) or --count N as well"},
      {{"--hls", "t.m3u8"},
       "--hls lays the thumbnails on an even grid of time, which every picture fits only at a constant frame "
       "rate; give --every D (--every 40ms takes every picture of a 25 fps video) or --count N"},
      {{"--dash", "t.mpd", "--every", "1s", "--end", "5s"},
       "--dash covers the whole video from its first picture, as players show it; give no --start or --end"},
      {{"--dash-into", "v.mpd", "--every", "1s"},
       "--dash-into VIDEO.mpd is copied, with the thumbnail track added, to the file of --dash FILE.mpd; give "
       "--dash as well"},
      {{"--hls", "i.m3u8", "--hls-into", "", "--every", "1s"}, "--hls-into needs a file name"},
      {{"--hls", "t.m3u8", "--count", "3", "--raw", "-"}, "--hls goes with JPEG output, not with --raw"},
  };
  for (const refusal_t& refusal : refusals) {
    std::vector<std::string> arguments = refusal.arguments;
    arguments.insert(arguments.begin(), clip);
    auto const result = vantor::testing::run_tool_in(work_, arguments);
    EXPECT_EQ(result.status, 2) << refusal.message;
    EXPECT_EQ(result.err, "vantor-transcode: " + refusal.message +
                              "\nTry 'vantor-transcode --help' for more information.\n");
  }
  EXPECT_FALSE(fs::exists(work_ / "out")) << "nothing is decoded for a refused choice";
}

TEST_F(tool_streaming, every_tile_of_both_manifests_is_its_vtt_cues_sheet_and_place) {
  fs::create_directories(work_ / "hls");
  fs::copy_file(streaming_data / "master.m3u8", work_ / "hls/master.m3u8");
  fs::create_directories(work_ / "with thumbs");
  auto const result = vantor::testing::run_tool_in(
      work_, {clip, "--every", "2s", "--size", "64x36", "--sprite", "2x2", "-o", "sheet files", "--vtt", "t.vtt",
              "--dash", "with thumbs/video.mpd", "--dash-into", (streaming_data / "video.mpd").string(), "--hls",
              "images.m3u8", "--hls-into", "hls/master.m3u8"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("-> sheet files/sheet-0001.jpg ... sheet files/sheet-0002.jpg, t.vtt, with "
                            "thumbs/video.mpd, images.m3u8, hls/master-thumbs.m3u8"),
            std::string::npos)
      << result.out;
  // Six pictures, one per 2 s tile, on two sheets: the second covers 4 s.
  std::vector<cue_t> const cues = read_cues(work_ / "t.vtt");
  ASSERT_EQ(cues.size(), 6u);
  uint64_t const sheet_bytes[2] = {fs::file_size(work_ / "sheet files/sheet-0001.jpg"),
                                   fs::file_size(work_ / "sheet files/sheet-0002.jpg")};
  // The largest sheet in bits over its 8 or 4 s.
  uint64_t const bandwidth = sheet_bytes[0] >= sheet_bytes[1] ? sheet_bytes[0] : sheet_bytes[1] * 2;

  // DASH: the video's adaptation set stays, its segments found from here.
  pugi::xml_document mpd;
  ASSERT_TRUE(mpd.load_file((work_ / "with thumbs/video.mpd").c_str()));
  fs::path const base = resolved(work_ / "with thumbs", mpd.child("MPD").child_value("BaseURL"));
  EXPECT_EQ(base, fs::weakly_canonical(streaming_data)) << "the video's relative URLs resolve as before";
  pugi::xml_node const video = mpd.select_node("//AdaptationSet[@contentType='video']").node();
  EXPECT_STREQ(video.child("Representation").child("SegmentTemplate").attribute("media").value(),
               "chunk-stream$RepresentationID$-$Number%05d$.m4s");
  pugi::xml_node const image = mpd.select_node("//AdaptationSet[@contentType='image']").node();
  pugi::xml_node const segments = image.child("SegmentTemplate");
  EXPECT_EQ(segments.attribute("duration").as_uint() * 1000 / segments.attribute("timescale").as_uint(), 8000u);
  pugi::xml_node const representation = image.child("Representation");
  EXPECT_EQ(representation.attribute("width").as_uint(), 128u);
  EXPECT_EQ(representation.attribute("height").as_uint(), 72u);
  EXPECT_EQ(representation.attribute("bandwidth").as_ullong(), bandwidth);
  EXPECT_STREQ(representation.child("EssentialProperty").attribute("value").value(), "2x2");
  std::string const media = segments.attribute("media").value();
  size_t const number = media.find("$Number%04d$");
  ASSERT_NE(number, std::string::npos) << media;
  for (size_t i = 0; i < cues.size(); ++i) {
    SCOPED_TRACE("tile " + std::to_string(i));
    EXPECT_GE(cues[i].start_ms, i * 2000);
    EXPECT_LT(cues[i].start_ms, (i + 1) * 2000);
    char sheet[24];
    std::snprintf(sheet, sizeof sheet, "%04zu", i / 4 + segments.attribute("startNumber").as_uint());
    std::string url = media;
    url.replace(number, 12, sheet);
    EXPECT_EQ(resolved(base, url), cues[i].file);
    EXPECT_EQ(cues[i].x, i % 2 * 64);
    EXPECT_EQ(cues[i].y, i % 4 / 2 * 36);
  }

  // HLS: every sheet has its time and tiles, and together they last 12 s.
  std::vector<std::string> const playlist = lines_of(read_file(work_ / "images.m3u8"));
  double seconds = 0;
  std::vector<fs::path> files;
  for (size_t k = 0; k < playlist.size(); ++k) {
    if (playlist[k].empty() || playlist[k][0] == '#') continue;
    ASSERT_GE(k, 2u);
    EXPECT_EQ(playlist[k - 1], "#EXT-X-TILES:RESOLUTION=64x36,LAYOUT=2x2,DURATION=2.000");
    ASSERT_EQ(playlist[k - 2].rfind("#EXTINF:", 0), 0u) << playlist[k - 2];
    seconds += std::stod(playlist[k - 2].substr(8));
    files.push_back(resolved(work_, playlist[k]));
  }
  EXPECT_DOUBLE_EQ(seconds, 12.0);
  EXPECT_EQ(files, (std::vector<fs::path>{cues[0].file, cues[4].file}));
  std::vector<std::string> const master = lines_of(read_file(work_ / "hls/master-thumbs.m3u8"));
  EXPECT_EQ(master.back(), "#EXT-X-IMAGE-STREAM-INF:BANDWIDTH=" + std::to_string(bandwidth) +
                               ",RESOLUTION=64x36,CODECS=\"jpeg\",URI=\"../images.m3u8\"");
  EXPECT_EQ(read_file(work_ / "hls/master.m3u8"), read_file(streaming_data / "master.m3u8"));
}

TEST_F(tool_streaming, marks_closer_than_the_pictures_stop_the_run_before_any_manifest) {
  // Pictures every 40 ms: the one at 40 ms is taken for the mark at 20 ms.
  auto const result = vantor::testing::run_tool_in(work_, {clip, "--every", "20ms", "--size", "64x36", "--dash",
                                                           "t.mpd", "--hls", "t.m3u8"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("vantor-transcode: t.mpd: players show a thumbnail track on an even grid of 0.020 s "
                            "tiles, and no picture was chosen for the tile from 0:00:00.020 to 0:00:00.040"),
            std::string::npos)
      << result.err;
  EXPECT_FALSE(fs::exists(work_ / "t.mpd"));
  EXPECT_FALSE(fs::exists(work_ / "t.m3u8"));
}

}  // namespace
