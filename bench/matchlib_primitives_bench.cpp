// Speed of the matcher library's pixel primitives that the extraction
// pipelines run on every image: the 3x3 median, the resize (exact halving,
// smoothed halving and interpolation), the cell-map expansion and the
// block fitting, on a 400 x 300 image.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "zylscan/matchlib_cell_map.h"
#include "zylscan/matchlib_filters3x3.h"
#include "zylscan/matchlib_rescale.h"
#include "zylscan/matchlib_window.h"

namespace {

constexpr uint32_t kH = 400, kW = 300;

const std::vector<uint8_t>& pixels() {
  static const std::vector<uint8_t> img = [] {
    std::mt19937 rng(7);
    std::vector<uint8_t> v(kH * kW);
    for (auto& p : v) p = static_cast<uint8_t>(rng() % 256);
    return v;
  }();
  return img;
}

void BM_MatchlibMedian3x3(benchmark::State& state) {
  std::vector<uint8_t> out(kH * kW);
  for (auto _ : state) benchmark::DoNotOptimize(filter_median3x3_u8(pixels().data(), kH, kW, out.data()));
}
BENCHMARK(BM_MatchlibMedian3x3);

// Targets: an exact halving, a halving then interpolation, an odd source
// (smoothed halving), and an enlargement.
void BM_MatchlibResize(benchmark::State& state) {
  const uint32_t sh = static_cast<uint32_t>(state.range(0)), sw = static_cast<uint32_t>(state.range(1));
  const uint32_t h = static_cast<uint32_t>(state.range(2)), w = static_cast<uint32_t>(state.range(3));
  std::vector<uint8_t> out(h * w);
  for (auto _ : state) benchmark::DoNotOptimize(img_resize_u8(pixels().data(), sh, sw, out.data(), h, w));
}
BENCHMARK(BM_MatchlibResize)
    ->Args({400, 300, 200, 150})
    ->Args({400, 300, 100, 70})
    ->Args({399, 299, 90, 70})
    ->Args({200, 150, 388, 374});

void BM_MatchlibExpandCells(benchmark::State& state) {
  const uint32_t n = 8, rows = kH / n, cols = kW / n;
  std::vector<uint8_t> out(kH * kW);
  for (auto _ : state)
    benchmark::DoNotOptimize(img_expand_bilinear_u8(pixels().data(), rows, cols, n, out.data(), kH, kW));
}
BENCHMARK(BM_MatchlibExpandCells);

void BM_MatchlibFitToBlocks(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  std::vector<uint8_t> out(416 * 304);
  for (auto _ : state) {
    uint8_t* buf = out.data();
    uint32_t oh, ow;
    int32_t ro, co;
    // 390 x 298 with block 16: both sides padded (to 400 x 304).
    benchmark::DoNotOptimize(img_fit_to_block_multiple(pixels().data(), 390, 298, 16, mode, &buf,
                                                       &oh, &ow, &ro, &co));
  }
}
BENCHMARK(BM_MatchlibFitToBlocks)->Arg(0)->Arg(1);

}  // namespace
