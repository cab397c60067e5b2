#include "outputs/staged_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>
#include <utility>

#include "outputs/picture_writers.hpp"

namespace vantor::outputs {

namespace {

std::string errno_text(int error) { return std::error_code(error, std::generic_category()).message(); }

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

staged_file_t::staged_file_t(std::filesystem::path path)
    : path_(std::move(path)), temporary_(temporary_name_of(path_)) {
  int const descriptor = create_exclusively(temporary_);
  if (descriptor >= 0) file_ = ::fdopen(descriptor, "wb");
  if (file_ == nullptr) {
    int const error = descriptor < 0 ? -descriptor : errno;
    if (descriptor >= 0) {
      ::close(descriptor);
      std::error_code ignored;
      std::filesystem::remove(temporary_, ignored);
    }
    throw output_error_t(path_.string() + ": cannot create the file: " + errno_text(error));
  }
}

staged_file_t::~staged_file_t() {
  if (file_ != nullptr) std::fclose(file_);
  if (!committed_) {
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);
  }
}

void staged_file_t::fail(const char* what, int error) {
  throw output_error_t(path_.string() + ": " + what + ": " + errno_text(error));
}

void staged_file_t::write(const void* data, size_t size) {
  if (size != 0 && std::fwrite(data, 1, size, file_) != size) fail("cannot write the file", errno);
}

void staged_file_t::commit() {
  std::FILE* const file = std::exchange(file_, nullptr);
  // A full disk often shows only when the buffered bytes are flushed.
  if (std::fclose(file) != 0) fail("cannot write the file", errno);
  commit_staged(temporary_, path_);
  committed_ = true;
}

void commit_staged(const std::filesystem::path& temporary, const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) throw output_error_t(path.string() + ": cannot put the file in place: " + error.message());
}

}  // namespace vantor::outputs
