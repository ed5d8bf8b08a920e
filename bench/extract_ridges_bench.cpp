// Timing of the extractor's oriented filters, thinning and ridge clean-up on
// a real print (read from the shared fingerprint folder, which a checkout
// keeps beside the repository).
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

#include "extract/byte_image.h"
#include "zylscan/direction_image.h"
#include "zylscan/extract_filters.h"
#include "zylscan/extract_ridges.h"
#include "zylscan/extract_thinning.h"
#include "zylscan/oriented_filter.h"

namespace {

using zyl::extract::OwnedByteImage;

OwnedByteImage ReadPgm(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int width = 0, height = 0, maxval = 0;
  in >> magic >> width >> height >> maxval;
  in.get();
  OwnedByteImage img(width, height);
  for (int y = 0; y < height; ++y) in.read(reinterpret_cast<char*>(img[y]), width);
  if (!in || magic != "P5") return OwnedByteImage();
  return img;
}

OwnedByteImage Copy(const OwnedByteImage& src) {
  OwnedByteImage out(src.width(), src.height());
  CopyByteImage(src.width(), src.height(), src.get(), out.get());
  return out;
}

// The stages before the ones timed here, with the default settings.
struct Prepared {
  OwnedByteImage grey;      // normalised, direction-smoothed grey image
  OwnedByteImage directions;
  OwnedByteImage binary;    // binarised and majority-smoothed
  OwnedByteImage skeleton;  // thinned
};

const Prepared& Print() {
  static const Prepared prepared = [] {
    Prepared p;
    const std::string here = __FILE__;
    const std::string root = here.substr(0, here.rfind("/bench/"));
    OwnedByteImage g = ReadPgm(root + "/../shared/data/fingerprints/fvc2002-db1b-part/101_1.pgm");
    const int w = g.width(), h = g.height();
    OwnedByteImage work(w, h), d(w, h);
    PuttyImage(w, h, g.get());
    CopyByteImage(w, h, g.get(), work.get());
    SmoothImage(w, h, work.get(), 4);
    NormalizeImage(w, h, g.get(), work.get(), 128);
    PuttyImage(w, h, work.get());
    PuttyImage(w, h, work.get());
    ComputeDirImage(w, h, work.get(), d.get(), 12, 12, 19, 0);
    ComputeBadAreaA(w, h, d.get(), work.get(), 16, 196);
    DirectSmoothImage(w, h, g.get(), d.get());
    p.grey = Copy(g);
    BinarizeImage(w, h, g.get(), 5);
    BSmoothImage(w, h, g.get());
    p.binary = Copy(g);
    SkeletonizeImage(w, h, g.get(), 12);
    p.skeleton = std::move(g);
    p.directions = std::move(d);
    return p;
  }();
  return prepared;
}

void BM_DirectSmoothImage(benchmark::State& state) {
  const Prepared& p = Print();
  for (auto _ : state) {
    OwnedByteImage g = Copy(p.grey);
    DirectSmoothImage(g.width(), g.height(), g.get(), p.directions.get());
  }
}
BENCHMARK(BM_DirectSmoothImage)->Unit(benchmark::kMillisecond);

void BM_DirFilterImage(benchmark::State& state) {
  const Prepared& p = Print();
  for (auto _ : state) {
    OwnedByteImage g = Copy(p.grey);
    DirFilterImage(g.width(), g.height(), g.get(), 12, 2);
  }
}
BENCHMARK(BM_DirFilterImage)->Unit(benchmark::kMillisecond);

void BM_ComputeDirImageFThenFilterImage(benchmark::State& state) {
  const Prepared& p = Print();
  for (auto _ : state) {
    OwnedByteImage g = Copy(p.grey), d = Copy(p.directions), s(g.width(), g.height());
    ComputeDirImageF(g.width(), g.height(), g.get(), d.get(), s.get(), nullptr, 12, 30, 20, 0, 4);
    FilterImage(g.width(), g.height(), g.get(), d.get(), s.get());
  }
}
BENCHMARK(BM_ComputeDirImageFThenFilterImage)->Unit(benchmark::kMillisecond);

void BM_SkeletonizeImage(benchmark::State& state) {
  const Prepared& p = Print();
  for (auto _ : state) {
    OwnedByteImage g = Copy(p.binary);
    SkeletonizeImage(g.width(), g.height(), g.get(), 12);
  }
}
BENCHMARK(BM_SkeletonizeImage)->Unit(benchmark::kMillisecond);

void BM_EliminateLinesAndEyes(benchmark::State& state) {
  const Prepared& p = Print();
  for (auto _ : state) {
    OwnedByteImage g = Copy(p.skeleton);
    EliminateLines(g.width(), g.height(), g.get(), p.directions.get());
    EliminateEyes(g.width(), g.height(), g.get(), p.directions.get());
  }
}
BENCHMARK(BM_EliminateLinesAndEyes)->Unit(benchmark::kMillisecond);

}  // namespace
