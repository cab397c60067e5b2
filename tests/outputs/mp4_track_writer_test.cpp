#include "outputs/mp4_track_writer.hpp"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "buckets.hpp"
#include "outputs/picture_writers.hpp"
#include "support/tool_runner.hpp"
#include "trak.hpp"

namespace {

namespace fs = std::filesystem;
using vantor::testing::read_file;
using vantor::testing::shell_quoted;

// The FFmpeg programs of the build's FFmpeg, which judge what we wrote.
std::string reference_program(const std::string& name) {
  return "LD_LIBRARY_PATH=" + shell_quoted(VANTOR_REFERENCE_FFMPEG_LIB) + " " +
         shell_quoted(std::string(VANTOR_REFERENCE_FFMPEG_BIN) + "/" + name);
}

bool have_reference_programs() {
  std::string const bin = VANTOR_REFERENCE_FFMPEG_BIN;
  return !bin.empty() && fs::exists(bin + "/ffprobe") && fs::exists(bin + "/ffmpeg");
}

struct tj_freer_t {
  void operator()(unsigned char* buffer) const { tjFree(buffer); }
};
struct tj_destroyer_t {
  void operator()(void* handle) const { tjDestroy(handle); }
};

// A picture of its own for every `seed`, as libjpeg-turbo encodes it.
std::string make_jpeg(int width, int height, int seed) {
  std::vector<unsigned char> rgb(size_t(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      unsigned char* const pixel = &rgb[(size_t(y) * width + x) * 3];
      pixel[0] = static_cast<unsigned char>(x * 4 + seed * 80);
      pixel[1] = static_cast<unsigned char>(y * 5 + seed * 40);
      pixel[2] = static_cast<unsigned char>((x ^ y) * (seed + 1));
    }
  }
  std::unique_ptr<void, tj_destroyer_t> handle(tjInitCompress());
  if (!handle) throw std::runtime_error("tjInitCompress failed");
  unsigned char* out = nullptr;
  unsigned long size = 0;
  int const code = tjCompress2(handle.get(), rgb.data(), width, 0, height, TJPF_RGB, &out, &size,
                               TJSAMP_420, 90, 0);
  std::unique_ptr<unsigned char, tj_freer_t> owned(out);
  if (code != 0) throw std::runtime_error(tjGetErrorStr2(handle.get()));
  return std::string(reinterpret_cast<const char*>(out), size);
}

// The JPEG as a sample whose payload spans several blocks of its chain.
vantor::full_sample_t make_sample(const std::string& jpeg, uint32_t duration, bool sync) {
  vantor::unique_buckets_ptr_t data = vantor::buckets_create();
  vantor::bucket_writer_t writer(*data, 256);
  const auto* const bytes = reinterpret_cast<const uint8_t*>(jpeg.data());
  for (size_t at = 0; at < jpeg.size(); at += 100)
    writer.write(bytes + at, bytes + std::min(jpeg.size(), at + 100));
  auto const flags = vantor::sample_flags_t::make(sync ? vantor::sample_flags_t::sync_sample : 0);
  return vantor::full_sample_t(duration, 0, 1, flags, std::nullopt, std::move(data),
                               vantor::buckets_create());
}

vantor::trak_t jpeg_trak(uint32_t timescale,
                         std::optional<vantor::fraction_t<unsigned int, unsigned int>> sar) {
  vantor::trak_t trak = vantor::create_jpeg_trak(64, 48, sar);
  trak.media_timescale = timescale;
  return trak;
}

// ffprobe's "key=value" lines of one section; for packets, one map each.
std::vector<std::map<std::string, std::string>> sections(const std::string& text) {
  std::vector<std::map<std::string, std::string>> result;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("[/", 0) == 0) continue;
    if (line.rfind("[", 0) == 0) result.emplace_back();
    size_t const equals = line.find('=');
    if (equals != std::string::npos && !result.empty())
      result.back()[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return result;
}

class mp4_track_writer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_reference_programs())
      GTEST_SKIP() << "no ffmpeg and ffprobe in \"" << VANTOR_REFERENCE_FFMPEG_BIN
                   << "\" to check the file with";
  }

  vantor::testing::tool_result_t run(const std::string& program, const std::string& arguments) {
    return vantor::testing::run_shell_in(work_, reference_program(program) + " -v error " + arguments);
  }

  // ffprobe's sections of the video stream or its packets.
  std::vector<std::map<std::string, std::string>> probe(const std::string& file,
                                                        const std::string& entries) {
    auto const result = run("ffprobe", "-select_streams v:0 -show_entries " + entries + " " + file);
    EXPECT_EQ(result.status, 0) << result.err;
    return sections(result.out);
  }

  vantor::testing::scratch_folder_t scratch_{"vantor_mp4"};
  fs::path const& work_ = scratch_.path();
};

