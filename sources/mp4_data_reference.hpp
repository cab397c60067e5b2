#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vantor::sources {

// Whether the samples of an MP4/MOV track lie in another file: a reference
// movie's data reference ('dref') names that file (an ISO 'url '/'urn '
// entry with a location, or a QuickTime alias) instead of flagging the
// samples as in this one. libavformat reads such a track from this file
// anyway, or skips it, and nothing it reports says why.
//
// Returns the name of the other file (empty when the entry gives none) for
// the track whose tkhd has `track_id`; none when the track's samples are in
// this file, or when the file's boxes cannot be read (libavformat judges
// those).
std::optional<std::string> external_sample_file(const std::string& path, uint32_t track_id);

}  // namespace vantor::sources
