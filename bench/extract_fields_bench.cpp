// Speed of the extractor's window filters and orientation fields on a real
// 388 x 374 print (read from the shared data folder).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "extract/byte_image.h"
#include "zylscan/direction_image.h"
#include "zylscan/extract_filters.h"

namespace {

using zyl::extract::OwnedByteImage;

struct Print {
  int width = 0, height = 0;
  std::vector<unsigned char> pixels;
};

const Print& print() {
  static const Print p = [] {
    Print out;
    // The shared data folder lies beside the repository.
    std::string path = __FILE__;
    path = path.substr(0, path.rfind('/')) + "/../../shared/data/fingerprints/fvc2002-db1b-part/101_1.pgm";
    std::FILE* f = std::fopen(path.c_str(), "rb");
    int maxval = 0;
    if (!f || std::fscanf(f, "P5 %d %d %d", &out.width, &out.height, &maxval) != 3) {
      out.width = out.height = 256;  // no data folder: a plain ramp still measures speed
      out.pixels.resize(256 * 256);
      for (std::size_t i = 0; i < out.pixels.size(); ++i) out.pixels[i] = static_cast<unsigned char>(i * 7);
    } else {
      std::fgetc(f);
      out.pixels.resize(static_cast<std::size_t>(out.width) * out.height);
      if (std::fread(out.pixels.data(), 1, out.pixels.size(), f) != out.pixels.size()) out.pixels.assign(out.pixels.size(), 0);
    }
    if (f) std::fclose(f);
    return out;
  }();
  return p;
}

OwnedByteImage load() {
  const Print& p = print();
  OwnedByteImage img(p.width, p.height);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) img[y][x] = p.pixels[static_cast<std::size_t>(y) * p.width + x];
  return img;
}

template <typename Run>
void run_on_print(benchmark::State& state, Run&& run) {
  const Print& p = print();
  OwnedByteImage source = load();
  OwnedByteImage work(p.width, p.height), other(p.width, p.height);
  for (auto _ : state) {
    state.PauseTiming();
    CopyByteImage(p.width, p.height, source.get(), work.get());
    state.ResumeTiming();
    run(p.width, p.height, work.get(), other.get(), source.get());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * p.width * p.height);
}

void BM_SmoothImage(benchmark::State& state) {
  const int r = static_cast<int>(state.range(0));
  run_on_print(state, [r](int w, int h, ByteImage img, ByteImage, ByteImage) { SmoothImage(w, h, img, r); });
}
BENCHMARK(BM_SmoothImage)->Arg(1)->Arg(4)->Arg(16);

void BM_NormalizeImage(benchmark::State& state) {
  run_on_print(state, [](int w, int h, ByteImage img, ByteImage, ByteImage src) { NormalizeImage(w, h, src, img, 128); });
}
BENCHMARK(BM_NormalizeImage);

void BM_BinarizeImageA(benchmark::State& state) {
  run_on_print(state, [](int w, int h, ByteImage img, ByteImage, ByteImage src) {
    BinarizeImageA(w, h, img, src, 130, 115, 3, 5, 7);
  });
}
BENCHMARK(BM_BinarizeImageA);

void BM_ComputeDirImage(benchmark::State& state) {
  run_on_print(state, [](int w, int h, ByteImage img, ByteImage d, ByteImage) { ComputeDirImage(w, h, img, d, 12, 12, 19, 0); });
}
BENCHMARK(BM_ComputeDirImage);

void BM_ComputeBadArea(benchmark::State& state) {
  run_on_print(state, [](int w, int h, ByteImage img, ByteImage d, ByteImage) { ComputeBadAreaA(w, h, d, img, 16, 196); });
}
BENCHMARK(BM_ComputeBadArea);

void BM_ComputeBlockDirImage(benchmark::State& state) {
  run_on_print(state, [](int w, int h, ByteImage img, ByteImage d, ByteImage) {
    ComputeBlockDirImage(w, h, img, w / 16, h / 16, d, d, 17);
  });
}
BENCHMARK(BM_ComputeBlockDirImage);

}  // namespace