struct written_sample_t {
  std::string jpeg;
  uint32_t duration;
  bool sync;
};

// Three different pictures; the second is no sync sample. Flags are not
// checked: libavformat marks every packet of an intra-only codec key.
std::vector<written_sample_t> three_samples(uint32_t d0, uint32_t d1, uint32_t d2) {
  return {{make_jpeg(64, 48, 0), d0, true}, {make_jpeg(64, 48, 1), d1, false},
          {make_jpeg(64, 48, 2), d2, true}};
}

void write_file(const fs::path& path, const vantor::trak_t& trak, uint64_t first_dts,
                const std::vector<written_sample_t>& samples) {
  vantor::outputs::staging_t file(path);
  vantor::outputs::mp4_track_writer_t writer(file, trak, first_dts);
  for (const written_sample_t& sample : samples)
    writer.write(make_sample(sample.jpeg, sample.duration, sample.sync));
  writer.finish();
  file.commit();
  EXPECT_EQ(writer.count(), samples.size());
}

TEST_F(mp4_track_writer, late_start_keeps_times_pictures_and_bytes) {
  auto const samples = three_samples(512, 1024, 256);
  // 2570/12800 s is no whole millisecond: the start must not be rounded.
  write_file(work_ / "out.mp4", jpeg_trak(12800, {{4, 3}}), 2570, samples);

  auto const stream = probe("out.mp4",
                            "stream=codec_name,width,height,sample_aspect_ratio,time_base,"
                            "start_pts,duration_ts,nb_frames");
  ASSERT_EQ(stream.size(), 1u);
  EXPECT_EQ(stream[0].at("codec_name"), "mjpeg");
  EXPECT_EQ(stream[0].at("width"), "64");
  EXPECT_EQ(stream[0].at("height"), "48");
  EXPECT_EQ(stream[0].at("sample_aspect_ratio"), "4:3");
  EXPECT_EQ(stream[0].at("time_base"), "1/12800");
  EXPECT_EQ(stream[0].at("start_pts"), "2570");
  EXPECT_EQ(stream[0].at("nb_frames"), "3");
  // From the first sample's start to the last one's end, the empty edit
  // before it not counted.
  EXPECT_EQ(stream[0].at("duration_ts"), "1792");

  auto const packets = probe("out.mp4", "packet=pts,dts,duration");
  ASSERT_EQ(packets.size(), 3u);
  int64_t const starts[] = {2570, 3082, 4106};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(packets[i].at("pts"), std::to_string(starts[i])) << "packet " << i;
    EXPECT_EQ(packets[i].at("dts"), std::to_string(starts[i])) << "packet " << i;
  }
  // The demuxer ends the last packet at the track's duration as if the
  // track started at 0, so after a late start only duration_ts shows the
  // last sample's; the packets before it end where the next one starts.
  EXPECT_EQ(packets[0].at("duration"), "512");
  EXPECT_EQ(packets[1].at("duration"), "1024");

  auto const copied = run("ffmpeg", "-i out.mp4 -c copy -f image2 picture%d.jpg");
  ASSERT_EQ(copied.status, 0) << copied.err;
  for (size_t i = 0; i < 3; ++i)
    EXPECT_TRUE(read_file(work_ / ("picture" + std::to_string(i + 1) + ".jpg")) == samples[i].jpeg)
        << "picture " << i + 1;
  EXPECT_FALSE(fs::exists(work_ / "picture4.jpg"));

  auto const decoded = run("ffmpeg", "-xerror -i out.mp4 -f framemd5 decoded.txt");
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  EXPECT_EQ(decoded.err, "");
  std::istringstream lines(read_file(work_ / "decoded.txt"));
  size_t frames = 0;
  for (std::string line; std::getline(lines, line);) frames += !line.empty() && line[0] != '#';
  EXPECT_EQ(frames, 3u);
}

// Makes `folder` the current one for its lifetime.
class current_folder_t {
 public:
  explicit current_folder_t(const fs::path& folder) { fs::current_path(folder); }
  ~current_folder_t() { fs::current_path(previous_); }
  current_folder_t(const current_folder_t&) = delete;
  current_folder_t& operator=(const current_folder_t&) = delete;

 private:
  fs::path previous_ = fs::current_path();
};

