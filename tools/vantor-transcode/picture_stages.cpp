#include "picture_stages.hpp"

#include <utility>

#include "stages/colour_stage.hpp"
#include "stages/decode_ahead.hpp"
#include "stages/fit_rect.hpp"
#include "stages/orientation_stage.hpp"

namespace vantor::tools {

namespace {

bool turns(const stage_plan_t& plan) {
  return plan.options.autorotate && !plan.stored.orientation.is_identity();
}

trak_t upright_trak(trak_t trak) {
  if (trak.orientation.swaps_axes()) {
    std::swap(trak.width, trak.height);
    if (trak.sar) trak.sar = fraction_t<unsigned int, unsigned int>{trak.sar->den, trak.sar->num};
  }
  trak.orientation = {};
  return trak;
}

std::unique_ptr<video::frame_source_t> resized(const stage_plan_t& plan,
                                               std::unique_ptr<video::frame_source_t> pictures) {
  const tool_options_t& options = plan.options;
  trak_t const trak = plan.shown();
  stages::picture_size_t const size = stages::complete_size(trak.width ? trak.width : 1, trak.height ? trak.height : 1,
                                                            trak.sar, *options.size);
  stages::picture_rect_t rect{0, 0, size.width, size.height};
  if (options.rect) rect = *options.rect;
  if (options.fit) rect = stages::fit_rect(trak.width, trak.height, trak.sar, size);
  return plan.plugins.resize_filter->create(plan.host, std::move(pictures), size.width, size.height, rect.x,
                                            rect.y, rect.width, rect.height,
                                            transcoder_config_t{resize_filter_name, {}});
}

// JPEG outputs always get the colour stage: HDR becomes SDR unless
// --tonemap off, and BT.709 is turned into BT.601 there. Raw planes stay as
// decoded unless --tonemap is given.
std::optional<stages::colour_settings_t> colour_settings(const tool_options_t& options) {
  if (options.raw && !options.tonemap) return std::nullopt;
  stages::colour_settings_t settings;
  settings.tone_map = options.tonemap.value_or(true);
  settings.for_jpeg = !options.raw;
  return settings;
}

}  // namespace

output_plugins_t load_output_plugins(const tool_options_t& options, plugin_set_t& modules) {
  output_plugins_t plugins;
  if (options.size) plugins.resize_filter.emplace(modules.resize_filter());
  if (!options.raw) plugins.jpeg_encoder.emplace(modules.jpeg_encoder());
  return plugins;
}

trak_t stage_plan_t::shown() const { return turns(*this) ? upright_trak(stored) : stored; }

video_description_t stage_plan_t::description() const {
  // Scaled pictures have the aspect ratio of their rectangle: square pixels
  // with --fit, and no better guess for a stretched picture.
  return video_description_t{plugins.resize_filter ? std::nullopt : shown().sar};
}

picture_stages_t build_picture_stages(const stage_plan_t& plan, std::unique_ptr<video::frame_source_t> decoded) {
  picture_stages_t built{std::move(decoded)};
  std::unique_ptr<video::frame_source_t>& pictures = built.pictures;
  if (turns(plan)) {
    pictures = std::make_unique<stages::orientation_stage_t>(plan.host.log_context, std::move(pictures),
                                                             plan.stored.orientation);
  }
  // Two pictures ahead keep both threads busy; more would only cost memory.
  if (plan.decode_ahead) pictures = std::make_unique<stages::decode_ahead_t>(std::move(pictures), 2);
  if (plan.plugins.resize_filter) pictures = resized(plan, std::move(pictures));
  if (std::optional<stages::colour_settings_t> const colour = colour_settings(plan.options)) {
    pictures = std::make_unique<stages::colour_stage_t>(plan.host.log_context, std::move(pictures), *colour);
  }
  if (plan.observer) pictures = std::make_unique<stages::frame_tap_t>(std::move(pictures), plan.observer);
  if (plan.sheets) {
    auto compositor = std::make_unique<stages::sprite_compositor_t>(std::move(pictures), plan.options.sprite->first,
                                                                    plan.options.sprite->second);
    built.sheets = compositor.get();
    pictures = std::move(compositor);
  }
  return built;
}

}  // namespace vantor::tools
