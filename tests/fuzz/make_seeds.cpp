// Writes the seed corpora of the decoder chain and Annex B targets from the
// committed clips: each clip's first samples, in each target's input layout.
// The file source target takes the clips themselves as seeds.
//
// usage: fuzz_make_seeds <clip directory> <corpus root>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "buckets.hpp"
#include "fuzz/decoder_chain_entry.hpp"
#include "fuzz/fuzz_support.hpp"
#include "sources/file_sample_source.hpp"

namespace {

namespace fs = std::filesystem;
using vantor::fuzz::decoder_chain_input_t;

void write_file(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// The first `count` samples of a clip, as the decoder would get them.
decoder_chain_input_t read_clip(const fs::path& clip, size_t count) {
  std::unique_ptr<vantor::sample_source_t> source = vantor::sources::open_file_sample_source(clip.string());
  decoder_chain_input_t input;
  input.hevc = source->trak().codec == vantor::codec_t::hevc;
  if (!source->trak().decoder_config.empty()) input.record = source->trak().decoder_config;
  while (input.samples.size() < count) {
    std::optional<vantor::full_sample_t> sample = source->read_sample();
    if (!sample) break;
    vantor::testing::memory_sample_t memory;
    memory.bytes = vantor::buckets_to_vector(sample->data());
    memory.sync = sample->is_sync_sample();
    memory.composition_offset = sample->composition_offset();
    memory.duration = vantor::fuzz::fuzz_sample_duration;
    input.samples.push_back(std::move(memory));
  }
  return input;
}

std::vector<uint8_t> annexb_seed(const decoder_chain_input_t& input) {
  std::vector<uint8_t> out = {static_cast<uint8_t>((input.hevc ? 1 : 0) | 2 | (6 << 2))};
  std::vector<uint8_t> const record = input.record.value_or(std::vector<uint8_t>{});
  vantor::fuzz::put_u16(out, record.size());
  out.insert(out.end(), record.begin(), record.end());
  for (const auto& sample : input.samples) {
    if (sample.bytes.size() >= 0x8000) continue;
    vantor::fuzz::put_u16(out, sample.bytes.size() | (sample.sync ? 0x8000 : 0));
    out.insert(out.end(), sample.bytes.begin(), sample.bytes.end());
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <clip directory> <corpus root>\n", argv[0]);
    return 2;
  }
  fs::path const clips = argv[1];
  fs::path const root = argv[2];
  fs::create_directories(root / "decoder_chain");
  fs::create_directories(root / "annexb");
  try {
    for (const fs::directory_entry& entry : fs::directory_iterator(clips)) {
      std::string const ext = entry.path().extension().string();
      if (ext != ".mp4" && ext != ".mkv" && ext != ".h264") continue;
      std::string const stem = entry.path().stem().string();
      decoder_chain_input_t input;
      try {
        input = read_clip(entry.path(), 12);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_make_seeds: skipping %s: %s\n", stem.c_str(), e.what());
        continue;
      }
      // A few samples keep one execution short; the variants reach the
      // chain, the traces and the piecewise payloads.
      write_file(root / "decoder_chain" / (stem + ".bin"), encode(input));
      decoder_chain_input_t chained = input;
      chained.chain = true;
      chained.samples.resize(std::min<size_t>(chained.samples.size(), 4));
      write_file(root / "decoder_chain" / (stem + "-chain.bin"), encode(chained));
      decoder_chain_input_t traced = chained;
      traced.chain = false;
      traced.verbose = true;
      traced.block_size_code = 2;
      traced.geometry = 1;
      write_file(root / "decoder_chain" / (stem + "-traced.bin"), encode(traced));
      write_file(root / "annexb" / (stem + ".bin"), annexb_seed(chained));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fuzz_make_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
