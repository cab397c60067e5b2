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

  // A fresh temporary name beside `path`, unpredictable, for writers that
  // create their file themselves (with create_exclusively()).
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

// Creates `path` for writing, only if nothing of that name exists and never
// through a link: a name planted in a shared folder cannot redirect the
// bytes. The descriptor, or -errno.
int create_exclusively(const std::filesystem::path& path) noexcept;

// Renames a finished temporary file into place (a link at `path` is
// replaced, not followed); throws output_error_t.
void commit_staged(const std::filesystem::path& temporary, const std::filesystem::path& path);

}  // namespace vantor::outputs
