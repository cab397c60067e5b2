#include "outputs/mp4_track_sink.hpp"

#include <utility>

#include "outputs/picture_writers.hpp"
#include "outputs/staged_file.hpp"

namespace vantor::outputs {

mp4_track_sink_t::mp4_track_sink_t(std::filesystem::path path, bool overwrite) : path_(std::move(path)) {
  check_replaceable(path_, overwrite);
}

void mp4_track_sink_t::begin(const track_description_t& track) {
  file_ = std::make_unique<staging_t>(path_);
  writer_ = std::make_unique<mp4_track_writer_t>(*file_, track.trak, track.first_dts);
}

void mp4_track_sink_t::finish(uint64_t) {
  if (!writer_) return;
  writer_->finish();
  writer_.reset();
  file_->commit();
  file_.reset();
}

void mp4_track_sink_t::abandon() noexcept {
  // The partial track goes; the file it would replace stays.
  writer_.reset();
  file_.reset();
}

}  // namespace vantor::outputs
