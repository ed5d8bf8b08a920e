// Speed of the grid features on a 160 x 160 crop: the grid front end at
// 650 dpi working (per-cell 32 x 32 transforms), the band-grid stage, and
// both grid matchers on two impressions of one finger.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "support/pgm.h"
#include "zylscan/matchlib_bandgrid.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_grid_extract.h"
#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_xform.h"

namespace {

GrayImage* crop(const char* name) {
  const auto img = zyl::test::read_pgm(zyl::test::test_data(name));
  return image_create(img.height, img.width, 500, 500, img.pixels.data(), 0);
}

std::vector<uint8_t> run_stage(GrayImage* image, bool grid_block) {
  MatchContext* ctx = ctx_create();
  param_set(ctx, GRIDEXT_KEY_WORKING_DPI, 650);
  DataBlob* blob = nullptr;
  if (grid_block)
    gridext_extract(ctx, image, nullptr, 77, &blob);
  else
    stage_extract_gridmap250(ctx, image, nullptr, 66, &blob);
  std::vector<uint8_t> out;
  if (blob) out.assign(blob_data(blob), blob_data(blob) + blob_size(blob));
  blob_release(blob);
  ctx_release(ctx);
  return out;
}

// The grid stage at 650 dpi working: one 160 x 160 crop per iteration.
void BM_GridFrontEnd650(benchmark::State& state) {
  GrayImage* image = crop("fvc2002_101_1_160.pgm");
  MatchContext* ctx = ctx_create();
  param_set(ctx, GRIDEXT_KEY_WORKING_DPI, 650);
  for (auto _ : state) {
    DataBlob* blob = nullptr;
    gridext_extract(ctx, image, nullptr, 77, &blob);
    benchmark::DoNotOptimize(blob);
    blob_release(blob);
  }
  ctx_release(ctx);
  image_release(image);
}
BENCHMARK(BM_GridFrontEnd650)->Unit(benchmark::kMillisecond);

void BM_BandGridStage(benchmark::State& state) {
  GrayImage* image = crop("fvc2002_101_1_160.pgm");
  for (auto _ : state) {
    DataBlob* blob = nullptr;
    stage_extract_gridmap250(nullptr, image, nullptr, 66, &blob);
    benchmark::DoNotOptimize(blob);
    blob_release(blob);
  }
  image_release(image);
}
BENCHMARK(BM_BandGridStage)->Unit(benchmark::kMillisecond);

void BM_GridBlockMatch(benchmark::State& state) {
  GrayImage *a = crop("fvc2002_101_1_160.pgm"), *b = crop("fvc2002_101_2_160.pgm");
  const auto pa = run_stage(a, true), pb = run_stage(b, true);
  for (auto _ : state) {
    uint16_t scores[GRIDBLOCK_SUBSCORES];
    uint16_t count = GRIDBLOCK_SUBSCORES;
    RigidTransform* t = xform_create_dpi(0, 0, 0, 650);
    gridblock_match(pa.data(), pa.size(), pb.data(), pb.size(), 650, scores, &count, &t, nullptr);
    xform_release(t);
    benchmark::DoNotOptimize(scores);
  }
  image_release(a);
  image_release(b);
}
BENCHMARK(BM_GridBlockMatch)->Unit(benchmark::kMillisecond);

void BM_GridMapMatchFullTurn(benchmark::State& state) {
  GrayImage *a = crop("fvc2002_101_1_160.pgm"), *b = crop("fvc2002_101_2_160.pgm");
  const auto ma = run_stage(a, false), mb = run_stage(b, false);
  std::vector<uint8_t> work(gridmap_match_work_size(ma.data(), ma.size(), mb.data(), mb.size(), 0));
  for (auto _ : state) {
    uint16_t score = 0;
    gridmap_match(work.data(), work.size(), ma.data(), ma.size(), mb.data(), mb.size(), 0, &score,
                  nullptr, nullptr, GRIDMAP_FULL_TURN);
    benchmark::DoNotOptimize(score);
  }
  image_release(a);
  image_release(b);
}
BENCHMARK(BM_GridMapMatchFullTurn)->Unit(benchmark::kMillisecond);

}  // namespace
