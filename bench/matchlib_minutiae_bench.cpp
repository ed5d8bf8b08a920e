// Speed of the matcher library's minutiae extraction on a 160 x 160 crop:
// the grey pipeline at full and half resolution (the half-resolution run
// on the crop halved to 80 x 80), the bit-plane pipeline, the 508-dpi card
// stage, and the card conversion of the resulting record.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "support/pgm.h"
#include "zylscan/matchlib_card_convert.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_minutiae_ops.h"
#include "zylscan/matchlib_rescale.h"

namespace {

const zyl::test::GreyImage& crop() {
  static const zyl::test::GreyImage img = zyl::test::read_pgm(zyl::test::test_data("fvc2004_102_1_160.pgm"));
  return img;
}

std::vector<std::uint8_t> halved() {
  const auto& g = crop();
  std::vector<std::uint8_t> out(static_cast<size_t>(g.height / 2) * (g.width / 2));
  img_resize_u8(g.pixels.data(), g.height, g.width, out.data(), g.height / 2, g.width / 2);
  return out;
}

void run_pipeline(benchmark::State& state, const std::uint8_t* px, int h, int w, int options, bool bits) {
  for (auto _ : state) {
    MinutiaeRecord* r = minrec_create();
    r->options = static_cast<std::uint16_t>(options);
    r->max_count = 64;
    r->order_code = 21;
    r->cores_wanted = r->orientation_wanted = r->frequency_wanted = 1;
    const int status = bits ? minutiae_pipeline_bilevel(px, nullptr, h, w, r, nullptr, nullptr)
                            : minutiae_pipeline_grey(px, nullptr, h, w, r, nullptr, nullptr);
    benchmark::DoNotOptimize(status);
    minrec_free(r);
  }
}

void BM_MatchlibMinutiaeGreyFull(benchmark::State& state) {
  const auto& g = crop();
  run_pipeline(state, g.pixels.data(), g.height, g.width, MINX_FULL, false);
}
BENCHMARK(BM_MatchlibMinutiaeGreyFull)->Unit(benchmark::kMillisecond);

void BM_MatchlibMinutiaeGreyHalf(benchmark::State& state) {
  static const std::vector<std::uint8_t> px = halved();
  run_pipeline(state, px.data(), crop().height / 2, crop().width / 2, MINX_HALF, false);
}
BENCHMARK(BM_MatchlibMinutiaeGreyHalf)->Unit(benchmark::kMillisecond);

void BM_MatchlibMinutiaeBitPlanes(benchmark::State& state) {
  static const std::vector<std::uint8_t> px = halved();
  run_pipeline(state, px.data(), crop().height / 2, crop().width / 2, MINX_HALF | MINX_DOUBLE_OUTPUT, true);
}
BENCHMARK(BM_MatchlibMinutiaeBitPlanes)->Unit(benchmark::kMillisecond);

void BM_MatchlibMinutiae508Card(benchmark::State& state) {
  const auto& g = crop();
  MatchContext* ctx = ctx_create();
  GrayImage* img = image_create(g.height, g.width, 500, 500, g.pixels.data(), 0);
  for (auto _ : state) {
    DataBlob* out = nullptr;
    benchmark::DoNotOptimize(extract_minutiae_508(ctx, img, nullptr, 2, &out));
    if (out) blob_release(out);
  }
  image_release(img);
  ctx_release(ctx);
}
BENCHMARK(BM_MatchlibMinutiae508Card)->Unit(benchmark::kMillisecond);

}  // namespace
