#pragma once

#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "plugin_loader.hpp"

namespace vantor::tools {

// The plug-in modules cannot be loaded or do not fit.
class plugin_error_t : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr char avc_decoder_name[] = "video_decoder_avc_avcodec";
inline constexpr char hvc_decoder_name[] = "video_decoder_hvc_avcodec";
inline constexpr char resize_filter_name[] = "video_filter_resize_swscale";
inline constexpr char jpeg_encoder_name[] = "video_encoder_jpg_avcodec";

// The plug-in modules of one folder, each loaded on first use and kept until
// the set goes away: the chains of a batch share one load of each module
// instead of loading and unloading FFmpeg once per input. Thread-safe; the
// factories handed out may create components on several threads at once.
// A module that fails to load is tried again by the next caller, so that
// every chain reports the failure itself.
class plugin_set_t {
 public:
  explicit plugin_set_t(std::string folder) : folder_(std::move(folder)) {}
  plugin_set_t(const plugin_set_t&) = delete;
  plugin_set_t& operator=(const plugin_set_t&) = delete;

  // Each throws plugin_error_t naming the module file and the cause.
  video_decoder_plugin_t avc_decoder() { return get(avc_decoder_, avc_decoder_name); }
  video_decoder_plugin_t hvc_decoder() { return get(hvc_decoder_, hvc_decoder_name); }
  video_filter_resize_plugin_t resize_filter() { return get(resize_filter_, resize_filter_name); }
  video_encoder_plugin_t jpeg_encoder() { return get(jpeg_encoder_, jpeg_encoder_name); }

  const std::string& folder() const noexcept { return folder_; }

 private:
  template <typename plugin_t>
  plugin_t get(std::optional<plugin_t>& slot, std::string_view name);

  std::string const folder_;
  std::mutex mutex_;
  std::optional<video_decoder_plugin_t> avc_decoder_;
  std::optional<video_decoder_plugin_t> hvc_decoder_;
  std::optional<video_filter_resize_plugin_t> resize_filter_;
  std::optional<video_encoder_plugin_t> jpeg_encoder_;
};

}  // namespace vantor::tools
