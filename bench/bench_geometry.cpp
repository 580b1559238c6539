// Cost per call of the direction and distance helpers, which run in the inner
// loops of the minutiae stages and of the matcher.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "geometry/geometry.h"
#include "random.h"

namespace {

struct Segment {
  int32_t x1, y1, x2, y2;
};

// Point pairs like those of a 256 x 288 image; a few far apart, most near.
std::vector<Segment> MakeSegments(int32_t spread) {
  vorsensor::testing::TestRandom random(42);
  std::vector<Segment> segments(4096);
  for (Segment& s : segments) {
    s.x1 = random.Range(0, 255);
    s.y1 = random.Range(0, 287);
    s.x2 = s.x1 + random.Range(-spread, spread);
    s.y2 = s.y1 + random.Range(-spread, spread);
  }
  return segments;
}

void BM_DirectionOf(benchmark::State& state) {
  const std::vector<Segment> segments = MakeSegments(static_cast<int32_t>(state.range(0)));
  size_t i = 0;
  for (auto _ : state) {
    const Segment& s = segments[i++ & (segments.size() - 1)];
    benchmark::DoNotOptimize(vorsensor::DirectionOf(s.x1, s.y1, s.x2, s.y2));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DirectionOf)->Arg(40)->Arg(300);

void BM_DistanceOf(benchmark::State& state) {
  const std::vector<Segment> segments = MakeSegments(static_cast<int32_t>(state.range(0)));
  size_t i = 0;
  for (auto _ : state) {
    const Segment& s = segments[i++ & (segments.size() - 1)];
    benchmark::DoNotOptimize(vorsensor::DistanceOf(s.x1, s.y1, s.x2, s.y2));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DistanceOf)->Arg(40)->Arg(300);

void BM_Distance3Of(benchmark::State& state) {
  vorsensor::testing::TestRandom random(9);
  std::vector<int32_t> values(4096);
  for (int32_t& v : values) v = random.Range(-20, 200);
  size_t i = 0;
  for (auto _ : state) {
    const size_t k = i++ & (values.size() - 1);
    benchmark::DoNotOptimize(vorsensor::Distance3Of(values[k], values[(k + 1) & 4095], values[(k + 2) & 4095]));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Distance3Of);

}  // namespace

BENCHMARK_MAIN();
