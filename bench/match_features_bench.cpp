// Speed of the graph matcher: preparing both sides and matching a print
// against a turned and shifted copy of itself (the full three stages) and
// against an unrelated print (usually an early stop).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "api/xw_context.h"
#include "zylscan/graph_matcher.h"
#include "zylscan/xw.h"

namespace {

std::unique_ptr<FeatureRecord> synthetic_print(int n, unsigned seed, int turn_steps, int dx, int dy) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<std::int32_t> x(40, 300), y(40, 380), a(0, 239), curvature(0, 90);
  auto f = std::make_unique<FeatureRecord>();
  const double r = turn_steps * 1.5 * M_PI / 180;
  f->minutiaCount = n;
  for (int i = 0; i < n; ++i) {
    const double px = x(rng) - 170.0, py = y(rng) - 210.0;
    f->minutiaX[i] = static_cast<std::int32_t>(std::lround(170 + px * std::cos(r) - py * std::sin(r))) + dx;
    f->minutiaY[i] = static_cast<std::int32_t>(std::lround(210 + px * std::sin(r) + py * std::cos(r))) + dy;
    f->minutiaAngle[i] = (a(rng) + turn_steps + 240) % 240;
    f->minutiaCurvature[i] = curvature(rng);
  }
  return f;
}

void match(benchmark::State& state, unsigned sample_seed, int turn, int shift) {
  XWContext* context = XWCreateContext();
  MatchData* md = zyl::api::ensure_match_data(*context);
  const int n = static_cast<int>(state.range(0));
  const auto test = synthetic_print(n, 1, 0, 0, 0);
  const auto sample = synthetic_print(n, sample_seed, turn, shift, -shift);
  std::fill(std::begin(md->rotationFlags), std::end(md->rotationFlags), 1);
  std::int32_t score = 0;
  for (auto _ : state) {
    md->sides[0].features = *test;
    md->sides[2].features = *sample;
    FillTestFeaturesMatchData(context, &md->sides[0]);
    FillSampleFeaturesMatchData(context, &md->sides[2], md->sides[0].lengthBound, 0);
    score = MatchFeatures(&md->sides[0], &md->sides[2], 47, nullptr, context);
    benchmark::DoNotOptimize(score);
  }
  state.counters["score"] = score;
  XWFreeContext(context);
}

void BM_MatchFeaturesSameFinger(benchmark::State& state) { match(state, 1, 20, 12); }
void BM_MatchFeaturesOtherFinger(benchmark::State& state) { match(state, 2, 0, 0); }

BENCHMARK(BM_MatchFeaturesSameFinger)->Arg(40)->Arg(80)->Arg(150);
BENCHMARK(BM_MatchFeaturesOtherFinger)->Arg(40)->Arg(80)->Arg(150);

}  // namespace
