// Speed of the type-line matcher: one comparison of real 160 x 160 crops
// (a genuine pair that goes through point matching both ways, an impostor
// pair) and a search of a gallery of 100 synthetic templates.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/pgm.h"
#include "support/synthetic_finger.h"
#include "zylscan/typeline_extract.h"
#include "zylscan/typeline_match.h"

namespace {

std::vector<std::uint8_t> crop_template(const std::string& name) {
  auto img = zyl::test::read_pgm(zyl::test::test_data(name));
  std::vector<std::uint8_t> t(TYPELINE_TEMPLATE_SIZE);
  create_template(img.pixels.data(), img.width, img.height, t.data());
  return t;
}

void BM_TypelineFingerMatch(benchmark::State& state) {
  const auto a = crop_template("fvc2004_102_1_160.pgm");
  const auto b = crop_template(state.range(0) ? "fvc2004_102_5_160.pgm" : "fvc2004_103_1_160.pgm");
  for (auto _ : state) benchmark::DoNotOptimize(finger_match(a.data(), b.data(), 1));
}
BENCHMARK(BM_TypelineFingerMatch)->ArgName("genuine")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void BM_TypelineSearch(benchmark::State& state) {
  zyl::test::Finger mate;
  mate.seed = 1000;
  std::vector<std::uint8_t> gallery;
  for (unsigned s = 1; s < 100; ++s) {
    zyl::test::Finger f;
    f.seed = s;
    f.core = s % 2 == 0;
    const auto t = zyl::test::make_template(f);
    gallery.insert(gallery.end(), t.begin(), t.end());
  }
  const auto t = zyl::test::make_template(mate);
  gallery.insert(gallery.end(), t.begin(), t.end());
  mate.jitter = 4;
  mate.noise = 3;
  mate.spurious = 12;
  mate.dropped = 10;
  const auto probe = zyl::test::make_template(mate, {10, 5, -7});
  for (auto _ : state) benchmark::DoNotOptimize(finger_search(probe.data(), gallery.data(), 100, 1));
}
BENCHMARK(BM_TypelineSearch)->Unit(benchmark::kMicrosecond);

}  // namespace
