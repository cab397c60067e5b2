// Plug-in module of the resize filter.
#include <memory>
#include <utility>

#include "ffmpeg_utils/exports.hpp"
#include "no_options.hpp"
#include "plugin.hpp"

namespace vantor {
namespace {

class video_filter_resize_swscale_factory_t final : public video_filter_resize_factory_t {
 public:
  ~video_filter_resize_swscale_factory_t() override = default;

  std::unique_ptr<video::frame_source_t> create(host_context_t& context,
                                                std::unique_ptr<video::frame_source_t> input,
                                                uint32_t dst_width, uint32_t dst_height,
                                                uint32_t dst_crop_x, uint32_t dst_crop_y,
                                                uint32_t dst_crop_w, uint32_t dst_crop_h,
                                                const transcoder_config_t& config) const override {
    plugins::check_no_options(reader_, config);
    return video::create_swscale_resize_filter(context.log_context, std::move(input), dst_width,
                                               dst_height, dst_crop_x, dst_crop_y, dst_crop_w,
                                               dst_crop_h);
  }

 private:
  plugins::no_options_reader_t reader_;
};

video_filter_resize_swscale_factory_t factory;

}  // namespace
}  // namespace vantor

VANTOR_PLUGIN_ENTRY_POINT(vantor::factory)
