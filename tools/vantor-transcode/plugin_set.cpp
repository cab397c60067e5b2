#include "plugin_set.hpp"

#include <filesystem>

#include "exception.hpp"

namespace vantor::tools {

template <typename plugin_t>
plugin_t plugin_set_t::get(std::optional<plugin_t>& slot, std::string_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!slot) {
    std::string const path =
        (std::filesystem::path(folder_) / ("libvantor_" + std::string(name) + ".so")).string();
    try {
      slot.emplace(path);
    } catch (const exception& e) {
      throw plugin_error_t(std::string(e.what()) + " (see --plugins)");
    }
  }
  // A copy shares the module: it stays loaded while a component needs it.
  return *slot;
}

template video_decoder_plugin_t plugin_set_t::get(std::optional<video_decoder_plugin_t>&,
                                                  std::string_view);
template video_filter_resize_plugin_t plugin_set_t::get(
    std::optional<video_filter_resize_plugin_t>&, std::string_view);
template video_encoder_plugin_t plugin_set_t::get(std::optional<video_encoder_plugin_t>&,
                                                  std::string_view);

}  // namespace vantor::tools
