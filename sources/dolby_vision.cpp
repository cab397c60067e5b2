#include "sources/dolby_vision.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dovi_meta.h>
}

namespace vantor::sources {

std::optional<std::string> dolby_vision_refusal(const AVStream& stream) {
  AVCodecParameters const* par = stream.codecpar;
  AVPacketSideData const* side_data =
      av_packet_side_data_get(par->coded_side_data, par->nb_coded_side_data, AV_PKT_DATA_DOVI_CONF);
  if (!side_data || side_data->size < sizeof(AVDOVIDecoderConfigurationRecord)) return std::nullopt;
  auto const* record = reinterpret_cast<const AVDOVIDecoderConfigurationRecord*>(side_data->data);
  // Compatibility id 0: the base layer is no standard picture.
  if (record->dv_bl_signal_compatibility_id != 0) return std::nullopt;
  return "Dolby Vision profile " + std::to_string(record->dv_profile) +
         " has no backward-compatible base layer: its pictures are IPT-PQ-c2, which only a Dolby Vision "
         "renderer turns into colours";
}

}  // namespace vantor::sources
