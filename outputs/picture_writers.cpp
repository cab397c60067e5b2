#include "outputs/picture_writers.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <string_view>
#include <utility>
#include <vector>

#include "buckets.hpp"
#include "outputs/staged_file.hpp"

namespace vantor::outputs {

namespace {

std::string errno_text(int error) { return std::error_code(error, std::generic_category()).message(); }

struct file_closer_t {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

jpeg_folder_writer_t::jpeg_folder_writer_t(std::filesystem::path folder, const char* pattern)
    : folder_(std::move(folder)), pattern_(pattern) {
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error || !std::filesystem::is_directory(folder_)) {
    throw output_error_t(folder_.string() + ": cannot create the output folder: " +
                         (error ? error.message() : "a file of that name is in the way"));
  }
}

std::filesystem::path numbered_file(const std::filesystem::path& folder, const char* pattern, uint64_t number) {
  char name[32];
  std::snprintf(name, sizeof name, pattern, static_cast<unsigned long long>(number));
  return folder / name;
}

std::filesystem::path jpeg_folder_writer_t::file_of(uint64_t number) const {
  return numbered_file(folder_, pattern_, number);
}

void jpeg_folder_writer_t::write(const full_sample_t& sample) {
  staged_file_t file(file_of(count_ + 1));
  buckets_for_each(sample.data(), [&](const uint8_t* data, size_t size) { file.write(data, size); });
  file.commit();
  ++count_;
}

namespace {

// Whether `name` is NNNNNN.jpg or sheet-NNNN.jpg (any number of digits).
bool is_series_file(const std::string& name) {
  std::string_view rest(name);
  if (rest.size() < 5 || rest.substr(rest.size() - 4) != ".jpg") return false;
  rest.remove_suffix(4);
  if (rest.rfind("sheet-", 0) == 0) rest.remove_prefix(6);
  return !rest.empty() && rest.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

void clear_earlier_series(const std::filesystem::path& folder, bool overwrite) {
  std::error_code error;
  std::vector<std::filesystem::path> earlier;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (is_series_file(it->path().filename().string())) earlier.push_back(it->path());
  }
  if (earlier.empty()) return;
  std::sort(earlier.begin(), earlier.end());
  if (!overwrite) {
    throw output_error_t(folder.string() + ": holds " + std::to_string(earlier.size()) +
                         " pictures of an earlier run (" + earlier.front().filename().string() +
                         (earlier.size() > 1 ? " ... " + earlier.back().filename().string() : "") +
                         "); give --overwrite to replace them, or another -o folder");
  }
  for (const std::filesystem::path& path : earlier) {
    if (!std::filesystem::remove(path, error) && error) {
      throw output_error_t(path.string() + ": cannot remove the earlier picture: " + error.message());
    }
  }
}

void check_replaceable(const std::filesystem::path& file, bool overwrite) {
  std::error_code error;
  if (!overwrite && std::filesystem::exists(file, error)) {
    throw output_error_t(file.string() + ": exists already; give --overwrite to replace it");
  }
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

}  // namespace vantor::outputs
