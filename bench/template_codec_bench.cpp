// Native template writing and reading: every verification reads two
// templates, so the reader sits on the matching path.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "api/nuvel_codec.h"

namespace {

using namespace zyl::api;

std::unique_ptr<FeatureRecord> sample_record() {
  auto r = std::make_unique<FeatureRecord>();
  std::memset(r.get(), 0, sizeof *r);
  std::memset(r->blockDirections, 255, sizeof r->blockDirections);
  std::mt19937 rng(3);
  r->minutiaCount = 60;
  for (int i = 0; i < 60; ++i) {
    r->minutiaX[i] = int(rng() % 256);
    r->minutiaY[i] = int(rng() % 360);
    r->minutiaAngle[i] = int(rng() % 240);
    r->minutiaCurvature[i] = int(rng() % 200);
  }
  r->singularCount = 2;
  r->blockColumns = 16;
  r->blockRows = 23;
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 16; ++x) r->blockDirections[y * 128 + x] = uint8_t((x * 3 + y * 5) % 120);
  return r;
}

std::vector<uint8_t> encode(const FeatureRecord& r, bool blocks) {
  NuvelWriterSettings s;
  s.blocks = blocks;
  std::vector<uint8_t> out(kTemplateBufferSize);
  out.resize(compress_features(r, out, s));
  return out;
}

void BM_CompressFeatures(benchmark::State& state) {
  auto r = sample_record();
  NuvelWriterSettings s;
  s.blocks = state.range(0) != 0;
  std::vector<uint8_t> out(kTemplateBufferSize);
  for (auto _ : state) benchmark::DoNotOptimize(compress_features(*r, out, s));
}
BENCHMARK(BM_CompressFeatures)->Arg(0)->Arg(1);

void BM_DecompressFeatures(benchmark::State& state) {
  const std::vector<uint8_t> t = encode(*sample_record(), state.range(0) != 0);
  auto r = std::make_unique<FeatureRecord>();
  for (auto _ : state) benchmark::DoNotOptimize(decompress_features(t, *r));
}
BENCHMARK(BM_DecompressFeatures)->Arg(0)->Arg(1);

}  // namespace
