#include "outputs/staged_file.hpp"

#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "outputs/picture_writers.hpp"

namespace vantor::outputs {

namespace {

std::string errno_text(int error) { return std::error_code(error, std::generic_category()).message(); }

}  // namespace

std::filesystem::path staged_file_t::temporary_name_of(const std::filesystem::path& path) {
  // Hidden, and named by the process, so that two runs never share one.
  return path.parent_path() / ("." + path.filename().string() + ".partial-" + std::to_string(getpid()));
}

staged_file_t::staged_file_t(std::filesystem::path path)
    : path_(std::move(path)), temporary_(temporary_name_of(path_)) {
  file_ = std::fopen(temporary_.c_str(), "wb");
  if (file_ == nullptr) {
    int const error = errno;
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
