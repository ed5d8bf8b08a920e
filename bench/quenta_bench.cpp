// Speed of algorithm modes 3 and 4 (the matcher library through its
// wrappers, one engine per call as the device API makes them): extraction
// and verification of a 160 x 160 crop, and of its 96 x 96 centre, the image
// of the 0x2031 that selects mode 4.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "support/pgm.h"
#include "zylscan/devalg.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_engine.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_verify.h"
#include "zylscan/zylfpscan_feature.h"
#include "zylscan/zylquenta.h"

namespace {

zyl::test::GreyImage crop(int side, const char* name) {
  return zyl::test::centre_crop(zyl::test::read_pgm(zyl::test::test_data(name)), side);
}

// Args: mode, image side.
void BM_QuentaExtract(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0)), side = static_cast<int>(state.range(1));
  const zyl::test::GreyImage img = crop(side, "fvc2002_101_1_160.pgm");
  const std::int32_t saved = AlgMode;
  setAlgMode(mode);
  std::vector<std::uint8_t> pixels = img.pixels, out(ZYLFPSCAN_TEMPLATE_SLOT_SIZE);
  std::int32_t length = 0;
  int status = 0;
  for (auto _ : state) {
    status = DevAlgExtract(side, side, pixels.data(), 500, out.data(), &length, nullptr);
    benchmark::DoNotOptimize(out.data());
  }
  // A mode-4 template of a 160 x 160 image is larger than a slot and is
  // refused after the extraction: the time is still the extraction's.
  state.counters["status"] = status;
  state.counters["bytes"] = status == 0 ? length : 0;
  setAlgMode(saved);
}
BENCHMARK(BM_QuentaExtract)->Args({3, 160})->Args({4, 160})->Args({4, 96})->Unit(benchmark::kMillisecond);

// The engine's template of an image, for comparisons that the slot limit
// would refuse.
DataBlob* engine_template(const zyl::test::GreyImage& img) {
  MatchEngine* engine = nullptr;
  ZylQuenta_Init(&engine);
  GrayImage* image = image_create(img.height, img.width, 500, 500, img.pixels.data(), 0);
  DataBlob* blob = nullptr;
  engine_extract_image(engine, image, nullptr, &blob);
  image_release(image);
  ZylQuenta_Free(engine);
  return blob;
}

// Args: mode, image side. Two impressions of one finger.
void BM_QuentaVerify(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0)), side = static_cast<int>(state.range(1));
  const zyl::test::GreyImage a = crop(side, "fvc2002_101_1_160.pgm"), b = crop(side, "fvc2002_101_2_160.pgm");
  const std::int32_t saved = AlgMode;
  setAlgMode(mode);
  std::vector<std::uint8_t> ta(ZYLFPSCAN_TEMPLATE_SLOT_SIZE), tb(ZYLFPSCAN_TEMPLATE_SLOT_SIZE);
  std::vector<std::uint8_t> pa = a.pixels, pb = b.pixels;
  std::int32_t length = 0;
  const bool wrapped = DevAlgExtract(side, side, pa.data(), 500, ta.data(), &length, nullptr) == 0 &&
                       DevAlgExtract(side, side, pb.data(), 500, tb.data(), &length, nullptr) == 0;
  int score = 0;
  if (wrapped) {
    for (auto _ : state) score = DevAlgVerify(ta.data(), tb.data(), nullptr);
  } else {
    // Templates past the slot (mode 4 on 160 x 160): the same comparison
    // through the engine itself, one engine per call as the wrapper does.
    DataBlob* ga = engine_template(a);
    DataBlob* pr = engine_template(b);
    DataBlob* gallery[1] = {ga};
    for (auto _ : state) {
      MatchEngine* engine = nullptr;
      ZylQuenta_Init(&engine);
      std::uint16_t s = 0;
      engine_verify_score(engine, gallery, 1, pr, &s);
      ZylQuenta_Free(engine);
      score = s / ZYLQUENTA_SCORE_DIVISOR;
    }
    blob_release(ga);
    blob_release(pr);
  }
  state.counters["score"] = score;
  setAlgMode(saved);
}
BENCHMARK(BM_QuentaVerify)->Args({3, 160})->Args({4, 160})->Args({4, 96})->Unit(benchmark::kMillisecond);

}  // namespace
