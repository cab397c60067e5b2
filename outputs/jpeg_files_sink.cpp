#include "outputs/jpeg_files_sink.hpp"

namespace vantor::outputs {

jpeg_files_sink_t::jpeg_files_sink_t(const std::filesystem::path& folder, const char* pattern, bool overwrite)
    : files_(folder, pattern) {
  clear_earlier_series(folder, overwrite);
}

std::string jpeg_files_sink_t::summary() const {
  uint64_t const pictures = files_.count();
  if (pictures == 0) return files_.folder().string() + " (no pictures)";
  std::string text = files_.file_of(1).string();
  if (pictures > 1) text += " ... " + files_.file_of(pictures).string();
  return text;
}

}  // namespace vantor::outputs
