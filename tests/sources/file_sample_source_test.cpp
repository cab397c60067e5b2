#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "buckets.hpp"
#include "exception.hpp"
#include "sources/file_sample_source.hpp"
#include "support/clip_table.hpp"
#include "transcode/annexb.hpp"

namespace vantor::sources {
namespace {

namespace fs = std::filesystem;


using testing::clip_t;

// The presentation times ffmpeg's decoder gave the frames (framemd5 column 2).
std::vector<int64_t> reference_pts(const std::string& clip_name) {
  std::string const stem = clip_name.substr(0, clip_name.rfind('.'));
  std::ifstream in(testing::clip_path(stem + ".framemd5"));
  std::vector<int64_t> pts;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::stringstream row(line);
    std::string stream, dts, value;
    std::getline(row, stream, ',');
    std::getline(row, dts, ',');
    std::getline(row, value, ',');
    pts.push_back(std::stoll(value));
  }
  return pts;
}

struct read_result_t {
  uint64_t samples = 0;
  uint64_t duration_sum = 0;
  uint64_t sync_samples = 0;
  std::vector<int64_t> pts;  // dts + composition offset of every sample
  std::vector<std::vector<uint8_t>> first_payloads;
};

read_result_t read_all(sources::file_sample_source_t& source) {
  read_result_t result;
  uint64_t dts = source.first_dts();
  while (std::optional<full_sample_t> sample = source.read_sample()) {
    ++result.samples;
    result.duration_sum += sample->duration();
    result.sync_samples += sample->is_sync_sample() ? 1 : 0;
    result.pts.push_back(static_cast<int64_t>(dts) + sample->composition_offset());
    if (result.first_payloads.size() < 3) result.first_payloads.push_back(buckets_to_vector(sample->data()));
    dts += sample->duration();
  }
  return result;
}

class file_sample_source : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }

  void SetUp() override {
    clips_ = testing::read_clip_table();
    if (clips_.empty()) GTEST_SKIP() << "no clips in " << testing::clip_path("clips.tsv");
    scratch_ = fs::temp_directory_path() /
               ("file_sample_source_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(scratch_);
  }
  void TearDown() override {
    std::error_code ignored;
    if (!scratch_.empty()) fs::remove_all(scratch_, ignored);
  }

  const clip_t& clip(const std::string& name) const {
    auto it = std::find_if(clips_.begin(), clips_.end(), [&](const clip_t& c) { return c.name == name; });
    if (it == clips_.end()) throw std::runtime_error("no clip " + name);
    return *it;
  }

  // A copy of a clip cut to `fraction` of its bytes.
  std::string truncated_copy(const std::string& name, double fraction) const {
    std::string const path = (scratch_ / ("cut_" + name)).string();
    fs::copy_file(testing::clip_path(name), path, fs::copy_options::overwrite_existing);
    fs::resize_file(path, static_cast<uintmax_t>(static_cast<double>(fs::file_size(path)) * fraction));
    return path;
  }

  std::vector<clip_t> clips_;
  fs::path scratch_;
};

std::string open_error(const std::string& path, vantor_result expected_code) {
  try {
    sources::file_sample_source_t::open(path);
    return "no exception";
  } catch (const exception& error) {
    EXPECT_EQ(error.result(), expected_code) << error.what();
    EXPECT_FALSE(error.is_assertion());
    return error.what();
  }
}

// The number of samples delivered before a fault, and its message.
struct read_failure_t {
  uint64_t delivered = 0;
  std::string message = "no exception";
};

