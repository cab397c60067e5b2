#pragma once

#include <optional>
#include <string>

struct AVStream;

namespace vantor::sources {

// Why a Dolby Vision stream cannot be shown, or none. Its configuration
// record (dvcC, dvvC; libavformat's AV_PKT_DATA_DOVI_CONF) names the
// profile and what the base layer is compatible with. Profiles 7 and 8
// carry an HDR10, SDR or HLG base layer that any decoder shows as such;
// profile 5 carries none: its pictures are IPT-PQ-c2, which only a Dolby
// Vision renderer turns into colours, and would otherwise come out green
// and purple. Streams without a record are not Dolby Vision.
std::optional<std::string> dolby_vision_refusal(const AVStream& stream);

}  // namespace vantor::sources
