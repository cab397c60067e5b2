#pragma once

// Synthetic pictures for the component tests: a detailed test pattern in any
// of the host's formats, a reader of frame planes that follows the documented
// layout, and a frame source that plays back a fixed list.

#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "transcode/video_base.hpp"

namespace vantor::testing {

using video::frame_t;

// The samples of a 4:2:0 picture, one value per entry in the format's bit
// depth (8 or 10 bits); chroma planes are (width/2) x (height/2).
struct planes_t {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint16_t> y, u, v;
};

inline bool is_ten_bit(frame_t::format_t format) {
  return format == frame_t::format_t::yuv420p10le;
}

// A pattern with smooth areas, fine detail and sharp edges, at video levels.
// U and V follow different shapes, so that a swap of the two shows.
inline planes_t make_pattern(uint32_t width, uint32_t height, bool ten_bit, int seed = 0) {
  const double luma_scale = ten_bit ? 876.0 : 219.0;
  const double luma_black = ten_bit ? 64.0 : 16.0;
  const double chroma_scale = ten_bit ? 896.0 : 224.0;
  const double chroma_zero = ten_bit ? 512.0 : 128.0;
  planes_t p{width, height, {}, {}, {}};
  p.y.resize(size_t{width} * height);
  for (uint32_t r = 0; r < height; ++r) {
    for (uint32_t c = 0; c < width; ++c) {
      double l = 0.5 + 0.3 * std::sin((c + 3.0 * seed) / 11.0) * std::cos(r / 17.0) +
                 0.15 * std::sin((c + r) / 3.0);
      if ((c / 32 + r / 32) % 5 == 0) l = 0.9;  // sharp-edged blocks
      l = std::fmin(1.0, std::fmax(0.0, l));
      p.y[size_t{r} * width + c] = static_cast<uint16_t>(std::lround(luma_black + luma_scale * l));
    }
  }
  const uint32_t cw = width / 2, ch = height / 2;
  p.u.resize(size_t{cw} * ch);
  p.v.resize(size_t{cw} * ch);
  for (uint32_t r = 0; r < ch; ++r) {
    for (uint32_t c = 0; c < cw; ++c) {
      const double u = 0.4 * std::sin(c / 23.0 + seed) * std::cos(r / 9.0);
      const double v = 0.45 * (static_cast<double>(r) / (ch ? ch : 1) - 0.5) +
                       0.1 * std::cos(c / 5.0);
      p.u[size_t{r} * cw + c] = static_cast<uint16_t>(std::lround(chroma_zero + chroma_scale * u));
      p.v[size_t{r} * cw + c] = static_cast<uint16_t>(std::lround(chroma_zero + chroma_scale * v));
    }
  }
  return p;
}

// Packs the planes into a frame_t in `format`, in the layout the host
// documents for frame_t::data_.
inline frame_t pack_frame(const planes_t& p, frame_t::format_t format, uint64_t pts,
                          uint32_t timescale = 1000, bool keyframe = true) {
  frame_t frame;
  frame.width_ = p.width;
  frame.height_ = p.height;
  frame.format_ = format;
  frame.pts_ = pts;
  frame.timescale_ = timescale;
  frame.keyframe_ = keyframe;
  std::vector<uint8_t>& d = frame.data_;
  auto put16 = [&d](uint16_t s) {
    d.push_back(static_cast<uint8_t>(s & 0xff));
    d.push_back(static_cast<uint8_t>(s >> 8));
  };
  switch (format) {
    case frame_t::format_t::nv12:
      d.assign(p.y.begin(), p.y.end());
      for (size_t i = 0; i < p.u.size(); ++i) {
        d.push_back(static_cast<uint8_t>(p.u[i]));
        d.push_back(static_cast<uint8_t>(p.v[i]));
      }
      break;
    case frame_t::format_t::yuv420p:
      for (const auto* plane : {&p.y, &p.u, &p.v})
        for (uint16_t s : *plane) d.push_back(static_cast<uint8_t>(s));
      break;
    case frame_t::format_t::yuv420p10le:
      for (const auto* plane : {&p.y, &p.u, &p.v})
        for (uint16_t s : *plane) put16(s);
      break;
  }
  return frame;
}

// The planes of a frame_t with even width and height.
inline planes_t unpack_frame(const frame_t& frame) {
  const uint32_t w = frame.width_, h = frame.height_;
  const size_t luma = size_t{w} * h, chroma = luma / 4;
  planes_t p{w, h, std::vector<uint16_t>(luma), std::vector<uint16_t>(chroma),
             std::vector<uint16_t>(chroma)};
  const uint8_t* d = frame.data_.data();
  switch (frame.format_) {
    case frame_t::format_t::nv12:
      for (size_t i = 0; i < luma; ++i) p.y[i] = d[i];
      for (size_t i = 0; i < chroma; ++i) {
        p.u[i] = d[luma + 2 * i];
        p.v[i] = d[luma + 2 * i + 1];
      }
      break;
    case frame_t::format_t::yuv420p:
      for (size_t i = 0; i < luma; ++i) p.y[i] = d[i];
      for (size_t i = 0; i < chroma; ++i) {
        p.u[i] = d[luma + i];
        p.v[i] = d[luma + chroma + i];
      }
      break;
    case frame_t::format_t::yuv420p10le: {
      auto at = [d](size_t sample) {
        return static_cast<uint16_t>(d[2 * sample] | (d[2 * sample + 1] << 8));
      };
      for (size_t i = 0; i < luma; ++i) p.y[i] = at(i);
      for (size_t i = 0; i < chroma; ++i) {
        p.u[i] = at(luma + i);
        p.v[i] = at(luma + chroma + i);
      }
      break;
    }
  }
  return p;
}

inline frame_t end_frame(uint64_t pts, uint32_t timescale = 1000) {
  frame_t frame;
  frame.pts_ = pts;
  frame.timescale_ = timescale;
  return frame;
}

// Plays back a list of frames, then returns `end` on every further pull.
// Counts its pulls in a counter the test keeps after handing the source on.
class scripted_source_t : public video::frame_source_t {
 public:
  scripted_source_t(std::vector<frame_t> frames, frame_t end,
                    std::shared_ptr<int> pulls = std::make_shared<int>(0))
      : frames_(std::move(frames)), end_(std::move(end)), pulls_(std::move(pulls)) {}

  frame_t operator()() override {
    ++*pulls_;
    if (next_ < frames_.size()) return std::move(frames_[next_++]);
    return end_;
  }

 private:
  std::vector<frame_t> frames_;
  frame_t end_;
  std::shared_ptr<int> pulls_;
  size_t next_ = 0;
};

inline std::unique_ptr<video::frame_source_t> play(std::vector<frame_t> frames, frame_t end,
                                                   std::shared_ptr<int> pulls = nullptr) {
  if (!pulls) pulls = std::make_shared<int>(0);
  return std::make_unique<scripted_source_t>(std::move(frames), std::move(end),
                                             std::move(pulls));
}

}  // namespace vantor::testing
