#include "picture_writers.hpp"

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "buckets.hpp"

namespace vantor::tools {

namespace {

std::string errno_text(int error) { return std::error_code(error, std::generic_category()).message(); }

struct file_closer_t {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

jpeg_folder_writer_t::jpeg_folder_writer_t(std::filesystem::path folder)
    : folder_(std::move(folder)) {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error || !std::filesystem::is_directory(folder_)) {
    throw output_error_t(folder_.string() + ": cannot create the output folder: " +
                         (error ? error.message() : "a file of that name is in the way"));
  }
}

std::filesystem::path jpeg_folder_writer_t::file_of(uint64_t number) const {
  char name[32];
  std::snprintf(name, sizeof name, "%06llu.jpg", static_cast<unsigned long long>(number));
  return folder_ / name;
}

void jpeg_folder_writer_t::write(const full_sample_t& sample) {
  std::filesystem::path const path = file_of(count_ + 1);
  std::unique_ptr<std::FILE, file_closer_t> file(std::fopen(path.c_str(), "wb"));
  if (!file) throw output_error_t(path.string() + ": cannot create the file: " + errno_text(errno));
  bool written = true;
  buckets_for_each(sample.data(), [&](const uint8_t* data, size_t size) {
    if (written && std::fwrite(data, 1, size, file.get()) != size) written = false;
  });
  int const write_error = errno;
  if (!written) throw output_error_t(path.string() + ": cannot write the file: " + errno_text(write_error));
  if (std::fclose(file.release()) != 0)
    throw output_error_t(path.string() + ": cannot write the file: " + errno_text(errno));
  ++count_;
}

raw_writer_t::raw_writer_t(const std::string& target) : name_(target) {
  if (target == "-") {
    file_ = stdout;
    name_ = "standard output";
    return;
  }
  file_ = std::fopen(target.c_str(), "wb");
  if (file_ == nullptr) throw output_error_t(target + ": cannot create the file: " + errno_text(errno));
  owns_file_ = true;
}

raw_writer_t::~raw_writer_t() {
  if (owns_file_ && file_ != nullptr) std::fclose(file_);
}

void raw_writer_t::fail(const char* what) const {
  throw output_error_t(name_ + ": " + what + ": " + errno_text(errno));
}

void raw_writer_t::write(const video::frame_t& frame) {
  if (std::fwrite(frame.data_.data(), 1, frame.data_.size(), file_) != frame.data_.size())
    fail("cannot write");
  bytes_ += frame.data_.size();
  ++count_;
}

void raw_writer_t::finish() {
  if (file_ == nullptr) return;
  if (owns_file_) {
    std::FILE* const file = std::exchange(file_, nullptr);
    owns_file_ = false;
    if (std::fclose(file) != 0) fail("cannot write");
  } else if (std::fflush(file_) != 0) {
    fail("cannot write");
  }
}

}  // namespace vantor::tools
