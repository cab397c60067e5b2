#include "tool_version.hpp"

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <optional>
#include <vector>

#ifndef VANTOR_VERSION
#error "the build passes the project's version as VANTOR_VERSION"
#endif

namespace vantor::tools {

namespace {

// The tool has no FFmpeg headers and links no libavcodec of its own: it asks
// the libraries that are loaded, which are the ones the modules use (the
// loader shares a library among all who need its name).
class loaded_library_t {
 public:
  // The loaded object whose file name starts with `prefix`, e.g. "libavcodec.so".
  explicit loaded_library_t(const char* prefix) {
    struct search_t {
      const char* prefix;
      std::string path;
    } search{prefix, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
          auto& search = *static_cast<search_t*>(data);
          if (info->dlpi_name == nullptr) return 0;
          const char* const slash = std::strrchr(info->dlpi_name, '/');
          const char* const name = slash != nullptr ? slash + 1 : info->dlpi_name;
          if (std::strncmp(name, search.prefix, std::strlen(search.prefix)) != 0) return 0;
          search.path = info->dlpi_name;
          return 1;
        },
        &search);
    // RTLD_NOLOAD: a reference to the loaded copy, never a second one.
    if (!search.path.empty()) handle_ = dlopen(search.path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  }
  ~loaded_library_t() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  loaded_library_t(const loaded_library_t&) = delete;
  loaded_library_t& operator=(const loaded_library_t&) = delete;

  void* symbol(const char* name) const { return handle_ != nullptr ? dlsym(handle_, name) : nullptr; }

 private:
  void* handle_ = nullptr;
};

// "libavcodec 61.19.101" from the library's *_version(), which packs
// major << 16 | minor << 8 | micro.
std::optional<std::string> library_version(const char* library, const char* function) {
  loaded_library_t const loaded((std::string(library) + ".so").c_str());
  auto const version = reinterpret_cast<unsigned (*)()>(loaded.symbol(function));
  if (version == nullptr) return std::nullopt;
  unsigned const packed = version();
  return std::string(library) + " " + std::to_string(packed >> 16) + "." +
         std::to_string((packed >> 8) & 0xff) + "." + std::to_string(packed & 0xff);
}

std::optional<std::string> ffmpeg_release() {
  loaded_library_t const loaded("libavutil.so");
  auto const release = reinterpret_cast<const char* (*)()>(loaded.symbol("av_version_info"));
  if (release == nullptr || release() == nullptr) return std::nullopt;
  return std::string("FFmpeg ") + release();
}

}  // namespace

std::string version_text(plugin_set_t& modules, std::string* problem) {
  // Loading the modules brings in what they link: the decoder libavcodec and
  // libavutil, the resize filter libswscale.
  try {
    modules.avc_decoder();
    modules.resize_filter();
  } catch (const plugin_error_t& e) {
    if (problem != nullptr) *problem = e.what();
  }
  std::vector<std::string> parts;
  for (const std::optional<std::string>& part :
       {ffmpeg_release(), library_version("libavcodec", "avcodec_version"),
        library_version("libavutil", "avutil_version"),
        library_version("libswscale", "swscale_version")}) {
    if (part) parts.push_back(*part);
  }
  std::string text = "vantor-transcode " VANTOR_VERSION;
  for (size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? " (" : ", ") + parts[i];
  return parts.empty() ? text : text + ")";
}

}  // namespace vantor::tools
