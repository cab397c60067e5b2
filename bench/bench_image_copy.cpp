// Throughput of the copies between frame_t and FFmpeg images at 1920x1080,
// in bytes per second of picture data, beside a plain memcpy of as many bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "ffmpeg_utils/ffmpeg_utils.hpp"

namespace vantor::video {
namespace {

constexpr uint32_t width = 1920;
constexpr uint32_t height = 1080;

frame_t::format_t format_of(const benchmark::State& state) {
  return static_cast<frame_t::format_t>(state.range(0));
}

frame_t make_frame(frame_t::format_t format) {
  frame_t frame;
  frame.width_ = width;
  frame.height_ = height;
  frame.format_ = format;
  frame.timescale_ = 90000;
  frame.data_ = create_frame_data(width, height, format, black_of(format));
  for (size_t i = 0; i < frame.data_.size(); i += 7) frame.data_[i] = static_cast<uint8_t>(i);
  return frame;
}

void set_label(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
  state.SetLabel(to_string(format_of(state)));
}

void memcpy_same_bytes(benchmark::State& state) {
  size_t const bytes = frame_data_size(width, height, format_of(state));
  std::vector<uint8_t> from(bytes, 1), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  set_label(state, bytes);
}

void frame_to_avimage_1080p(benchmark::State& state) {
  frame_t const frame = make_frame(format_of(state));
  wrap_avimage_t image(width, height, to_avpixelformat(frame.format_));
  for (auto _ : state) {
    frame_to_avimage(frame, image.planes, image.strides);
    benchmark::ClobberMemory();
  }
  set_label(state, frame.data_.size());
}

void avimage_to_frame_1080p(benchmark::State& state, uint32_t crop_x, uint32_t crop_w) {
  frame_t const frame = make_frame(format_of(state));
  wrap_avimage_t image(crop_w ? crop_w : width, height, to_avpixelformat(frame.format_));
  for (auto _ : state) {
    frame_t out = avimage_to_frame(image.planes, image.strides, width, height, frame.format_, crop_x,
                                   0, crop_w, 0, 0, 90000, true);
    benchmark::DoNotOptimize(out.data_.data());
  }
  set_label(state, frame.data_.size());
}

void avimage_to_frame_full(benchmark::State& state) { avimage_to_frame_1080p(state, 0, 0); }
// A 4:3 picture pillarboxed into the 16:9 frame.
void avimage_to_frame_letterboxed(benchmark::State& state) {
  avimage_to_frame_1080p(state, 240, 1440);
}

void avframe_to_frame_1080p(benchmark::State& state) {
  frame_t::format_t const format = format_of(state);
  wrap_avframe_t avframe(width, height, to_avpixelformat(format), std::nullopt, 30, 0, true);
  frame_to_avimage(make_frame(format), avframe->data, avframe->linesize);
  for (auto _ : state) {
    frame_t out = avframe_to_frame(avframe, 0, 90000);
    benchmark::DoNotOptimize(out.data_.data());
  }
  set_label(state, frame_data_size(width, height, format));
}

void all_formats(benchmark::internal::Benchmark* bench) {
  bench->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
}

BENCHMARK(memcpy_same_bytes)->Apply(all_formats);
BENCHMARK(frame_to_avimage_1080p)->Apply(all_formats);
BENCHMARK(avimage_to_frame_full)->Apply(all_formats);
BENCHMARK(avimage_to_frame_letterboxed)->Apply(all_formats);
BENCHMARK(avframe_to_frame_1080p)->Apply(all_formats);

}  // namespace
}  // namespace vantor::video

BENCHMARK_MAIN();
