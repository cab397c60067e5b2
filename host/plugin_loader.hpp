#pragma once

#include <memory>
#include <optional>
#include <string>
#include <typeinfo>
#include <utility>

#include "plugin.hpp"
#include "trak.hpp"
#include "transcode/video_base.hpp"

namespace vantor {

// One loaded plug-in module and the object its entry point returned. The
// module is unloaded when the last owner lets go of it; every component made
// through the module's factory holds one, because the component's code lives
// in libraries the module brought in.
class plugin_module_t {
 public:
  // Loads the module at `path` and calls its entry point. Throws 5 when the
  // file cannot be loaded and 13 when it has no entry point or the entry
  // point returns nothing, with the loader's own explanation.
  static std::shared_ptr<const plugin_module_t> open(const std::string& path);

  ~plugin_module_t();
  plugin_module_t(const plugin_module_t&) = delete;
  plugin_module_t& operator=(const plugin_module_t&) = delete;

  const std::string& path() const noexcept { return path_; }
  plugin_t& plugin() const noexcept { return *plugin_; }

  // Throws 13 naming the module, the expected interface and the class found.
  [[noreturn]] void throw_wrong_interface(const std::type_info& expected) const;

 private:
  plugin_module_t(std::string path, void* handle, plugin_t* plugin);

  std::string path_;
  void* handle_;
  plugin_t* plugin_;
};

// Wrap a component so that it keeps `module` loaded for as long as it lives.
// The component is destroyed before the module reference is dropped.
std::unique_ptr<video::frame_source_t> bind_to_module(
    std::unique_ptr<video::frame_source_t> component,
    std::shared_ptr<const plugin_module_t> module);
std::unique_ptr<sample_source_t> bind_to_module(std::unique_ptr<sample_source_t> component,
                                                std::shared_ptr<const plugin_module_t> module);

// The factory of a loaded module, checked to be a `factory_interface_t`.
// create() forwards to the factory and binds the component to the module.
template <typename factory_interface_t>
class plugin_factory_t {
 public:
  explicit plugin_factory_t(const std::string& path) : module_(plugin_module_t::open(path)) {
    factory_ = dynamic_cast<const factory_interface_t*>(&module_->plugin());
    if (factory_ == nullptr) module_->throw_wrong_interface(typeid(factory_interface_t));
  }

  template <typename... args_t>
  auto create(args_t&&... args) const {
    return bind_to_module(factory_->create(std::forward<args_t>(args)...), module_);
  }

  const factory_interface_t& factory() const noexcept { return *factory_; }
  const std::shared_ptr<const plugin_module_t>& module() const noexcept { return module_; }

 private:
  std::shared_ptr<const plugin_module_t> module_;
  const factory_interface_t* factory_ = nullptr;
};

using video_decoder_plugin_t = plugin_factory_t<video_decoder_factory_t>;
using video_filter_resize_plugin_t = plugin_factory_t<video_filter_resize_factory_t>;
using video_encoder_plugin_t = plugin_factory_t<video_encoder_factory_t>;

}  // namespace vantor