TEST_F(file_sample_source, track_and_samples_match_the_reference_of_every_clip) {
  for (const clip_t& c : clips_) {
    SCOPED_TRACE(c.name);
    auto source = sources::file_sample_source_t::open(testing::clip_path(c.name));
    const trak_t& trak = source->trak();
    EXPECT_EQ(trak.codec, c.codec == "hevc" ? codec_t::hevc : codec_t::avc);
    EXPECT_EQ(trak.width, c.width);
    EXPECT_EQ(trak.height, c.height);
    EXPECT_EQ(trak.media_timescale, c.timescale);
    EXPECT_EQ(source->first_dts(), 0u);
    EXPECT_EQ(source->stream_info().pixel_format_name, c.pix_fmt);
    if (c.container == "annexb") {
      EXPECT_TRUE(trak.decoder_config.empty());
    } else {
      ASSERT_FALSE(trak.decoder_config.empty());
      EXPECT_EQ(trak.decoder_config[0], 1);
      EXPECT_EQ(trak.duration, c.duration_ticks);
    }
    if (c.container == "mp4") {
      EXPECT_EQ(source->stream_info().frame_count, c.frames);
    }

    read_result_t const result = read_all(*source);
    EXPECT_EQ(result.samples, c.frames);
    EXPECT_EQ(result.duration_sum, c.duration_ticks);
    EXPECT_EQ(result.sync_samples, std::stoull(c.notes.at("sync_samples")));
    EXPECT_FALSE(source->read_sample());
  }
}

// Presentation times (decode cursor + composition offset) are checked
// against the pts ffmpeg's own decoder gave each frame, up to the shift that
// makes the first decode time 0.
TEST_F(file_sample_source, presentation_times_match_the_reference_decoder) {
  for (const clip_t& c : clips_) {
    std::vector<int64_t> reference = reference_pts(c.name);
    if (reference.empty()) continue;  // no raw reference (4:2:2)
    SCOPED_TRACE(c.name);
    auto source = sources::file_sample_source_t::open(testing::clip_path(c.name));
    std::vector<int64_t> ours = read_all(*source).pts;
    std::sort(ours.begin(), ours.end());
    std::sort(reference.begin(), reference.end());
    ASSERT_EQ(ours.size(), reference.size());
    int64_t const shift = ours.front() - reference.front();
    for (size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(ours[i] - shift, reference[i]) << i;
    std::string const first_dts = c.notes.at("first_dts");
    if (first_dts != "N/A") {
      EXPECT_EQ(shift, -std::stoll(first_dts));
    }
  }
}

TEST_F(file_sample_source, b_frame_clip_has_reordering_offsets) {
  auto source = sources::file_sample_source_t::open(testing::clip_path("h264_high_bframes.mp4"));
  std::vector<int32_t> offsets;
  while (std::optional<full_sample_t> sample = source->read_sample()) {
    offsets.push_back(sample->composition_offset());
  }
  ASSERT_GE(offsets.size(), 6u);
  // I P B B b ... with b-pyramid, 512 ticks per frame, dts shifted by 2 frames.
  EXPECT_EQ(std::vector<int32_t>(offsets.begin(), offsets.begin() + 6),
            (std::vector<int32_t>{1024, 2560, 1024, 0, 512, 2560}));
}

TEST_F(file_sample_source, matroska_decode_times_before_the_reorder_delay_are_derived) {
  auto source = sources::file_sample_source_t::open(testing::clip_path("h264_mkv.mkv"));
  EXPECT_EQ(source->stream_info().frame_count, 0u);
  std::optional<full_sample_t> first = source->read_sample();
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->is_sync_sample());
  EXPECT_EQ(first->duration(), 40u);
  // The first picture has pts 0 and sits two frames after its decode time.
  EXPECT_EQ(first->composition_offset(), 80);
}

TEST_F(file_sample_source, payloads_keep_their_form_of_nal_units) {
  auto mp4 = sources::file_sample_source_t::open(testing::clip_path("hevc_main_bframes.mp4"));
  read_result_t const samples = read_all(*mp4);
  ASSERT_FALSE(samples.first_payloads.empty());
  const std::vector<uint8_t>& first = samples.first_payloads[0];
  ASSERT_GE(first.size(), 4u);
  uint32_t const length = (uint32_t{first[0]} << 24) | (first[1] << 16) | (first[2] << 8) | first[3];
  EXPECT_LE(length + 4, first.size()) << "MP4 samples hold length-prefixed NAL units";

  auto raw = sources::file_sample_source_t::open(testing::clip_path("h264_annexb.h264"));
  read_result_t const raw_samples = read_all(*raw);
  ASSERT_FALSE(raw_samples.first_payloads.empty());
  const std::vector<uint8_t>& annexb = raw_samples.first_payloads[0];
  ASSERT_GE(annexb.size(), 4u);
  EXPECT_TRUE((annexb[0] == 0 && annexb[1] == 0 && annexb[2] == 1) ||
              (annexb[0] == 0 && annexb[1] == 0 && annexb[2] == 0 && annexb[3] == 1));
}

