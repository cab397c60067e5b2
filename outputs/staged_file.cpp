#include "outputs/staged_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <system_error>
#include <utility>

#include "outputs/picture_writers.hpp"

namespace vantor::outputs {

namespace {

std::string errno_text(int error) { return std::error_code(error, std::generic_category()).message(); }

[[noreturn]] void fail_at(const std::filesystem::path& path, const char* what, int error) {
  throw output_error_t(path.string() + ": " + what + ": " + errno_text(error));
}

std::filesystem::path folder_of(const std::filesystem::path& path) {
  std::filesystem::path folder = path.parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

// Gives an unnamed file the name `name` (never an existing one). Through
// /proc any user may; without /proc only a privileged one.
int link_unnamed(int descriptor, const std::filesystem::path& name) noexcept {
  std::string const self = "/proc/self/fd/" + std::to_string(descriptor);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno == ENOENT && ::linkat(descriptor, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
  return -errno;
}

}  // namespace

std::filesystem::path staged_file_t::temporary_name_of(const std::filesystem::path& path) {
  // Hidden, and named by 64 random bits: nobody can plant a file or link of
  // that name ahead of us, nor two runs share one.
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char suffix[17];
  std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
  return path.parent_path() / ("." + path.filename().string() + ".partial-" + suffix);
}

int create_exclusively(const std::filesystem::path& path) noexcept {
  int const descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  return descriptor >= 0 ? descriptor : -errno;
}

staging_t::staging_t(std::filesystem::path path) : path_(std::move(path)) {
  descriptor_ = ::open(folder_of(path_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (descriptor_ >= 0) return;
  // No unnamed files here (or no folder: the named attempt says so).
  temporary_ = staged_file_t::temporary_name_of(path_);
  descriptor_ = create_exclusively(temporary_);
  if (descriptor_ < 0) fail_at(path_, "cannot create the file", -std::exchange(descriptor_, -1));
}

staging_t::~staging_t() {
  if (descriptor_ >= 0) ::close(descriptor_);
  if (!committed_ && !temporary_.empty()) {
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);
  }
}

void staging_t::commit() {
  // linkat cannot replace a name: the file gets a hidden one first, and the
  // rename replaces whatever is at the final name, a link included.
  if (temporary_.empty()) {
    std::filesystem::path const name = staged_file_t::temporary_name_of(path_);
    if (int const linked = link_unnamed(descriptor_, name); linked < 0) {
      fail_at(path_, "cannot put the file in place", -linked);
    }
    temporary_ = name;
  }
  // A delayed write error (a network file system) shows only at close.
  if (::close(std::exchange(descriptor_, -1)) != 0) fail_at(path_, "cannot write the file", errno);
  std::error_code error;
  std::filesystem::rename(temporary_, path_, error);
  if (error) throw output_error_t(path_.string() + ": cannot put the file in place: " + error.message());
  committed_ = true;
}

staged_file_t::staged_file_t(std::filesystem::path path) : staging_(std::move(path)) {
  int const descriptor = ::dup(staging_.descriptor());
  if (descriptor >= 0) file_ = ::fdopen(descriptor, "wb");
  if (file_ == nullptr) {
    int const error = errno;
    if (descriptor >= 0) ::close(descriptor);
    fail_at(staging_.path(), "cannot create the file", error);
  }
}

staged_file_t::~staged_file_t() {
  if (file_ != nullptr) std::fclose(file_);
}

void staged_file_t::write(const void* data, size_t size) {
  if (size != 0 && std::fwrite(data, 1, size, file_) != size) fail_at(staging_.path(), "cannot write the file", errno);
}

void staged_file_t::commit() {
  std::FILE* const file = std::exchange(file_, nullptr);
  // A full disk often shows only when the buffered bytes are flushed.
  if (std::fclose(file) != 0) fail_at(staging_.path(), "cannot write the file", errno);
  staging_.commit();
}

}  // namespace vantor::outputs
