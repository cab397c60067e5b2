#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sources/file_sample_source.hpp"
#include "transcode/video_base.hpp"

namespace vantor::tools {

// A job that wants every picture is bound by decoding, and one decoder
// decodes on one thread. So the stream is cut at sync samples into chunks,
// each decoded, scaled and encoded by a chain of its own on one of several
// threads, and the samples come out in the stream's order. A chunk's chain
// decodes from its sync sample up to the next chunk's, and on through the
// leading pictures of that one (an open GOP's leading pictures refer to the
// chunk before); each picture comes out of exactly one chunk, the one in
// whose presentation time span it lies. At most `threads` chunks are in
// flight, and each holds its samples only until they are written.
struct chunk_chain_t {
  std::function<std::unique_ptr<video::frame_source_t>(std::unique_ptr<sample_source_t>)> decoder;
  // The stages between decoder and encoder (orientation, resize).
  std::function<std::unique_ptr<video::frame_source_t>(std::unique_ptr<video::frame_source_t>)> stages;
  std::function<std::unique_ptr<sample_source_t>(std::unique_ptr<video::frame_source_t>)> encoder;
};

// A part's samples are read ahead of its decoder, whole, from the one file
// all parts share; a run of samples between two sync samples larger than
// this is decoded in one chain instead.
constexpr uint64_t max_part_bytes = uint64_t{32} << 20;

// The decode times where chunks start: sync samples at least `min_ticks`
// apart (closer where a part would hold more than `max_bytes`), the first
// sample first. Fewer than two: decode in one chain.
std::vector<uint64_t> chunk_starts(const sources::file_sample_source_t& source, uint64_t min_ticks,
                                   uint64_t max_bytes = max_part_bytes);

// One encoded sample, its time and the track of the encoder that made it.
struct timed_sample_t {
  trak_t trak;
  uint64_t dts;
  full_sample_t sample;
};

// Runs the chunks on `threads` threads and hands each sample to `write` on
// the calling thread, in order; `write` returns false to stop there. The
// chunks share `file` (opened from `path`) and its index: each reads its samples in turn, in the
// stream's order, and decodes them while the next one reads. A failure in a
// chunk comes out (as thrown) after every sample of the chunks before it has
// been written.
void run_chunked(sources::file_sample_source_t& file, const std::string& path, const std::vector<uint64_t>& starts,
                 unsigned threads, const chunk_chain_t& chain, const std::function<bool(timed_sample_t)>& write);

}  // namespace vantor::tools
