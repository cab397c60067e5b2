#include "picture_observer.hpp"

namespace vantor::tools {

namespace {

std::string size_text(uint32_t width, uint32_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

bool picture_observer_t::operator()(const video::frame_t& frame) {
  if (limits_.stop_requested()) return false;
  if (pictures_ == 0) {
    first_pts_ = frame.pts_;
    width_ = frame.width_;
    height_ = frame.height_;
  } else if (needs_constant_size_ && (frame.width_ != width_ || frame.height_ != height_)) {
    stop_reason_ = "the picture size changes from " + size_text(width_, height_) + " to " +
                   size_text(frame.width_, frame.height_) + " at picture " + std::to_string(pictures_ + 1) +
                   "; JPEG output needs one size: add --size WxH (and --fit to keep the "
                   "aspect ratio)";
    return false;
  }
  ++pictures_;
  double const position = frame.timescale_ != 0 && frame.pts_ >= first_pts_
                              ? static_cast<double>(frame.pts_ - first_pts_) / frame.timescale_
                              : 0;
  progress_.update(pictures_, position);
  return true;
}

}  // namespace vantor::tools