// A raw stream with B-frames: made here from the MP4 clip's samples, which
// also shows that libavformat reads our Annex B conversion as H.264.
TEST_F(file_sample_source, raw_stream_with_reordering_is_refused_with_the_way_out) {
  for (std::string name : {"h264_high_bframes.mp4", "hevc_main_bframes.mp4"}) {
    bool const hevc = name.rfind("hevc", 0) == 0;
    auto source = sources::file_sample_source_t::open(testing::clip_path(name));
    video::annexb_converter_t const converter(hevc ? video::nal_family_t::hevc : video::nal_family_t::avc,
                                              source->trak().decoder_config);
    std::vector<uint8_t> stream;
    uint64_t number = 0;
    while (std::optional<full_sample_t> sample = source->read_sample()) {
      std::vector<uint8_t> const bytes = buckets_to_vector(sample->data());
      converter.convert(bytes.data(), bytes.size(), number == 0 || sample->is_sync_sample(), number, stream);
      ++number;
    }
    std::string const path = (scratch_ / (hevc ? "raw.hevc" : "raw.h264")).string();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()),
                                                static_cast<std::streamsize>(stream.size()));
    EXPECT_EQ(open_error(path, vantor_result_check_failed),
              "file_sample_source: " + path + ": a raw " + (hevc ? "HEVC" : "H.264") +
                  " elementary stream with reordered pictures (B-frames) carries no timestamps; put "
                  "it in a container first, e.g. \"ffmpeg -i in." +
                  (hevc ? "hevc" : "h264") + " -c copy -use_editlist 0 out.mp4\"");
  }
}

TEST_F(file_sample_source, unreadable_files_name_the_file_and_the_cause) {
  std::string const missing = (scratch_ / "missing.mp4").string();
  EXPECT_EQ(open_error(missing, vantor_result_io_error),
            "file_sample_source: " + missing + ": cannot open the file: No such file or directory");

  std::string const garbage = (scratch_ / "garbage.mp4").string();
  std::ofstream(garbage) << std::string(600, 'x');
  EXPECT_EQ(open_error(garbage, vantor_result_io_error),
            "file_sample_source: " + garbage + ": cannot open the file: Invalid data found when processing input");
}

// Reference movies name the file that holds their samples in a data
// reference, as a URL or a QuickTime alias; libavformat would read the
// track from this file regardless, or skip it.
TEST_F(file_sample_source, samples_in_another_file_are_refused_at_open) {
  for (auto const& [name, other] : {std::pair{"corpus/external_url.mp4", "external_media.mp4"},
                                    std::pair{"corpus/external_alias.mov", "external_media.mov"}}) {
    std::string const path = testing::clip_path(name);
    EXPECT_EQ(open_error(path, vantor_result_check_failed),
              "file_sample_source: " + path + ": the video's samples are in another file (an external data "
                  "reference to \"" + other + "\"); only files that hold their own samples are read");
  }
}

