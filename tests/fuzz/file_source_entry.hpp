#pragma once

// Fuzz entry: the file sample source over arbitrary file bytes. The bytes
// are the whole file; it lives in memory (a memfd) and is opened by path,
// as the tool opens its input.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "buckets.hpp"
#include "exception.hpp"
#include "fuzz/fuzz_support.hpp"
#include "sources/file_sample_source.hpp"
#include "trak.hpp"
#include "transcode/annexb.hpp"

namespace vantor::fuzz {

namespace detail {

// One memfd for the whole run, rewritten for every input.
class memory_file_t {
 public:
  memory_file_t() : fd_(memfd_create("vantor-fuzz-input", MFD_CLOEXEC)) {
    require(fd_ >= 0, "memfd_create failed");
  }
  ~memory_file_t() { close(fd_); }
  memory_file_t(const memory_file_t&) = delete;
  memory_file_t& operator=(const memory_file_t&) = delete;

  std::string write(const uint8_t* data, size_t size) {
    require(ftruncate(fd_, 0) == 0, "ftruncate failed");
    size_t done = 0;
    while (done < size) {
      ssize_t const n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      require(n > 0, "pwrite failed");
      done += static_cast<size_t>(n);
    }
    return "/proc/self/fd/" + std::to_string(fd_);
  }

 private:
  int fd_;
};

inline void read_whole_source(const std::string& path) {
  std::unique_ptr<sample_source_t> source = vantor::sources::open_file_sample_source(path);
  const trak_t& trak = source->trak();
  require(trak.codec == codec_t::avc || trak.codec == codec_t::hevc, "a track of another codec");
  require(trak.media_timescale != 0, "a track without a timescale");
  (void)source->first_dts();
  // The decoder's first step on every sample: its conversion to Annex B.
  video::annexb_converter_t const converter(
      trak.codec == codec_t::avc ? video::nal_family_t::avc : video::nal_family_t::hevc,
      trak.decoder_config);
  std::vector<uint8_t> annexb;
  for (uint64_t number = 0; number < 100000; ++number) {
    std::optional<full_sample_t> sample = source->read_sample();
    if (!sample) {
      require(!source->read_sample(), "a sample after the end");
      return;
    }
    std::vector<uint8_t> const bytes = buckets_to_vector(sample->data());
    require(bytes.size() == buckets_size(sample->data()), "a payload whose size is misreported");
    annexb.clear();
    try {
      converter.convert(bytes.data(), bytes.size(), number == 0, number, annexb);
    } catch (const vantor::exception&) {
      // A damaged sample is the decoder's to refuse; the source moves on.
    }
  }
}

}  // namespace detail

inline void fuzz_file_source(const uint8_t* data, size_t size) {
  static detail::memory_file_t file;
  std::string const path = file.write(data, size);
  try {
    detail::read_whole_source(path);
  } catch (const vantor::exception&) {
    // What a damaged file is meant to get.
  }
}

}  // namespace vantor::fuzz
