// The orientation stage's turn of a 1920x1080 picture beside a plain copy of
// the same picture, both into a buffer of the right size, timed alternately
// in one loop so that both see the same machine. "ratio" is turn / copy.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "stages/orientation_stage.hpp"

namespace vantor::video {
namespace {

constexpr uint32_t width = 1920;
constexpr uint32_t height = 1080;

void turn_beside_copy(benchmark::State& state) {
  auto const format = static_cast<frame_t::format_t>(state.range(0));
  orientation_t const orientation{static_cast<uint16_t>(state.range(1)), state.range(2) != 0};
  std::vector<uint8_t> picture = create_frame_data(width, height, format, black_of(format));
  for (size_t i = 0; i < picture.size(); i += 7) picture[i] = static_cast<uint8_t>(i);
  std::vector<uint8_t> copied(picture.size()), turned(picture.size());
  using clock_t = std::chrono::steady_clock;
  double copy_seconds = 0, turn_seconds = 0;
  for (auto _ : state) {
    auto const start = clock_t::now();
    std::memcpy(copied.data(), picture.data(), picture.size());
    benchmark::ClobberMemory();
    auto const copied_at = clock_t::now();
    orient_pixels(picture, width, height, format, orientation, turned);
    benchmark::ClobberMemory();
    auto const turned_at = clock_t::now();
    double const turn = std::chrono::duration<double>(turned_at - copied_at).count();
    copy_seconds += std::chrono::duration<double>(copied_at - start).count();
    turn_seconds += turn;
    state.SetIterationTime(turn);
  }
  double const n = static_cast<double>(state.iterations());
  state.counters["copy_us"] = copy_seconds / n * 1e6;
  state.counters["turn_us"] = turn_seconds / n * 1e6;
  state.counters["ratio"] = copy_seconds > 0 ? turn_seconds / copy_seconds : 0;
  state.SetLabel(to_string(format) + " " + describe_orientation(orientation));
}

void all_cases(benchmark::internal::Benchmark* bench) {
  for (int format = 0; format < 3; ++format) {
    bench->Args({format, 90, 0})
        ->Args({format, 270, 0})
        ->Args({format, 180, 0})
        ->Args({format, 90, 1});
  }
  bench->UseManualTime()->Unit(benchmark::kMicrosecond);
}

BENCHMARK(turn_beside_copy)->Apply(all_cases);

}  // namespace
}  // namespace vantor::video

BENCHMARK_MAIN();
