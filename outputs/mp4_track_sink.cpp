#include "outputs/mp4_track_sink.hpp"

#include <system_error>
#include <utility>

#include "outputs/picture_writers.hpp"
#include "outputs/staged_file.hpp"

namespace vantor::outputs {

mp4_track_sink_t::mp4_track_sink_t(std::filesystem::path path, bool overwrite)
    : path_(std::move(path)), temporary_(staged_file_t::temporary_name_of(path_)) {
  check_replaceable(path_, overwrite);
}

void mp4_track_sink_t::begin(const track_description_t& track) {
  writer_ = std::make_unique<mp4_track_writer_t>(temporary_, track.trak, track.first_dts);
}

void mp4_track_sink_t::finish(uint64_t) {
  if (!writer_) return;
  writer_->finish();
  writer_.reset();
  commit_staged(temporary_, path_);
}

void mp4_track_sink_t::abandon() noexcept {
  if (!writer_) return;
  // The partial track goes; the file it would replace stays.
  writer_.reset();
  std::error_code ignored;
  std::filesystem::remove(temporary_, ignored);
}

}  // namespace vantor::outputs
