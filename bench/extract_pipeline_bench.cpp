// Timing of the whole extraction pipeline, its minutia stages and the image
// quality measures on real prints (read from the shared fingerprint folder,
// which a checkout keeps beside the repository).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "extract/byte_image.h"
#include "support/pgm.h"
#include "zylscan/direction_image.h"
#include "zylscan/extract_filters.h"
#include "zylscan/extract_minutiae.h"
#include "zylscan/extract_pipeline.h"
#include "zylscan/extract_ridges.h"
#include "zylscan/extract_thinning.h"
#include "zylscan/image_quality.h"
#include "zylscan/image_stretch.h"
#include "zylscan/oriented_filter.h"
#include "zylscan/xw.h"

namespace {

using zyl::extract::OwnedByteImage;

const char* const kPrints[] = {"fvc2000-db4b/101_1.pgm", "fvc2004-db4b/101_1.pgm", "fvc2002-db1b-part/101_1.pgm"};

const zyl::test::GreyImage& Print(int index) {
  static zyl::test::GreyImage images[3];
  zyl::test::GreyImage& g = images[index];
  if (g.pixels.empty()) {
    const std::string here = __FILE__;
    const std::string root = here.substr(0, here.rfind("/bench/"));
    g = zyl::test::read_pgm(root + "/../shared/data/fingerprints/" + kPrints[index]);
  }
  return g;
}

OwnedByteImage Rows(const zyl::test::GreyImage& g) {
  OwnedByteImage rows(g.width, g.height);
  StretchImageFromLinear(g.width, g.height, g.pixels.data(), g.width, g.height, rows.get());
  return rows;
}

void BM_ExtractFeatures(benchmark::State& state) {
  const zyl::test::GreyImage& g = Print(static_cast<int>(state.range(0)));
  XWContext* context = XWCreateContext();
  auto record = std::make_unique<FeatureRecord>();
  for (auto _ : state) {
    OwnedByteImage rows = Rows(g);
    benchmark::DoNotOptimize(ExtractFeatures(g.width, g.height, rows.get(), record.get(), context));
  }
  state.SetLabel(kPrints[state.range(0)]);
  XWFreeContext(context);
}
BENCHMARK(BM_ExtractFeatures)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_ZylEx_GetQuality(benchmark::State& state) {
  const zyl::test::GreyImage& g = Print(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ZylEx_GetQuality(g.width, g.height, g.pixels.data()));
  state.SetLabel(kPrints[state.range(0)]);
}
BENCHMARK(BM_ZylEx_GetQuality)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_DevAlgImgQualityAndroid(benchmark::State& state) {
  const zyl::test::GreyImage& g = Print(2);
  for (auto _ : state) benchmark::DoNotOptimize(DevAlgImgQualityAndroid(g.width, g.height, g.pixels.data()));
}
BENCHMARK(BM_DevAlgImgQualityAndroid)->Unit(benchmark::kMillisecond);

// Detection and selection on the cleaned skeleton of the optical print, with
// the default settings' stages before them.
void BM_MinutiaStages(benchmark::State& state) {
  const zyl::test::GreyImage& g = Print(2);
  const int w = g.width, h = g.height;
  OwnedByteImage grey = Rows(g), original = Rows(g), work(w, h), d(w, h);
  PuttyImage(w, h, grey.get());
  CopyByteImage(w, h, grey.get(), work.get());
  SmoothImage(w, h, work.get(), 4);
  NormalizeImage(w, h, grey.get(), work.get(), 128);
  PuttyImage(w, h, work.get());
  PuttyImage(w, h, work.get());
  ComputeDirImage(w, h, work.get(), d.get(), 12, 12, 19, 0);
  ComputeBadAreaA(w, h, d.get(), work.get(), 16, 196);
  DirectSmoothImage(w, h, grey.get(), d.get());
  BinarizeImage(w, h, grey.get(), 5);
  BSmoothImage(w, h, grey.get());
  SkeletonizeImage(w, h, grey.get(), 12);
  EliminateLines(w, h, grey.get(), d.get());
  EliminateEyes(w, h, grey.get(), d.get());
  auto record = std::make_unique<FeatureRecord>();
  for (auto _ : state) {
    ExtractMinutiae(w, h, grey.get(), d.get(), record.get());
    SelectBadMinutiae(w, h, original.get(), d.get(), record.get(), 1, 1);
    EliminateBadMinutiae(record.get());
    benchmark::DoNotOptimize(record->minutiaCount);
  }
}
BENCHMARK(BM_MinutiaStages)->Unit(benchmark::kMillisecond);

}  // namespace