// The muxer gives a track of few ticks a second a finer time base of its
// own; the times must follow. The relative name "clip:25.mp4" is a file,
// not a URL of a protocol "clip".
TEST_F(mp4_track_writer, coarse_timescale_is_rescaled) {
  {
    current_folder_t const here(work_);
    write_file("clip:25.mp4", jpeg_trak(25, std::nullopt), 0, three_samples(1, 2, 1));
  }

  auto const stream = probe("file:clip:25.mp4", "stream=time_base,sample_aspect_ratio");
  ASSERT_EQ(stream.size(), 1u);
  EXPECT_EQ(stream[0].at("sample_aspect_ratio"), "1:1");
  std::string const base = stream[0].at("time_base");
  ASSERT_EQ(base.rfind("1/", 0), 0u) << base;
  int64_t const ticks_per_second = std::stoll(base.substr(2));

  auto const packets = probe("file:clip:25.mp4", "packet=pts,duration");
  ASSERT_EQ(packets.size(), 3u);
  // In 1/25 s: starts 0, 1, 3; durations 1, 2, 1.
  int64_t const starts[] = {0, 1, 3};
  int64_t const durations[] = {1, 2, 1};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(std::stoll(packets[i].at("pts")) * 25, starts[i] * ticks_per_second) << "packet " << i;
    EXPECT_EQ(std::stoll(packets[i].at("duration")) * 25, durations[i] * ticks_per_second)
        << "packet " << i;
  }
}

TEST_F(mp4_track_writer, failures_name_the_file) {
  fs::path const missing = work_ / "no-such-folder" / "out.mp4";
  try {
    vantor::outputs::staging_t file(missing);
    ADD_FAILURE() << "a file in a missing folder was opened";
  } catch (const vantor::outputs::output_error_t& error) {
    EXPECT_EQ(std::string(error.what()),
              missing.string() + ": cannot create the file: No such file or directory");
  }
  {
    vantor::outputs::staging_t file(work_ / "t.mp4");
    try {
      vantor::outputs::mp4_track_writer_t(file, jpeg_trak(0, std::nullopt), 0);
      ADD_FAILURE() << "a track of timescale 0 was described";
    } catch (const vantor::outputs::output_error_t& error) {
      EXPECT_EQ(std::string(error.what()).rfind((work_ / "t.mp4").string() + ": cannot describe the track: ", 0), 0u)
          << error.what();
    }
  }
  EXPECT_FALSE(fs::exists(work_ / "t.mp4"));

  auto const sample = three_samples(512, 512, 512);
  {
    vantor::outputs::staging_t file(work_ / "finished.mp4");
    vantor::outputs::mp4_track_writer_t writer(file, jpeg_trak(12800, std::nullopt), 0);
    writer.write(make_sample(sample[0].jpeg, 512, true));
    writer.finish();
    file.commit();
    EXPECT_THROW(writer.write(make_sample(sample[1].jpeg, 512, true)), vantor::outputs::output_error_t);
  }
  // Put in place without finish(): the file has its samples but no index.
  {
    vantor::outputs::staging_t file(work_ / "unfinished.mp4");
    {
      vantor::outputs::mp4_track_writer_t writer(file, jpeg_trak(12800, std::nullopt), 0);
      writer.write(make_sample(sample[0].jpeg, 512, true));
    }
    file.commit();
  }
  EXPECT_TRUE(fs::exists(work_ / "unfinished.mp4"));
  EXPECT_NE(run("ffprobe", "unfinished.mp4").status, 0);
  EXPECT_EQ(run("ffprobe", "finished.mp4").status, 0);
}

}  // namespace

namespace {

// The tool's --mp4 track: its samples are the JPEG files, at the chosen
// pictures' times (25 fps from 0: the first picture at or after each mark),
// each lasting until the next and the last until the video's end at 12 s.
TEST_F(mp4_track_writer, the_tools_track_holds_its_jpegs_at_their_times) {
  std::string const clip = std::string(VANTOR_TEST_DATA_DIR) + "/corpus/choice_h264_bframes.mp4";
  auto const made = vantor::testing::run_tool_in(
      work_, {clip, "--every", "1.5s", "--keep-flat", "--size", "128x72", "--mp4", "t.mp4", "-o", "out"});
  ASSERT_EQ(made.status, 0) << made.err;
  std::vector<double> starts;
  for (int mark = 0; mark < 8; ++mark) starts.push_back(std::ceil(mark * 1.5 * 25) / 25);
  auto const packets = probe("t.mp4", "packet=pts_time,duration_time");
  ASSERT_EQ(packets.size(), starts.size());
  for (size_t i = 0; i < starts.size(); ++i) {
    EXPECT_NEAR(std::stod(packets[i].at("pts_time")), starts[i], 1e-4) << "packet " << i;
    double const end = i + 1 < starts.size() ? starts[i + 1] : 12.0;
    EXPECT_NEAR(std::stod(packets[i].at("duration_time")), end - starts[i], 1e-4) << "packet " << i;
  }
  auto const copied = run("ffmpeg", "-i t.mp4 -c copy -f image2 picture%d.jpg");
  ASSERT_EQ(copied.status, 0) << copied.err;
  for (size_t i = 1; i <= starts.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "%06zu.jpg", i);
    EXPECT_TRUE(read_file(work_ / ("picture" + std::to_string(i) + ".jpg")) == read_file(work_ / "out" / name))
        << "picture " << i;
  }
}

}  // namespace
