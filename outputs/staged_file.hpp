#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace vantor::outputs {

// A file written under a temporary name beside its final one and renamed
// into place once complete, so that a full disk, a failure or Ctrl-C never
// leaves a truncated file under the final name. Dropped unfinished, the
// temporary file is removed.
class staged_file_t {
 public:
  // Throws output_error_t naming `path` when the temporary file cannot be made.
  explicit staged_file_t(std::filesystem::path path);
  ~staged_file_t();
  staged_file_t(const staged_file_t&) = delete;
  staged_file_t& operator=(const staged_file_t&) = delete;

  // The temporary name, for writers (libavformat) that open files themselves.
  static std::filesystem::path temporary_name_of(const std::filesystem::path& path);

  // Both throw output_error_t naming the final path and the cause.
  void write(const void* data, size_t size);
  void commit();

 private:
  [[noreturn]] void fail(const char* what, int error);

  std::filesystem::path const path_;
  std::filesystem::path const temporary_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
};

// Renames a finished temporary file into place; throws output_error_t.
void commit_staged(const std::filesystem::path& temporary, const std::filesystem::path& path);

}  // namespace vantor::outputs
