#include "tool_locations.hpp"

#include <filesystem>
#include <system_error>

namespace vantor::tools {

namespace {
constexpr char bundled_clip_name[] = "h264_high_bframes.mp4";
}

std::string executable_folder() {
  std::error_code error;
  std::filesystem::path const exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : exe.parent_path().string();
}

std::string bundled_clip_path() {
  std::error_code error;
  std::string const folder = executable_folder();
  if (!folder.empty()) {
    std::filesystem::path const installed =
        std::filesystem::path(folder) / ".." / "share" / "vantor-ffmpeg" / bundled_clip_name;
    if (std::filesystem::is_regular_file(installed, error)) return installed.lexically_normal().string();
  }
#ifdef VANTOR_SOURCE_DATA_DIR
  std::filesystem::path const source = std::filesystem::path(VANTOR_SOURCE_DATA_DIR) / bundled_clip_name;
  if (std::filesystem::is_regular_file(source, error)) return source.string();
#endif
  return {};
}

std::string default_plugins_folder() {
  std::string const folder = executable_folder();
  if (folder.empty()) return "plugins";
  return (std::filesystem::path(folder) / ".." / "plugins").lexically_normal().string();
}

}  // namespace vantor::tools
