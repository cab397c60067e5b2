// Plug-in module of the H.264 decoder.
#include "ffmpeg_utils/exports.hpp"
#include "video_decoder_factory.hpp"

namespace vantor {
namespace {

class video_decoder_avc_avcodec_factory_t final
    : public plugins::avcodec_decoder_factory_t<&video::create_avcodec_avc_decoder> {};

video_decoder_avc_avcodec_factory_t factory;

}  // namespace
}  // namespace vantor

VANTOR_PLUGIN_ENTRY_POINT(vantor::factory)
