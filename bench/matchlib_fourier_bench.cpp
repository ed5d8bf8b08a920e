// Speed of the matcher library's spectral code on a 400 x 300 image: the
// 2-D fixed-point transform pairs, the tiled filter driver, block spectral
// analysis, the pixel orientation field and the FFT block enhancement.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "zylscan/matchlib_fft.h"
#include "zylscan/matchlib_fft_enhance.h"
#include "zylscan/matchlib_fftfilt.h"
#include "zylscan/matchlib_orientation.h"
#include "zylscan/matchlib_stft.h"

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

void BM_MatchlibFft2dPair(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0)), w = n / 2 + 1;
  std::vector<int32_t> block(n * n), re(n * w), im(n * w), out(n * n), work(n * w);
  for (int i = 0; i < n * n; ++i) block[i] = (image()[i] - 128) * 4096;
  const FftForwardFn fwd[] = {fft2d_forward16, fft2d_forward32, fft2d_forward64, fft2d_forward128};
  const FftInverseFn inv[] = {fft2d_inverse16, fft2d_inverse32, fft2d_inverse64, fft2d_inverse128};
  const int k = n == 16 ? 0 : n == 32 ? 1 : n == 64 ? 2 : 3;
  for (auto _ : state) {
    fwd[k](block.data(), re.data(), im.data());
    inv[k](re.data(), im.data(), out.data(), work.data());
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_MatchlibFft2dPair)->Arg(16)->Arg(32)->Arg(64)->Arg(128);

int keep(int32_t*, int32_t*, int, void*, int, void*) { return 0; }

void BM_MatchlibTiledFilter64(benchmark::State& state) {
  std::vector<uint8_t> out(kH * kW);
  for (auto _ : state) {
    fftfilt_run_u8(out.data(), image().data(), kH, kW, 64, 8, 0, keep, nullptr);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_MatchlibTiledFilter64);

void BM_MatchlibBlockSpectrum32(benchmark::State& state) {
  std::vector<uint8_t> per(25 * 19), freq(25 * 19), ori(25 * 19), dom(25 * 19);
  for (auto _ : state) {
    stft_block_analysis32(image().data(), nullptr, kH, kW, 16, 18, 5, nullptr, 25, 19, dom.data(),
                          per.data(), freq.data(), ori.data());
    benchmark::DoNotOptimize(per.data());
  }
}
BENCHMARK(BM_MatchlibBlockSpectrum32);

void BM_MatchlibPixelOrientation(benchmark::State& state) {
  std::vector<uint8_t> ori(kH * kW), coh(kH * kW);
  for (auto _ : state) {
    orient_pixel_field(image().data(), kH, kW, nullptr, 6, ori.data(), coh.data());
    benchmark::DoNotOptimize(ori.data());
  }
}
BENCHMARK(BM_MatchlibPixelOrientation);

void BM_MatchlibFftEnhance32(benchmark::State& state) {
  std::vector<uint8_t> freq(kH * kW), dir(kH * kW);
  for (int i = 0; i < kH * kW; ++i) {
    freq[i] = static_cast<uint8_t>(8 + (i / kW) / 100);
    dir[i] = static_cast<uint8_t>(64 + (i % kW) * 127 / kW);
  }
  std::vector<int8_t> out(kH * kW);
  for (auto _ : state) {
    fftenh_enhance32(image().data(), kH, kW, freq.data(), dir.data(), nullptr, nullptr, 1, 0, 0, 0,
                     out.data());
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_MatchlibFftEnhance32);

}  // namespace
