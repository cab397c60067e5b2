#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "transcode/video_base.hpp"

namespace vantor::stages {

// Places the pictures of its input, all of one size (a resize filter's
// tiles), on sprite sheets of `columns` x `rows` tiles in reading order, and
// passes on one picture per sheet. A sheet's time is its first tile's, so an
// encoder's sample for it lasts until the next sheet. Tiles of the last
// sheet that no picture fills stay black. Where each tile went is kept for
// the index of the sheets.
class sprite_compositor_t final : public video::frame_source_t {
 public:
  struct tile_t {
    uint64_t sheet = 0;  // 0-based
    unsigned column = 0;
    unsigned row = 0;
    uint64_t pts = 0;  // the picture's, in its timescale
  };

  // Throws 13 for a grid without tiles or a sheet larger than 32767 pixels
  // wide or high (JPEG's limit is 65535; libjpeg-turbo readers stop sooner).
  sprite_compositor_t(std::unique_ptr<video::frame_source_t> input, unsigned columns, unsigned rows);

  video::frame_t operator()() override;

  const std::vector<tile_t>& tiles() const noexcept { return tiles_; }
  // The end frame's time, once the input has ended.
  std::optional<uint64_t> end_pts() const noexcept { return end_ ? std::optional<uint64_t>(end_->pts_) : std::nullopt; }

 private:
  void place(const video::frame_t& tile);

  std::unique_ptr<video::frame_source_t> input_;
  unsigned const columns_;
  unsigned const rows_;
  std::optional<video::frame_t> sheet_;  // being filled
  unsigned placed_ = 0;          // tiles on sheet_
  uint64_t sheets_ = 0;          // sheets begun
  std::optional<video::frame_t> end_;
  std::vector<tile_t> tiles_;
};

}  // namespace vantor::stages
