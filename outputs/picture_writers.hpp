#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "mp4_full_sample.hpp"
#include "transcode/video_base.hpp"

namespace vantor::outputs {

// Writing the result failed; the message names the file and the cause.
class output_error_t : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The numbered series a run writes into its folder.
inline constexpr char picture_file_pattern[] = "%06llu.jpg";   // 000001.jpg, ...
inline constexpr char sheet_file_pattern[] = "sheet-%04llu.jpg"; // sheet-0001.jpg, ...

// FOLDER/000001.jpg for picture 1 of `pattern`.
std::filesystem::path numbered_file(const std::filesystem::path& folder, const char* pattern, uint64_t number);

// Writes each JPEG sample to its own file DIR/000001.jpg, DIR/000002.jpg, ...
// (or another numbered pattern). Every file is written under a temporary
// name and renamed once complete, before the next one is started, so the
// pictures written before a failure stay usable and no file is ever cut
// short.
class jpeg_folder_writer_t {
 public:
  // Creates `folder` (and its parents) when missing.
  explicit jpeg_folder_writer_t(std::filesystem::path folder, const char* pattern = picture_file_pattern);

  void write(const full_sample_t& sample);

  uint64_t count() const noexcept { return count_; }
  // DIR/000001.jpg for picture 1.
  std::filesystem::path file_of(uint64_t number) const;
  const std::filesystem::path& folder() const noexcept { return folder_; }

 private:
  std::filesystem::path folder_;
  const char* pattern_;
  uint64_t count_ = 0;
};

// A folder that holds a series of an earlier run (files named like either
// pattern) would end up a mix of old and new pictures. Without `overwrite`
// that is refused (output_error_t); with it, the old series is removed first.
void clear_earlier_series(const std::filesystem::path& folder, bool overwrite);
// The same for a single output file (--vtt, --mp4): refused when it exists,
// unless `overwrite`.
void check_replaceable(const std::filesystem::path& file, bool overwrite);

// Writes the planes of every picture back to back to a file, or to standard
// output for "-".
class raw_writer_t {
 public:
  explicit raw_writer_t(const std::string& target);
  ~raw_writer_t();
  raw_writer_t(const raw_writer_t&) = delete;
  raw_writer_t& operator=(const raw_writer_t&) = delete;

  void write(const video::frame_t& frame);
  // Flushes and closes; throws when the last bytes cannot be written.
  void finish();

  uint64_t count() const noexcept { return count_; }
  uint64_t bytes() const noexcept { return bytes_; }
  const std::string& name() const noexcept { return name_; }

 private:
  [[noreturn]] void fail(const char* what) const;

  std::string name_;
  std::FILE* file_ = nullptr;
  bool owns_file_ = false;
  uint64_t count_ = 0;
  uint64_t bytes_ = 0;
};

}  // namespace vantor::outputs
