// Speed of the matcher library's filters on a 400 x 300 image: the 8-bit
// binomial and box means (the most called kernels), the block-percentile
// binarisation, window normalisation and the ridge map.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_binarize.h"
#include "zylscan/matchlib_normalize.h"
#include "zylscan/matchlib_ridgemap.h"
#include "zylscan/matchlib_smoothing.h"

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

void BM_MatchlibBinomial3x3U8(benchmark::State& state) {
  std::vector<uint8_t> out(kH * kW);
  for (auto _ : state) {
    filter_binomial3x3_u8(image().data(), kH, kW, out.data());
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_MatchlibBinomial3x3U8);

void BM_MatchlibBox3x3U8InPlace(benchmark::State& state) {
  std::vector<uint8_t> img = image();
  for (auto _ : state) {
    filter_box3x3_u8(img.data(), kH, kW, img.data());
    benchmark::DoNotOptimize(img.data());
  }
}
BENCHMARK(BM_MatchlibBox3x3U8InPlace);

void BM_MatchlibBinarizeBlocksPercentile(benchmark::State& state) {
  std::vector<int8_t> grey(kH * kW);
  for (int i = 0; i < kH * kW; ++i) grey[i] = static_cast<int8_t>(image()[i] - 128);
  std::vector<uint8_t> a(kH * kW), b(kH * kW);
  for (auto _ : state) {
    binarize_blocks_percentile(grey.data(), nullptr, kH, kW, nullptr, 12, 47, a.data(), b.data());
    benchmark::DoNotOptimize(a.data());
  }
}
BENCHMARK(BM_MatchlibBinarizeBlocksPercentile);

void BM_MatchlibNormalizeLocalRing(benchmark::State& state) {
  std::vector<uint8_t> out(kH * kW);
  for (auto _ : state) {
    imgproc_normalize_local_ring(image().data(), kH, kW, 3, 128, 75, out.data());
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_MatchlibNormalizeLocalRing);

void BM_MatchlibRidgemapSkeleton(benchmark::State& state) {
  const int bh = (kH + 15) / 16, bw = (kW + 15) / 16;
  std::vector<uint8_t> o(bh * bw), c(bh * bw), p(bh * bw);
  for (auto _ : state) {
    std::vector<uint8_t> img = image();
    ridgemap_skeleton(img.data(), kH, kW, o.data(), c.data(), p.data(), bh, bw, 500);
    benchmark::DoNotOptimize(img.data());
  }
}
BENCHMARK(BM_MatchlibRidgemapSkeleton);

}  // namespace
