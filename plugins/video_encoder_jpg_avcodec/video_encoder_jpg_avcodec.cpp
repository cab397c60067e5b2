// Plug-in module of the JPEG encoder; its one option is "quality".
#include <memory>
#include <utility>

#include "ffmpeg_utils/exports.hpp"
#include "plugin.hpp"
#include "value_reader.hpp"

namespace vantor {
namespace {

struct options_t {
  unsigned int quality = 30;
};

class video_encoder_jpg_avcodec_factory_t final : public video_encoder_factory_t {
 public:
  ~video_encoder_jpg_avcodec_factory_t() override = default;

  std::unique_ptr<sample_source_t> create(host_context_t& context,
                                          std::unique_ptr<video::frame_source_t> input,
                                          const video_description_t& description,
                                          const transcoder_config_t& config) const override {
    // Options first: a refused attribute leaves no encoder behind.
    options_t options;
    reader_.read(options, config.implementation, config.attributes);
    // The range (0 to 100) is the encoder's to check.
    return video::create_avcodec_jpg_encoder(context.log_context, std::move(input),
                                             description.sar, options.quality);
  }

 private:
  transcoder_options::value_reader_t<options_t> reader_{{"quality", &options_t::quality}};
};

video_encoder_jpg_avcodec_factory_t factory;

}  // namespace
}  // namespace vantor

VANTOR_PLUGIN_ENTRY_POINT(vantor::factory)
