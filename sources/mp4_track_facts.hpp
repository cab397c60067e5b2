#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vantor::sources {

// What the moov says of a track that libavformat does not tell, or tells
// only once it has acted on it.
struct mp4_track_facts_t {
  // Whether the samples lie in another file: a reference movie's data
  // reference ('dref') names that file (an ISO 'url '/'urn ' entry with a
  // location, or a QuickTime alias) instead of flagging the samples as in
  // this one. libavformat reads such a track from this file anyway, or
  // skips it, and nothing it reports says why. The name of the other file
  // (empty when the entry gives none); none when the samples are here.
  std::optional<std::string> samples_elsewhere;
  // The sample count of the sample size box ('stsz'/'stz2'). libavformat
  // allocates its index by it, and stops quietly at its allocation bound.
  uint64_t declared_samples = 0;
};

// The facts of the track whose tkhd has `track_id`; empty ones when the
// file's boxes cannot be read (libavformat judges those).
mp4_track_facts_t mp4_track_facts(const std::string& path, uint32_t track_id);

}  // namespace vantor::sources
