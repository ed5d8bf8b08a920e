// Speed of the default engine's two hot paths on a real print: extraction of
// a full 388 x 374 image (XWExtract) and verification of a genuine pair
// (XWVerify). Reads the shared data folder beside the repository.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/pgm.h"
#include "zylscan/nuvel.h"
#include "zylscan/xw.h"
#include "zylscan/xw_operations.h"

namespace {

zyl::test::GreyImage shared_print(const char* name) {
  return zyl::test::read_pgm(std::string(ZYL_SHARED_FINGERPRINTS) + "/fvc2002-db1b-part/" + name);
}

void XWExtractFullPrint(benchmark::State& state) {
  const zyl::test::GreyImage print = shared_print("101_1.pgm");
  XWContext* context = XWCreateContext();
  std::vector<std::uint8_t> out(ZYL_TEMPLATE_BUFFER_SIZE);
  std::int32_t length = 0, status = 0;
  for (auto _ : state) {
    state.PauseTiming();
    zyl::test::GreyImage work = print;  // XWExtract leaves the skeleton in it
    state.ResumeTiming();
    status = XWExtract(work.width, work.height, work.pixels.data(), 500, out.data(), &length, context);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["status"] = status;
  state.counters["minutiae"] = GetFeatureNum(out.data());
  XWFreeContext(context);
}
BENCHMARK(XWExtractFullPrint)->Unit(benchmark::kMillisecond);

void XWVerifyGenuinePair(benchmark::State& state) {
  XWContext* context = XWCreateContext();
  std::vector<std::vector<std::uint8_t>> t;
  for (const char* name : {"101_1.pgm", "101_2.pgm"}) {
    zyl::test::GreyImage image = shared_print(name);
    std::vector<std::uint8_t> out(ZYL_TEMPLATE_BUFFER_SIZE);
    std::int32_t length = 0;
    XWExtract(image.width, image.height, image.pixels.data(), 500, out.data(), &length, context);
    t.push_back(std::move(out));
  }
  MatchDetails details{};
  details.size = XW_DETAILS_SHORT;
  for (auto _ : state) {
    XWVerify(t[0].data(), t[1].data(), &details, context);
    benchmark::DoNotOptimize(details.score);
  }
  state.counters["score"] = details.score;
  XWFreeContext(context);
}
BENCHMARK(XWVerifyGenuinePair)->Unit(benchmark::kMicrosecond);

}  // namespace
