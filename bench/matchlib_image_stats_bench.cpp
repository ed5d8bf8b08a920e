// Speed of the matcher library's image statistics on a 400 x 300 image:
// local variance, box mean, 3x3 opening, disk range, local maxima and an
// eighth-turn rotation.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "zylscan/matchlib_image_stats.h"
#include "zylscan/matchlib_local_stats.h"
#include "zylscan/matchlib_reorient.h"

namespace {

constexpr int kH = 400, kW = 300;

const std::vector<uint8_t>& image() {
  static const std::vector<uint8_t> img = [] {
    std::mt19937 rng(1);
    std::vector<uint8_t> v(kH * kW);
    for (auto& p : v) p = static_cast<uint8_t>(rng() % 256);
    return v;
  }();
  return img;
}

void BM_MatchlibLocalVariance(benchmark::State& state) {
  std::vector<uint16_t> out(kH * kW);
  for (auto _ : state)
    benchmark::DoNotOptimize(filter_local_variance_u8(image().data(), kH, kW, static_cast<int>(state.range(0)), out.data()));
}
BENCHMARK(BM_MatchlibLocalVariance)->Arg(4)->Arg(7);

void BM_MatchlibBoxMean(benchmark::State& state) {
  std::vector<uint8_t> out(kH * kW);
  for (auto _ : state) benchmark::DoNotOptimize(filter_box_mean_u8(image().data(), kH, kW, 3, out.data()));
}
BENCHMARK(BM_MatchlibBoxMean);

void BM_MatchlibOpen3x3(benchmark::State& state) {
  std::vector<uint8_t> out(kH * kW);
  for (auto _ : state) benchmark::DoNotOptimize(filter_open3x3_u8(image().data(), kH, kW, out.data()));
}
BENCHMARK(BM_MatchlibOpen3x3);

void BM_MatchlibDiskRange(benchmark::State& state) {
  std::vector<uint8_t> out(kH * kW);
  for (auto _ : state) benchmark::DoNotOptimize(filter_local_range_disk_u8(image().data(), kH, kW, 5, out.data()));
}
BENCHMARK(BM_MatchlibDiskRange);

void BM_MatchlibLocalMaxima(benchmark::State& state) {
  std::vector<uint8_t> out(kH * kW);
  int count = 0;
  for (auto _ : state) benchmark::DoNotOptimize(img_local_maxima_u8(image().data(), kH, kW, 3, out.data(), &count));
}
BENCHMARK(BM_MatchlibLocalMaxima);

void BM_MatchlibRotate(benchmark::State& state) {
  for (auto _ : state) {
    uint8_t* buf = nullptr;
    int h, w, r, c;
    benchmark::DoNotOptimize(img_rotate_u8(image().data(), kH, kW, 32, &buf, &h, &w, &r, &c));
    std::free(buf);
  }
}
BENCHMARK(BM_MatchlibRotate);

}  // namespace
