#include "plugin_loader.hpp"

#include <cxxabi.h>
#include <dlfcn.h>

#include <cstdlib>

#include "exception.hpp"

namespace vantor {

namespace {

std::string last_dl_error() {
  const char* const text = dlerror();
  return text != nullptr ? text : "no further detail from the dynamic loader";
}

std::string demangled(const char* name) {
  // GCC marks types private to one translation unit with a leading '*'.
  if (*name == '*') ++name;
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> text(abi::__cxa_demangle(name, nullptr, nullptr, &status),
                                              std::free);
  return status == 0 && text ? std::string(text.get()) : std::string(name);
}

// Closes a dlopen() handle unless ownership has been handed on.
struct dl_handle_t {
  void* handle;
  ~dl_handle_t() {
    if (handle != nullptr) dlclose(handle);
  }
  void* release() noexcept { return std::exchange(handle, nullptr); }
};

class module_bound_frame_source_t final : public video::frame_source_t {
 public:
  module_bound_frame_source_t(std::unique_ptr<video::frame_source_t> component,
                              std::shared_ptr<const plugin_module_t> module)
      : module_(std::move(module)), component_(std::move(component)) {}

  video::frame_t operator()() override { return (*component_)(); }

 private:
  // Declared first, destroyed last: the component's code must stay loaded
  // until the component is gone.
  std::shared_ptr<const plugin_module_t> module_;
  std::unique_ptr<video::frame_source_t> component_;
};

class module_bound_sample_source_t final : public sample_source_t {
 public:
  module_bound_sample_source_t(std::unique_ptr<sample_source_t> component,
                               std::shared_ptr<const plugin_module_t> module)
      : module_(std::move(module)), component_(std::move(component)) {}

  const trak_t& trak() const override { return component_->trak(); }
  uint64_t first_dts() const override { return component_->first_dts(); }
  std::optional<full_sample_t> read_sample() override { return component_->read_sample(); }

 private:
  std::shared_ptr<const plugin_module_t> module_;
  std::unique_ptr<sample_source_t> component_;
};

}  // namespace

plugin_module_t::plugin_module_t(std::string path, void* handle, plugin_t* plugin)
    : path_(std::move(path)), handle_(handle), plugin_(plugin) {}

plugin_module_t::~plugin_module_t() { dlclose(handle_); }

std::shared_ptr<const plugin_module_t> plugin_module_t::open(const std::string& path) {
  dlerror();
  dl_handle_t handle{dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)};
  if (handle.handle == nullptr) {
    throw (exception_builder_t(vantor_result_io_error)
           << "cannot load plug-in module '" << path << "': " << last_dl_error())
        .exception();
  }
  dlerror();
  void* const symbol = dlsym(handle.handle, plugin_entry_point_name);
  if (symbol == nullptr) {
    throw (exception_builder_t(vantor_result_check_failed)
           << "'" << path << "' is not a plug-in module: it has no entry point "
           << plugin_entry_point_name << ": " << last_dl_error())
        .exception();
  }
  plugin_t* const plugin = reinterpret_cast<plugin_entry_point_t>(symbol)();
  if (plugin == nullptr) {
    throw (exception_builder_t(vantor_result_check_failed)
           << "plug-in module '" << path << "': " << plugin_entry_point_name
           << " returned no plug-in object")
        .exception();
  }
  std::string path_copy = path;
  std::unique_ptr<const plugin_module_t> module(
      new plugin_module_t(std::move(path_copy), handle.handle, plugin));
  handle.release();
  // Should the shared owner fail to allocate, `module` still closes the handle.
  return std::shared_ptr<const plugin_module_t>(std::move(module));
}

void plugin_module_t::throw_wrong_interface(const std::type_info& expected) const {
  throw (exception_builder_t(vantor_result_check_failed)
         << "plug-in module '" << path_ << "' provides a " << demangled(typeid(*plugin_).name())
         << ", not a " << demangled(expected.name()))
      .exception();
}

std::unique_ptr<video::frame_source_t> bind_to_module(
    std::unique_ptr<video::frame_source_t> component,
    std::shared_ptr<const plugin_module_t> module) {
  return std::make_unique<module_bound_frame_source_t>(std::move(component), std::move(module));
}

std::unique_ptr<sample_source_t> bind_to_module(std::unique_ptr<sample_source_t> component,
                                                std::shared_ptr<const plugin_module_t> module) {
  return std::make_unique<module_bound_sample_source_t>(std::move(component), std::move(module));
}

}  // namespace vantor
