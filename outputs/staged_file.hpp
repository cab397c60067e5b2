#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace vantor::outputs {

// A file made beside its final name and put there only once complete, so
// that a full disk, a failure or Ctrl-C never leaves a truncated file under
// the final name. Where the file system allows (O_TMPFILE), the file has no
// name at all until then, and a run killed outright leaves nothing behind;
// elsewhere it is a hidden name of 64 random bits, created exclusively.
// Nothing planted in the folder can redirect its bytes either way. Dropped
// unfinished, the file goes.
class staging_t {
 public:
  // Throws output_error_t "<path>: cannot create the file: <cause>".
  explicit staging_t(std::filesystem::path path);
  ~staging_t();
  staging_t(const staging_t&) = delete;
  staging_t& operator=(const staging_t&) = delete;

  int descriptor() const noexcept { return descriptor_; }
  // The final name.
  const std::filesystem::path& path() const noexcept { return path_; }
  // Closes the file and puts it under its final name (a link there is
  // replaced, not followed); throws output_error_t naming the final path.
  void commit();

 private:
  std::filesystem::path const path_;
  std::filesystem::path temporary_;  // empty while the file has no name
  int descriptor_ = -1;
  bool committed_ = false;
};

// Buffered writing into a staging_t.
class staged_file_t {
 public:
  // Throws output_error_t naming `path` when the file cannot be made.
  explicit staged_file_t(std::filesystem::path path);
  ~staged_file_t();
  staged_file_t(const staged_file_t&) = delete;
  staged_file_t& operator=(const staged_file_t&) = delete;

  // A fresh hidden name beside `path`, unpredictable.
  static std::filesystem::path temporary_name_of(const std::filesystem::path& path);

  // Both throw output_error_t naming the final path and the cause.
  void write(const void* data, size_t size);
  void commit();

 private:
  staging_t staging_;
  std::FILE* file_ = nullptr;
};

// Creates `path` for writing, only if nothing of that name exists and never
// through a link: a name planted in a shared folder cannot redirect the
// bytes. The descriptor, or -errno.
int create_exclusively(const std::filesystem::path& path) noexcept;

}  // namespace vantor::outputs
