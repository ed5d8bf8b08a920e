// Speed of the two keypoint extraction stage operations per 160 x 160 crop,
// with the parameters of the presets that use them (full operation:
// descriptor types 0x4 and 0x2; light operation: 363 dpi working
// resolution, 508 stored, budget 175, type 0x10), and of their detectors.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "support/pgm.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_keypoint_stage.h"
#include "zylscan/matchlib_param.h"

namespace {

const zyl::test::GreyImage& crop() {
  static const zyl::test::GreyImage img = zyl::test::read_pgm(zyl::test::test_data("fvc2004_102_1_160.pgm"));
  return img;
}

struct Setup {
  MatchContext* ctx = ctx_create();
  GrayImage* image = nullptr;
  explicit Setup(bool light) {
    const auto& p = crop();
    image = image_create(p.height, p.width, 500, 500, p.pixels.data(), 0);
    if (light) {
      param_set(ctx, 0x47664bcc, 363);
      param_set(ctx, 0xa932dde5, 508);
      param_set(ctx, 0xc901dcad, 175);
      param_set(ctx, 0x7ad82b4d, 0);
      param_set(ctx, 0xaeeec432, 16);
    } else {
      param_set(ctx, 0xaeeec432, 6);
    }
  }
  ~Setup() {
    image_release(image);
    ctx_release(ctx);
  }
};

void run_stage(benchmark::State& state, bool light) {
  Setup s(light);
  const auto op = light ? keypoint_stage_extract_light : keypoint_stage_extract;
  for (auto _ : state) {
    DataBlob* out = nullptr;
    benchmark::DoNotOptimize(op(s.ctx, s.image, nullptr, BLOCKREC_FORMAT, &out));
    blob_release(out);
  }
}

void BM_KeypointStageFull(benchmark::State& state) { run_stage(state, false); }
BENCHMARK(BM_KeypointStageFull)->Unit(benchmark::kMillisecond);

void BM_KeypointStageLight(benchmark::State& state) { run_stage(state, true); }
BENCHMARK(BM_KeypointStageLight)->Unit(benchmark::kMillisecond);

void run_detector(benchmark::State& state, KeyPointDetector detect) {
  const auto& p = crop();
  for (auto _ : state) {
    KeyPoint* pts = nullptr;
    int n = 0;
    benchmark::DoNotOptimize(detect(nullptr, p.pixels.data(), p.height, p.width, &pts, &n));
    std::free(pts);
  }
}

void BM_KeypointDetectRings(benchmark::State& state) { run_detector(state, detect_rings_scaled); }
BENCHMARK(BM_KeypointDetectRings)->Unit(benchmark::kMicrosecond);

void BM_KeypointCornerPipeline(benchmark::State& state) { run_detector(state, corner_pipeline_v3); }
BENCHMARK(BM_KeypointCornerPipeline)->Unit(benchmark::kMicrosecond);

void BM_KeypointDetectSparse(benchmark::State& state) { run_detector(state, detect_corners_sparse); }
BENCHMARK(BM_KeypointDetectSparse)->Unit(benchmark::kMicrosecond);

}  // namespace
