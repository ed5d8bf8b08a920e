// Speed of the type-line extractor on 160 x 160 crops (small sensors) and
// of its heaviest stages.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/pgm.h"
#include "zylscan/typeline_extract.h"
#include "zylscan/typeline_template.h"

namespace {

const zyl::test::GreyImage& crop() {
  static const zyl::test::GreyImage img = zyl::test::read_pgm(zyl::test::test_data("fvc2004_102_1_160.pgm"));
  return img;
}

void BM_TypelineCreateTemplate(benchmark::State& state) {
  const auto& img = crop();
  std::vector<std::uint8_t> work, out(TYPELINE_TEMPLATE_SIZE);
  for (auto _ : state) {
    work = img.pixels;
    benchmark::DoNotOptimize(create_template(work.data(), img.width, img.height, out.data()));
  }
}
BENCHMARK(BM_TypelineCreateTemplate)->Unit(benchmark::kMillisecond);

void BM_TypelineOrientation(benchmark::State& state) {
  const auto& img = crop();
  std::vector<std::uint8_t> map(img.pixels.size()), rel(img.pixels.size());
  for (auto _ : state) {
    std::fill(map.begin(), map.end(), 0);
    get_orient_image(map.data(), img.pixels.data(), img.width, img.height, rel.data());
    benchmark::DoNotOptimize(map.data());
  }
}
BENCHMARK(BM_TypelineOrientation)->Unit(benchmark::kMicrosecond);

void BM_TypelineContrastEnhancement(benchmark::State& state) {
  const auto& img = crop();
  std::vector<std::uint8_t> mean = img.pixels, mask(img.pixels.size(), 0), target;
  get_smoothed_image4(mean.data(), img.width, img.height);
  for (auto _ : state) {
    target = mean;
    get_sharpend_image(target.data(), img.pixels.data(), mask.data(), img.width, img.height, 64);
    benchmark::DoNotOptimize(target.data());
  }
}
BENCHMARK(BM_TypelineContrastEnhancement)->Unit(benchmark::kMicrosecond);

}  // namespace
