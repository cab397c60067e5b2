#include "stages/sprite_compositor.hpp"

#include <cstring>
#include <string>
#include <utility>

#include "exception.hpp"

namespace vantor::stages {

namespace {

// One plane of a picture: where it starts, and the bytes and rows of it.
struct plane_t {
  size_t offset;
  size_t row_bytes;
  size_t rows;
};

std::vector<plane_t> planes_of(uint32_t width, uint32_t height, video::frame_t::format_t format) {
  size_t const w = width;
  size_t const h = height;
  switch (format) {
    case video::frame_t::format_t::nv12: return {{0, w, h}, {w * h, w, h / 2}};
    case video::frame_t::format_t::yuv420p:
      return {{0, w, h}, {w * h, w / 2, h / 2}, {w * h + (w / 2) * (h / 2), w / 2, h / 2}};
    case video::frame_t::format_t::yuv420p10le:
      return {{0, 2 * w, h}, {2 * w * h, w, h / 2}, {2 * w * h + w * (h / 2), w, h / 2}};
  }
  video::invalid_frame_format(format);
}

video::yuv_t black_for(const video::frame_t& frame) {
  video::yuv_t black = video::black_of(frame.format_);
  if (frame.range_ == video::frame_t::range_t::full) black.y = 0;
  return black;
}

}  // namespace

sprite_compositor_t::sprite_compositor_t(std::unique_ptr<video::frame_source_t> input, unsigned columns,
                                         unsigned rows)
    : input_(std::move(input)), columns_(columns), rows_(rows) {
  VANTOR_CHECK(input_);
  if (columns_ == 0 || rows_ == 0) {
    throw vantor::exception(vantor_result_check_failed, "sprite_compositor: a sheet needs at least one tile");
  }
}

void sprite_compositor_t::place(const video::frame_t& tile) {
  if (!sheet_) {
    if (uint64_t{tile.width_} * columns_ > 32767 || uint64_t{tile.height_} * rows_ > 32767) {
      throw vantor::exception(vantor_result_check_failed,
                              "sprite_compositor: a sheet of " + std::to_string(columns_) + "x" +
                                  std::to_string(rows_) + " tiles of " + std::to_string(tile.width_) +
                                  "x" + std::to_string(tile.height_) + " is larger than 32767 pixels");
    }
    video::frame_t sheet;
    sheet.width_ = tile.width_ * columns_;
    sheet.height_ = tile.height_ * rows_;
    sheet.format_ = tile.format_;
    sheet.timescale_ = tile.timescale_;
    sheet.pts_ = tile.pts_;
    sheet.keyframe_ = true;
    sheet.set_colour(tile.colour());
    sheet.data_ = video::create_frame_data(sheet.width_, sheet.height_, sheet.format_, black_for(tile));
    sheet_ = std::move(sheet);
    placed_ = 0;
    ++sheets_;
  }
  video::frame_t& sheet = *sheet_;
  VANTOR_CHECK(tile.width_ * columns_ == sheet.width_ && tile.height_ * rows_ == sheet.height_ &&
               tile.format_ == sheet.format_ && "tiles of one size and format");
  unsigned const column = placed_ % columns_;
  unsigned const row = placed_ / columns_;
  std::vector<plane_t> const from = planes_of(tile.width_, tile.height_, tile.format_);
  std::vector<plane_t> const to = planes_of(sheet.width_, sheet.height_, sheet.format_);
  for (size_t p = 0; p < from.size(); ++p) {
    for (size_t y = 0; y < from[p].rows; ++y) {
      std::memcpy(sheet.data_.data() + to[p].offset + (row * from[p].rows + y) * to[p].row_bytes +
                      column * from[p].row_bytes,
                  tile.data_.data() + from[p].offset + y * from[p].row_bytes, from[p].row_bytes);
    }
  }
  tiles_.push_back({sheets_ - 1, column, row, tile.pts_});
  ++placed_;
}

video::frame_t sprite_compositor_t::operator()() {
  for (;;) {
    if (end_ && !sheet_) return *end_;
    if (!end_) {
      video::frame_t tile = (*input_)();
      if (tile.is_end_of_stream()) {
        end_ = std::move(tile);
        input_.reset();
      } else {
        place(tile);
        if (placed_ < columns_ * rows_) continue;
      }
    }
    if (sheet_) {
      video::frame_t sheet = std::move(*sheet_);
      sheet_.reset();
      return sheet;
    }
  }
}

}  // namespace vantor::stages
