#pragma once

#include <memory>
#include <optional>

#include "plugin_loader.hpp"
#include "plugin_set.hpp"
#include "stages/frame_tap.hpp"
#include "stages/sprite_compositor.hpp"
#include "tool_options.hpp"
#include "trak.hpp"

namespace vantor::tools {

// The modules that shape the output, loaded before anything is read: a
// broken installation is reported before any output.
struct output_plugins_t {
  std::optional<video_filter_resize_plugin_t> resize_filter;
  std::optional<video_encoder_plugin_t> jpeg_encoder;
};

output_plugins_t load_output_plugins(const tool_options_t& options, plugin_set_t& modules);

// What a chain does between its decoded pictures and the encoder. Stages a
// chain does not want are left out; the order of the rest is fixed.
struct stage_plan_t {
  host_context_t& host;
  const output_plugins_t& plugins;
  const tool_options_t& options;
  trak_t stored;  // the track as the file stores it
  bool decode_ahead = false;  // the decoder on a thread of its own
  stages::frame_tap_t::observer_t observer;  // sees each picture; none: no tap
  bool sheets = false;  // tiles on sprite sheets (options.sprite)

  // The track once the orientation stage has turned it upright.
  trak_t shown() const;
  // What the JPEG encoder is told about the pictures that come out.
  video_description_t description() const;
};

struct picture_stages_t {
  std::unique_ptr<video::frame_source_t> pictures;
  const stages::sprite_compositor_t* sheets = nullptr;  // owned by `pictures`
};

// The one stage order of every chain: orientation, decoding ahead, resize,
// colour, the tap, sprite sheets.
picture_stages_t build_picture_stages(const stage_plan_t& plan, std::unique_ptr<video::frame_source_t> decoded);

}  // namespace vantor::tools
