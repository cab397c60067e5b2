// The fuzz entries compiled with GCC: every committed regression input
// (tests/fuzz/regressions/<target>/) replays without a finding, and inputs
// made from the clips run the whole way through the components, so that an
// entry that stopped reaching them would be noticed.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "buckets.hpp"
#include "fuzz/annexb_entry.hpp"
#include "fuzz/decoder_chain_entry.hpp"
#include "fuzz/file_source_entry.hpp"
#include "fuzz/options_entry.hpp"
#include "fuzz/transcode_entry.hpp"
#include "support/capture_log.hpp"
#include "sources/file_sample_source.hpp"
#include "support/paths.hpp"

namespace vantor::fuzz {
namespace {

namespace fs = std::filesystem;
using vantor::testing::clip_path;

using entry_t = std::function<void(const uint8_t*, size_t)>;

const std::map<std::string, entry_t>& entries() {
  static const std::map<std::string, entry_t> table = {
      {"decoder_chain", fuzz_decoder_chain},
      {"annexb", fuzz_annexb},
      {"file_source", fuzz_file_source},
      {"options", fuzz_options},
      {"transcode", fuzz_transcode},
  };
  return table;
}

std::vector<uint8_t> read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}


TEST(fuzz_regressions, every_committed_input_replays_without_a_finding) {
  // Under the fuzzers' bounds, so that an input over them fails here too.
  apply_service_limits();
  fs::path const root = VANTOR_FUZZ_REGRESSIONS_DIR;
  size_t replayed = 0;
  for (const auto& [target, entry] : entries()) {
    fs::path const dir = root / target;
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    size_t in_target = 0;
    for (const fs::directory_entry& file : fs::directory_iterator(dir)) {
      SCOPED_TRACE(target + "/" + file.path().filename().string());
      std::vector<uint8_t> const bytes = read_file(file.path());
      EXPECT_NO_THROW(entry(bytes.data(), bytes.size()));
      ++in_target;
    }
    EXPECT_GT(in_target, 0u) << "no regression input for " << target;
    replayed += in_target;
  }
  EXPECT_GT(replayed, 0u);
}

// The first `count` samples of a clip in the decoder chain's input layout.
decoder_chain_input_t clip_input(const std::string& clip, size_t count) {
  std::unique_ptr<sample_source_t> source = vantor::sources::open_file_sample_source(clip_path(clip));
  decoder_chain_input_t input;
  input.hevc = source->trak().codec == codec_t::hevc;
  input.record = source->trak().decoder_config;
  while (input.samples.size() < count) {
    std::optional<full_sample_t> sample = source->read_sample();
    if (!sample) break;
    testing::memory_sample_t memory;
    memory.bytes = buckets_to_vector(sample->data());
    memory.sync = sample->is_sync_sample();
    memory.composition_offset = sample->composition_offset();
    memory.duration = fuzz_sample_duration;
    input.samples.push_back(std::move(memory));
  }
  return input;
}

TEST(fuzz_entries, clip_inputs_go_through_the_decoder_and_the_whole_chain) {
  for (const char* clip : {"h264_high_bframes.mp4", "hevc_main_bframes.mp4", "hevc_main10.mp4"}) {
    SCOPED_TRACE(clip);
    decoder_chain_input_t input = clip_input(clip, 6);
    ASSERT_EQ(input.samples.size(), 6u);
    // The layout survives its own encoding.
    std::vector<uint8_t> const bytes = encode(input);
    decoder_chain_input_t const decoded = decode_decoder_chain_input(bytes.data(), bytes.size());
    ASSERT_EQ(decoded.samples.size(), input.samples.size());
    EXPECT_EQ(decoded.samples[3].bytes, input.samples[3].bytes);
    EXPECT_EQ(decoded.samples[3].composition_offset, input.samples[3].composition_offset);
    EXPECT_EQ(decoded.record, input.record);

    for (bool const chain : {false, true}) {
      for (uint8_t const geometry : {0, 2, 3}) {
        input.chain = chain;
        input.geometry = geometry;
        input.verbose = geometry == 2;
        input.block_size_code = geometry;
        testing::capture_log_t log(input.verbose ? vantor_log_trace : vantor_log_error);
        EXPECT_NO_THROW(detail::run_decoder_chain(input, log.context))
            << "chain " << chain << " geometry " << int{geometry};
        if (!chain) break;
      }
    }
  }
}

TEST(fuzz_entries, a_sample_of_several_access_units_may_give_more_pictures_than_samples) {
  // The fuzzer's input: a raw stream's access units, several IDR pictures
  // with their parameter sets in one sample. libavcodec decodes each and
  // hands them all out at the end, which is no fault of the decoder.
  std::vector<uint8_t> const bytes =
      read_file(fs::path(VANTOR_FUZZ_REGRESSIONS_DIR) / "decoder_chain" / "access-units-in-one-sample.bin");
  decoder_chain_input_t input = decode_decoder_chain_input(bytes.data(), bytes.size());
  ASSERT_EQ(input.samples.size(), 2u);
  input.chain = false;
  testing::capture_log_t log(vantor_log_error);
  size_t pictures = 0;
  EXPECT_NO_THROW(pictures = detail::run_decoder_chain(input, log.context));
  EXPECT_GT(pictures, input.samples.size());
  // They share their sample's time, which the JPEG encoder refuses.
  input.chain = true;
  input.geometry = 0;
  EXPECT_THROW(detail::run_decoder_chain(input, log.context), vantor::exception);
}

TEST(fuzz_entries, bad_input_gets_a_vantor_exception_not_a_finding) {
  decoder_chain_input_t input = clip_input("h264_high_bframes.mp4", 3);
  // The first NAL unit claims more bytes than its sample has.
  input.samples[0].bytes[0] = 0x7f;
  testing::capture_log_t log(vantor_log_error);
  EXPECT_THROW(detail::run_decoder_chain(input, log.context), vantor::exception);
  std::vector<uint8_t> const bytes = encode(input);
  EXPECT_NO_THROW(fuzz_decoder_chain(bytes.data(), bytes.size()));

  // An odd output size is refused when the first picture is built.
  decoder_chain_input_t odd = clip_input("h264_high_bframes.mp4", 3);
  odd.chain = true;
  odd.geometry = 1;
  EXPECT_THROW(detail::run_decoder_chain(odd, log.context), vantor::exception);

  // The 4:2:2 clip decodes to a format the components do not take.
  decoder_chain_input_t const yuv422 = clip_input("hevc_422.mp4", 3);
  EXPECT_THROW(detail::run_decoder_chain(yuv422, log.context), vantor::exception);
}

TEST(fuzz_entries, the_file_source_entry_reads_every_clip_through_a_path) {
  for (const char* clip : {"h264_high_bframes.mp4", "h264_mkv.mkv", "h264_annexb.h264", "hevc_main10.mp4"}) {
    SCOPED_TRACE(clip);
    EXPECT_NO_THROW(detail::read_whole_source(clip_path(clip)));
    std::vector<uint8_t> const bytes = read_file(clip_path(clip));
    detail::memory_file_t file;
    std::string const path = file.write(bytes.data(), bytes.size());
    EXPECT_NO_THROW(detail::read_whole_source(path));
  }
}

TEST(fuzz_entries, the_option_reference_agrees_on_the_documented_cases) {
  // Each configuration is checked against the entry's reference model.
  auto text = [](const auto& literal) { return std::string(literal, sizeof literal - 1); };
  for (const std::string& config :
       {text("jpg\0quality\0" "75"), text("jpg\0Quality\0" "1"), text("jpg\0quality \0" "1"),
        text("jpg\0quality\0" "4294967295"), text("jpg\0quality\0" "4294967296"),
        text("jpg\0quality\0" "+1"), text("jpg\0quality\0"),
        text("jpg\0quality\0" "50\0quality\0" "80"), text("jpg\0quality\0" "80\0x\0" "1"),
        text("jpg")}) {
    SCOPED_TRACE(config);
    EXPECT_NO_THROW(fuzz_options(reinterpret_cast<const uint8_t*>(config.data()), config.size()));
  }
  EXPECT_EQ(detail::reference_number("0042"), 42u);
  EXPECT_EQ(detail::reference_number("4294967296"), std::nullopt);
  EXPECT_EQ(detail::reference_number(" 1"), std::nullopt);
}

size_t files_in(const fs::path& folder) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

TEST(fuzz_entries, the_transcode_entry_writes_pictures_from_every_container) {
  for (const char* clip : {"h264_high_bframes.mp4", "h264_mkv.mkv", "h264_annexb.h264", "hevc_main10.mp4",
                           "corpus/choice_h264.ts", "corpus/timing_whole.flv",
                           "corpus/timing_fmp4_later_segment.mp4"}) {
    SCOPED_TRACE(clip);
    std::vector<uint8_t> const bytes = read_file(clip_path(clip));
    ASSERT_FALSE(bytes.empty());
    EXPECT_NO_THROW(fuzz_transcode(bytes.data(), bytes.size()));
    // One picture a second, from the first one on.
    EXPECT_GE(files_in(transcode_fixture().folder()), 1u);
  }
  // A picture larger than the service allows is refused before decoding.
  std::vector<uint8_t> const large = read_file(clip_path("hostile/h264_sps_8192.h264"));
  EXPECT_NO_THROW(fuzz_transcode(large.data(), large.size()));
  EXPECT_EQ(files_in(transcode_fixture().folder()), 0u);
}

TEST(fuzz_entries, the_transcode_checks_catch_wrong_pictures) {
  // SOI, an APP0 segment, SOF0 of 64x36, EOI.
  std::vector<uint8_t> jpeg = {0xff, 0xd8, 0xff, 0xe0, 0x00, 0x04, 0x00, 0x00, 0xff, 0xc0, 0x00, 0x11,
                               0x08, 0x00, 0x24, 0x00, 0x40, 0x03, 0x01, 0x22, 0x00, 0xff, 0xd9};
  std::optional<detail::jpeg_size_t> const size = detail::jpeg_size(jpeg);
  ASSERT_TRUE(size.has_value());
  EXPECT_EQ(size->width, 64u);
  EXPECT_EQ(size->height, 36u);
  std::vector<uint8_t> cut(jpeg.begin(), jpeg.end() - 1);
  EXPECT_FALSE(detail::jpeg_size(cut).has_value());

  fs::path const folder = fs::temp_directory_path() / ("vantor-fuzz-checks-" + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  auto put = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(folder / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                         static_cast<std::streamsize>(bytes.size()));
  };
  put("000001.jpg", jpeg);
  EXPECT_NO_THROW(detail::check_pictures(folder, 1));
  EXPECT_THROW(detail::check_pictures(folder, 2), finding_t);
  // A file left under its temporary name.
  put("000002.jpg.tmp", jpeg);
  EXPECT_THROW(detail::check_pictures(folder, 2), finding_t);
  fs::remove(folder / "000002.jpg.tmp");
  // A picture of another width.
  jpeg[16] = 0x50;
  put("000002.jpg", jpeg);
  EXPECT_THROW(detail::check_pictures(folder, 2), finding_t);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace vantor::fuzz
