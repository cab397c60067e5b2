#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fraction.hpp"
#include "log_context.hpp"
#include "trak.hpp"
#include "transcode/video_base.hpp"

// Plug-in classes cross module boundaries (dynamic_cast in the host, weak type
// information in every module), so they keep default visibility even where
// the rest of a module is hidden.
#define VANTOR_PLUGIN_VISIBLE __attribute__((visibility("default")))

namespace vantor {

// What the host hands to every component it creates.
struct host_context_t {
  explicit host_context_t(log_context_t& log_context) : log_context(log_context) {}

  log_context_t& log_context;  // outlives every component made with this context
};

// One attribute of a transcoder implementation: a name and its value text.
using transcoder_attribute_t = std::pair<std::string, std::string>;

// The configuration of a transcoder implementation: its name, then the
// attributes in the order the user gave them.
struct transcoder_config_t {
  std::string implementation;
  std::vector<transcoder_attribute_t> attributes;
};

// What an encoder needs to know about the pictures beyond the pictures.
struct video_description_t {
  std::optional<fraction_t<unsigned int, unsigned int>> sar;
};

// Base of every object a plug-in module hands to the host. The destructor is
// pure so that no module's copy of the type information depends on where the
// class's first virtual function happens to be defined; its body is in the
// host library.
class VANTOR_PLUGIN_VISIBLE plugin_t {
 public:
  virtual ~plugin_t() = 0;

 protected:
  plugin_t() = default;
  plugin_t(const plugin_t&) = delete;
  plugin_t& operator=(const plugin_t&) = delete;
};

// Makes decoders of one codec over a track's samples.
class VANTOR_PLUGIN_VISIBLE video_decoder_factory_t : public plugin_t {
 public:
  ~video_decoder_factory_t() override = default;
  virtual std::unique_ptr<video::frame_source_t> create(
      host_context_t& context, std::unique_ptr<sample_source_t> input,
      const transcoder_config_t& config) const = 0;
};

// Makes filters that scale every picture into a rectangle of a fixed frame.
class VANTOR_PLUGIN_VISIBLE video_filter_resize_factory_t : public plugin_t {
 public:
  ~video_filter_resize_factory_t() override = default;
  virtual std::unique_ptr<video::frame_source_t> create(
      host_context_t& context, std::unique_ptr<video::frame_source_t> input, uint32_t dst_width,
      uint32_t dst_height, uint32_t dst_crop_x, uint32_t dst_crop_y, uint32_t dst_crop_w,
      uint32_t dst_crop_h, const transcoder_config_t& config) const = 0;
};

// Makes encoders that turn pictures into a track of compressed samples.
class VANTOR_PLUGIN_VISIBLE video_encoder_factory_t : public plugin_t {
 public:
  ~video_encoder_factory_t() override = default;
  virtual std::unique_ptr<sample_source_t> create(host_context_t& context,
                                                  std::unique_ptr<video::frame_source_t> input,
                                                  const video_description_t& description,
                                                  const transcoder_config_t& config) const = 0;
};

// The one function every module exports, unmangled: it returns the module's
// factory, the same object on every call.
using plugin_entry_point_t = plugin_t* (*)();
inline constexpr char plugin_entry_point_name[] = "mp4_get_plugin_impl_1_15_9";

}  // namespace vantor

// Defines the entry point of a module over its factory object.
#define VANTOR_PLUGIN_ENTRY_POINT(factory_object)                                        \
  extern "C" VANTOR_PLUGIN_VISIBLE ::vantor::plugin_t* mp4_get_plugin_impl_1_15_9() { \
    return &(factory_object);                                                         \
  }
