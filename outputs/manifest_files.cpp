#include "outputs/manifest_files.hpp"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

#include "outputs/picture_writers.hpp"
#include "outputs/staged_file.hpp"

namespace vantor::outputs {

std::string read_manifest(const std::filesystem::path& path) {
  auto const fail = [&](int error) {
    throw output_error_t(path.string() + ": cannot read the file: " +
                         std::error_code(error, std::generic_category()).message());
  };
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) fail(errno);
  std::string text;
  char block[65536];
  while (size_t const got = std::fread(block, 1, sizeof block, file.get())) text.append(block, got);
  if (std::ferror(file.get())) fail(errno);
  return text;
}

void write_manifest(const std::filesystem::path& path, const std::string& text) {
  staged_file_t file(path);
  file.write(text.data(), text.size());
  file.commit();
}

}  // namespace vantor::outputs
