#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "outputs/dash_image_set.hpp"
#include "outputs/hls_image_playlist.hpp"
#include "outputs/picture_writers.hpp"
#include "outputs/thumbnail_track.hpp"
#include "support/tool_runner.hpp"

// The text of the DASH and HLS thumbnail tracks on small tracks worked out
// by hand, and what adding one does to the manifests Debian's ffmpeg writes
// (tests/data/streaming).
namespace {

namespace fs = std::filesystem;
using namespace vantor::outputs;

std::string const streaming_data = std::string(VANTOR_TEST_DATA_DIR) + "/streaming";

// Three 2x2 sheets of 160x90 tiles, one tile a second, over 10.6 s: the
// last sheet covers 2.6 s.
thumbnail_track_t every_second_track() {
  thumbnail_track_t track;
  track.columns = 2;
  track.rows = 2;
  track.tile_width = 160;
  track.tile_height = 90;
  track.grid.tile_numerator = 1'000'000;
  track.sheet_bytes = {1000, 3000, 500};
  track.length = 10'600'000;
  return track;
}

sheet_files_t const sheets{"/streams/thumb sheets", sheet_file_pattern};

pugi::xml_document parsed(const std::string& text) {
  pugi::xml_document document;
  pugi::xml_parse_result const result = document.load_string(text.c_str());
  EXPECT_TRUE(result) << result.description() << "\n" << text;
  return document;
}

// The message of the output_error_t that `call` throws.
template <typename call_t>
std::string output_error_of(call_t&& call) {
  try {
    call();
  } catch (const output_error_t& e) {
    return e.what();
  }
  return "no error";
}

// Every node as text, blanks between elements left out: what a reader of
// the document sees.
std::string content_of(pugi::xml_node node) {
  std::ostringstream text;
  node.print(text, "", pugi::format_raw);
  return text.str();
}

TEST(hls_image_playlist, tags_every_sheet_and_ends_with_the_video) {
  thumbnail_track_t const track = every_second_track();
  EXPECT_EQ(hls_image_playlist(track, sheets, "/streams/index/images.m3u8"),
            "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-TARGETDURATION:4\n#EXT-X-PLAYLIST-TYPE:VOD\n#EXT-X-IMAGES-ONLY\n"
            "#EXTINF:4.000,\n#EXT-X-TILES:RESOLUTION=160x90,LAYOUT=2x2,DURATION=1.000\n"
            "../thumb%20sheets/sheet-0001.jpg\n"
            "#EXTINF:4.000,\n#EXT-X-TILES:RESOLUTION=160x90,LAYOUT=2x2,DURATION=1.000\n"
            "../thumb%20sheets/sheet-0002.jpg\n"
            "#EXTINF:2.600,\n#EXT-X-TILES:RESOLUTION=160x90,LAYOUT=2x2,DURATION=1.000\n"
            "../thumb%20sheets/sheet-0003.jpg\n"
            "#EXT-X-ENDLIST\n");
  // The largest sheet, 3000 bytes, over its 4 s.
  EXPECT_EQ(track.bandwidth(), 6000u);
}

TEST(hls_image_playlist, count_tiles_are_exact_fractions_of_the_length) {
  // --count 3 over 10 s on 2x1 sheets: tiles of 10/3 s, marks in their middle.
  thumbnail_track_t track = every_second_track();
  track.columns = 2;
  track.rows = 1;
  track.grid = {0, 10'000'000, 3, true};
  track.sheet_bytes = {100, 100};
  track.length = 10'000'000;
  EXPECT_EQ(track.grid.mark(0), 1'666'666);
  EXPECT_EQ(track.grid.mark(2), 8'333'333);
  std::string const playlist = hls_image_playlist(track, {"/s", picture_file_pattern}, "/s/i.m3u8");
  EXPECT_NE(playlist.find("#EXT-X-TARGETDURATION:7\n"), std::string::npos) << playlist;
  EXPECT_NE(playlist.find("#EXTINF:6.666667,\n#EXT-X-TILES:RESOLUTION=160x90,LAYOUT=2x1,DURATION=3.333333\n"
                          "000001.jpg\n#EXTINF:3.333333,\n"),
            std::string::npos)
      << playlist;
  // DASH says the sheet's 20/3 s exactly.
  pugi::xml_document const mpd = parsed(dash_thumbnails_mpd(track, {"/s", picture_file_pattern}, "/s/t.mpd"));
  pugi::xml_node const segments = mpd.select_node("/MPD/Period/AdaptationSet/SegmentTemplate").node();
  EXPECT_STREQ(segments.attribute("duration").value(), "20");
  EXPECT_STREQ(segments.attribute("timescale").value(), "3");
  EXPECT_STREQ(segments.attribute("media").value(), "$Number%06d$.jpg");
}

TEST(dash_thumbnails_mpd, tiles_on_the_representation_and_the_whole_sheet_as_its_size) {
  pugi::xml_document const mpd =
      parsed(dash_thumbnails_mpd(every_second_track(), sheets, "/streams/index/thumbs.mpd"));
  EXPECT_STREQ(mpd.child("MPD").attribute("mediaPresentationDuration").value(), "PT10.600S");
  pugi::xml_node const set = mpd.select_node("/MPD/Period/AdaptationSet[@contentType='image']").node();
  EXPECT_STREQ(set.attribute("mimeType").value(), "image/jpeg");
  // On the adaptation set, shaka-player drops the track.
  EXPECT_FALSE(set.child("EssentialProperty"));
  pugi::xml_node const segments = set.child("SegmentTemplate");
  EXPECT_STREQ(segments.attribute("media").value(), "../thumb%20sheets/sheet-$Number%04d$.jpg");
  EXPECT_STREQ(segments.attribute("duration").value(), "4");
  EXPECT_STREQ(segments.attribute("timescale").value(), "1");
  EXPECT_STREQ(segments.attribute("startNumber").value(), "1");
  pugi::xml_node const representation = set.child("Representation");
  EXPECT_STREQ(representation.attribute("width").value(), "320");
  EXPECT_STREQ(representation.attribute("height").value(), "180");
  EXPECT_STREQ(representation.attribute("bandwidth").value(), "6000");
  pugi::xml_node const tiles = representation.child("EssentialProperty");
  EXPECT_STREQ(tiles.attribute("schemeIdUri").value(), "http://dashif.org/thumbnail_tile");
  EXPECT_STREQ(tiles.attribute("value").value(), "2x2");
}

// The MPD of Debian's ffmpeg with the image adaptation set written as
// `mpd`, the video's MPD read from `video_mpd`.
std::string added(const fs::path& video_mpd, const fs::path& mpd, const std::string& text) {
  return dash_video_mpd_t(text, video_mpd).with_thumbnails(every_second_track(), sheets, mpd);
}

TEST(dash_video_mpd, the_image_set_joins_the_period_and_the_rest_stays_as_it_was) {
  std::string const original = vantor::testing::read_file(streaming_data + "/video.mpd");
  std::string const text = added("/streams/dash/video.mpd", "/streams/dash/thumbs.mpd", original);
  // Lined up with the video's adaptation set, in the file's own tabs.
  EXPECT_NE(text.find("</AdaptationSet>\n\t\t<AdaptationSet id=\"1\" contentType=\"image\""), std::string::npos)
      << text;
  EXPECT_NE(text.find("\n\t\t\t\t<EssentialProperty "), std::string::npos) << text;

  pugi::xml_document const before = parsed(original);
  pugi::xml_document after = parsed(text);
  pugi::xml_node const image = after.select_node("/MPD/Period/AdaptationSet[@contentType='image']").node();
  EXPECT_STREQ(image.child("SegmentTemplate").attribute("media").value(),
               "../thumb%20sheets/sheet-$Number%04d$.jpg");
  EXPECT_STREQ(image.child("Representation").attribute("id").value(), "thumbnails");
  EXPECT_FALSE(after.select_node("/MPD/BaseURL")) << "the MPD did not move";
  after.child("MPD").child("Period").remove_child(image);
  EXPECT_EQ(content_of(after), content_of(before));
}

TEST(dash_video_mpd, written_elsewhere_the_videos_urls_still_resolve) {
  std::string const original = vantor::testing::read_file(streaming_data + "/video.mpd");
  std::string const text = added("/streams/dash/video.mpd", "/streams/with thumbs/t.mpd", original);
  EXPECT_NE(text.find("</ProgramInformation>\n\t<BaseURL>../dash/</BaseURL>\n\t<ServiceDescription"),
            std::string::npos)
      << text;
  pugi::xml_document const moved = parsed(text);
  // After ProgramInformation, before everything else, as the schema orders it.
  pugi::xml_node const base = moved.child("MPD").child("BaseURL");
  EXPECT_STREQ(base.text().get(), "../dash/");
  EXPECT_STREQ(base.previous_sibling("ProgramInformation").name(), "ProgramInformation");
  // The sheets resolve from ../dash/ now.
  EXPECT_STREQ(moved.select_node("//AdaptationSet[@contentType='image']/SegmentTemplate").node()
                   .attribute("media").value(),
               "../thumb%20sheets/sheet-$Number%04d$.jpg");

  // A relative BaseURL of the MPD moves with it; the sheets resolve from there.
  std::string with_base = original;
  with_base.replace(with_base.find("\t<Period"), 0, "\t<BaseURL>media%20files/</BaseURL>\n");
  pugi::xml_document const rebased = parsed(added("/streams/dash/video.mpd", "/streams/t.mpd", with_base));
  EXPECT_STREQ(rebased.child("MPD").child("BaseURL").text().get(), "dash/media%20files/");
  EXPECT_STREQ(rebased.select_node("//AdaptationSet[@contentType='image']/SegmentTemplate").node()
                   .attribute("media").value(),
               "../../thumb%20sheets/sheet-$Number%04d$.jpg");
}

TEST(dash_video_mpd, refuses_what_a_thumbnail_track_cannot_join) {
  std::string const original = vantor::testing::read_file(streaming_data + "/video.mpd");
  auto const refusal = [&](const std::string& text) {
    return output_error_of([&] { dash_video_mpd_t const video(text, "v.mpd"); });
  };
  auto const edited = [&](const std::string& from, const std::string& to) {
    std::string text = original;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  EXPECT_EQ(refusal("<MPD><Period>"), "v.mpd: is not XML: Start-end tags mismatch at byte 12");
  EXPECT_EQ(refusal("<html/>"), "v.mpd: is not an MPD (its root element is not MPD)");
  EXPECT_EQ(refusal(edited("type=\"static\"", "type=\"dynamic\"")),
            "v.mpd: is a live (dynamic) presentation; a thumbnail track joins a static one");
  EXPECT_EQ(refusal(edited("</MPD>", "<Period/></MPD>")),
            "v.mpd: has 2 periods; a thumbnail track joins a presentation of one period");
  EXPECT_EQ(refusal(edited("<AdaptationSet", "<SegmentTemplate media=\"x\"/><AdaptationSet")),
            "v.mpd: its Period sets a SegmentTemplate for every adaptation set, which the thumbnail track "
            "would inherit");
  EXPECT_EQ(refusal(edited("<Period", "<BaseURL>http://cdn.test/v/</BaseURL><Period")),
            "v.mpd: its BaseURL http://cdn.test/v/ is absolute; the thumbnails' paths, relative to the "
            "manifest, cannot resolve against it");
}

TEST(hls_master_playlist, the_copy_beside_it_lists_the_image_playlist) {
  std::string const original = vantor::testing::read_file(streaming_data + "/master.m3u8");
  EXPECT_EQ(hls_master_playlist_t::copy_path("/streams/hls/master.m3u8"), "/streams/hls/master-thumbs.m3u8");
  hls_master_playlist_t const master(original, "/streams/hls/master.m3u8");
  // RESOLUTION is one tile's, BANDWIDTH the largest sheet's over its time.
  EXPECT_EQ(master.with_image_stream(every_second_track(), "/streams/thumb sheets/images.m3u8"),
            original +
                "#EXT-X-IMAGE-STREAM-INF:BANDWIDTH=6000,RESOLUTION=160x90,CODECS=\"jpeg\","
                "URI=\"../thumb%20sheets/images.m3u8\"\n");
  // A file of CR LF lines, the last one open, gets one more.
  hls_master_playlist_t const windows("#EXTM3U\r\n#EXT-X-STREAM-INF:BANDWIDTH=1\r\nv.m3u8", "m.m3u8");
  EXPECT_EQ(windows.with_image_stream(every_second_track(), "i.m3u8"),
            "#EXTM3U\r\n#EXT-X-STREAM-INF:BANDWIDTH=1\r\nv.m3u8\r\n#EXT-X-IMAGE-STREAM-INF:BANDWIDTH=6000,"
            "RESOLUTION=160x90,CODECS=\"jpeg\",URI=\"i.m3u8\"\r\n");

  EXPECT_EQ(output_error_of([] { hls_master_playlist_t("#EXTM3U\n#EXTINF:2,\nv0.m4s\n", "video.m3u8"); }),
            "video.m3u8: is a media playlist (it has #EXTINF); the image stream goes into the master playlist "
            "that lists it");
  EXPECT_EQ(output_error_of([] { hls_master_playlist_t("<MPD/>", "x.m3u8"); }),
            "x.m3u8: is not an HLS playlist (it does not start with #EXTM3U)");
}

}  // namespace
