#include "stages/colour_stage.hpp"

#include <cmath>
#include <sstream>
#include <utility>

#include "exception.hpp"

namespace vantor::stages {

namespace {

using frame_t = video::frame_t;

// A peak within this fraction of the one last logged is not logged again:
// every picture has a peak of its own, and a line per picture is level 3's.
constexpr double peak_change = 0.1;

std::string nits_text(double nits) { return std::to_string(std::lround(nits)) + " nits"; }

}  // namespace

colour_stage_t::colour_stage_t(log_context_t& log_context, std::unique_ptr<video::frame_source_t> input,
                               colour_settings_t settings)
    : log_context_(log_context),
      input_(std::move(input)),
      settings_(settings),
      bt601_(settings.for_jpeg ? frame_t::range_t::full : frame_t::range_t::limited) {
  VANTOR_CHECK(input_ != nullptr);
}

void colour_stage_t::log_mapping(const frame_t& picture, const hdr_peak_t& peak) {
  bool const changed = !logged_transfer_ || *logged_transfer_ != picture.transfer_ ||
                       logged_primaries_ != picture.primaries_ || logged_peak_.source != peak.source ||
                       std::abs(peak.nits - logged_peak_.nits) > peak_change * logged_peak_.nits;
  vantor_log_level_t const level = changed ? vantor_log_info : vantor_log_debug;
  if (log_context_.level < level) return;
  std::ostringstream line;
  line << "colour: mapping " << video::to_string(picture.transfer_) << " with "
       << video::to_string(picture.primaries_) << " primaries to SDR BT.709, peak "
       << nits_text(peak.nits) << " from " << to_string(peak.source);
  const frame_t::hdr_metadata_t& hdr = picture.hdr_;
  if (hdr.max_cll > 0 || hdr.mastering_max_nits > 0) {
    line << " (metadata:";
    if (hdr.mastering_max_nits > 0) line << " mastering display " << nits_text(hdr.mastering_max_nits);
    if (hdr.max_cll > 0) line << " MaxCLL " << nits_text(hdr.max_cll);
    line << ")";
  }
  log_context_.log_at_level(level, line.str());
  if (changed) {
    logged_transfer_ = picture.transfer_;
    logged_primaries_ = picture.primaries_;
    logged_peak_ = peak;
  }
}

frame_t colour_stage_t::operator()() {
  frame_t picture = (*input_)();
  if (picture.is_end_of_stream()) return picture;
  if (picture.is_hdr()) {
    if (!settings_.tone_map) return picture;
    hdr_peak_t const peak = hdr_to_sdr_.peak_of(picture);
    log_mapping(picture, peak);
    sdr_layout_t const layout = settings_.for_jpeg
                                    ? sdr_layout_t{frame_t::matrix_t::bt601, frame_t::range_t::full}
                                    : sdr_layout_t{frame_t::matrix_t::bt709, frame_t::range_t::limited};
    return hdr_to_sdr_(picture, layout, peak);
  }
  if (settings_.for_jpeg && bt601_matrix_t::applies_to(picture)) {
    if (!bt601_logged_ && log_context_.level >= vantor_log_info) {
      log_context_.log_at_level(vantor_log_info, "colour: turning BT.709 pictures into BT.601");
    }
    bt601_logged_ = true;
    bt601_(picture);
  }
  return picture;
}

}  // namespace vantor::stages