TEST_F(file_sample_source, file_without_h264_or_hevc_video_is_refused) {
  std::string const mjpeg = testing::clip_path("corpus/other_codec_mjpeg.mkv");
  EXPECT_EQ(open_error(mjpeg, vantor_result_check_failed),
            "file_sample_source: " + mjpeg + ": no H.264 or HEVC video stream (streams: video mjpeg)");
  // A 1x1 BMP picture: a video to libavformat's image demuxers, which no
  // upload may reach: our FFmpeg has none, a system FFmpeg's is off the
  // whitelist.
  static const uint8_t bmp[] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0,
                                0,   0,   1,  0, 0, 0, 1, 0, 24, 0, 0, 0,  0, 0, 4, 0, 0, 0, 0, 0,
                                0,   0,   0,  0, 0, 0, 0, 0, 0,  0, 0, 0,  0, 0, 0, 0, 255, 0};
  std::string const path = (scratch_ / "picture.bmp").string();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bmp), sizeof bmp);
  try {
    sources::file_sample_source_t::open(path);
    ADD_FAILURE() << "a picture was opened as a video";
  } catch (const vantor::exception& error) {
    std::string const prefix = "file_sample_source: " + path + ": cannot open the file: ";
    std::string const message = error.what();
    EXPECT_TRUE(message == prefix + "Invalid data found when processing input" ||
                message == prefix + "it is none of the containers read here (" + supported_containers_text + ")")
        << message;
  }
}

// A damaged file ends the samples; the fault is kept for the caller to report
// once the pictures still in the decoder are out.
read_failure_t read_until_kept_fault(sources::file_sample_source_t& source, vantor_result expected_code) {
  read_failure_t failure;
  while (source.read_sample()) ++failure.delivered;
  std::shared_ptr<const sources::source_fault_t> const fault = source.fault();
  if (fault->error) {
    EXPECT_EQ(fault->error->result(), expected_code) << fault->error->what();
    failure.message = fault->error->what();
  }
  return failure;
}

TEST_F(file_sample_source, truncated_mp4_delivers_the_whole_samples_then_fails) {
  std::string const path = truncated_copy("h264_high_bframes.mp4", 0.6);
  auto source = sources::file_sample_source_t::open(path);
  EXPECT_FALSE(source->fault()->error);
  auto const [delivered, message] = read_until_kept_fault(*source, vantor_result_io_error);
  EXPECT_EQ(message, "file_sample_source: " + path + ": sample " + std::to_string(delivered) +
                         " is cut short or damaged (the file may be truncated)");
  EXPECT_GT(delivered, 10u);
  EXPECT_LT(delivered, clip("h264_high_bframes.mp4").frames);
  // The stream stays ended and the fault stays kept.
  EXPECT_FALSE(source->read_sample());
  EXPECT_EQ(source->fault()->error->what(), message);
}

TEST_F(file_sample_source, truncated_matroska_is_detected_by_its_duration) {
  std::string const path = truncated_copy("h264_mkv.mkv", 0.9);
  auto source = sources::file_sample_source_t::open(path);
  auto const [delivered, message] = read_until_kept_fault(*source, vantor_result_io_error);
  EXPECT_NE(message.find("file_sample_source: " + path + ": the file is truncated"),
            std::string::npos)
      << message;
  EXPECT_GT(delivered, 10u);
  EXPECT_LT(delivered, clip("h264_mkv.mkv").frames);
}

TEST_F(file_sample_source, mp4_cut_inside_its_header_fails_at_open) {
  std::string const path = truncated_copy("hevc_main_bframes.mp4", 0.05);
  std::string const message = open_error(path, vantor_result_io_error);
  EXPECT_EQ(message.rfind("file_sample_source: " + path + ": cannot open the file: ", 0), 0u) << message;
}

TEST_F(file_sample_source, stream_info_for_the_tool) {
  auto source = sources::file_sample_source_t::open(testing::clip_path("hevc_422.mp4"));
  const sources::file_stream_info_t& info = source->stream_info();
  EXPECT_EQ(info.pixel_format_name, "yuv422p");
  EXPECT_EQ(source->trak().duration, clip("hevc_422.mp4").duration_ticks);
  EXPECT_DOUBLE_EQ(info.duration_seconds, 5120.0 / 12800.0);
  EXPECT_EQ(info.container.rfind("mov", 0), 0u);
}

}  // namespace
}  // namespace vantor::sources
