// Accuracy and speed of the skeleton engine's road (extraction at 500 dpi,
// native template, verification) on the FVC sets of the shared data folder: genuine
// pairs are all pairs of impressions of a finger, impostor pairs the first
// impressions of different fingers. Reports EER, FNMR at FMR 1% and 0.1% (in
// percent) and the median extraction and verification times as counters.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "extract/byte_image.h"
#include "zylscan/extract_pipeline.h"
#include "zylscan/nuvel.h"
#include "zylscan/xw.h"
#include "zylscan/xw_operations.h"

namespace {

using Clock = std::chrono::steady_clock;
using Template = std::array<std::uint8_t, 1024>;

bool read_pgm(const std::string& path, int& width, int& height, std::vector<std::uint8_t>& pixels) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  int maxval = 0;
  bool ok = std::fscanf(f, "P5 %d %d %d", &width, &height, &maxval) == 3 && maxval == 255;
  if (ok) {
    std::fgetc(f);
    pixels.resize(static_cast<std::size_t>(width) * height);
    ok = std::fread(pixels.data(), 1, pixels.size(), f) == pixels.size();
  }
  std::fclose(f);
  return ok;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// FNMR (percent) at the lowest threshold whose FMR is at most `fmr`.
double fnmr_at(const std::vector<int>& genuine, const std::vector<int>& impostor, double fmr) {
  for (int t = 0; t <= 1001; ++t) {
    const double false_match = std::count_if(impostor.begin(), impostor.end(), [t](int s) { return s >= t; });
    if (false_match / impostor.size() <= fmr) {
      const double false_non_match = std::count_if(genuine.begin(), genuine.end(), [t](int s) { return s < t; });
      return 100.0 * false_non_match / genuine.size();
    }
  }
  return 100.0;
}

double equal_error_rate(const std::vector<int>& genuine, const std::vector<int>& impostor) {
  double best = 100.0;
  for (int t = 0; t <= 1001; ++t) {
    const double fmr = 100.0 * std::count_if(impostor.begin(), impostor.end(), [t](int s) { return s >= t; }) / impostor.size();
    const double fnmr = 100.0 * std::count_if(genuine.begin(), genuine.end(), [t](int s) { return s < t; }) / genuine.size();
    best = std::min(best, std::max(fmr, fnmr));
  }
  return best;
}

void accuracy(benchmark::State& state, const char* set) {
  // The shared data folder lies beside the repository.
  std::string dir = __FILE__;
  dir = dir.substr(0, dir.rfind('/')) + "/../../shared/data/fingerprints/" + set + "/";
  XWContext* context = XWCreateContext();
  constexpr int kImpressions = 8;
  std::vector<std::vector<Template>> fingers;
  std::vector<double> extract_ms, verify_ms;
  std::vector<int> genuine, impostor;
  for (auto _ : state) {
    fingers.clear();
    for (int finger = 101; finger <= 110; ++finger) {
      std::vector<Template> impressions;
      for (int i = 1; i <= kImpressions; ++i) {
        int width = 0, height = 0;
        std::vector<std::uint8_t> pixels;
        if (!read_pgm(dir + std::to_string(finger) + "_" + std::to_string(i) + ".pgm", width, height, pixels)) break;
        Template t{};
        const auto start = Clock::now();
        zyl::extract::OwnedByteImage rows(width, height);
        for (int y = 0; y < height; ++y) std::copy_n(pixels.data() + static_cast<std::size_t>(y) * width, width, rows[y]);
        auto features = std::make_unique<FeatureRecord>();
        ExtractFeatures(width, height, rows.get(), features.get(), context);
        CompressFeatures(features.get(), t.data(), context);
        extract_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        impressions.push_back(t);
      }
      if (impressions.size() == kImpressions) fingers.push_back(std::move(impressions));
    }
    if (fingers.size() < 2) {
      state.SkipWithError("fingerprint set not found");
      break;
    }
    const auto verify = [&](const Template& a, const Template& b) {
      MatchDetails details{};
      details.size = XW_DETAILS_SHORT;
      const auto start = Clock::now();
      XWVerify(a.data(), b.data(), &details, context);
      verify_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      return details.score;
    };
    genuine.clear();
    impostor.clear();
    for (const auto& f : fingers)
      for (int i = 0; i < kImpressions; ++i)
        for (int j = i + 1; j < kImpressions; ++j) genuine.push_back(verify(f[i], f[j]));
    for (std::size_t f = 0; f < fingers.size(); ++f)
      for (std::size_t g = f + 1; g < fingers.size(); ++g) impostor.push_back(verify(fingers[f][0], fingers[g][0]));
  }
  if (!genuine.empty() && !impostor.empty()) {
    state.counters["EER%"] = equal_error_rate(genuine, impostor);
    state.counters["FMR100%"] = fnmr_at(genuine, impostor, 0.01);
    state.counters["FMR1000%"] = fnmr_at(genuine, impostor, 0.001);
    state.counters["extract_ms"] = median(extract_ms);
    state.counters["verify_ms"] = median(verify_ms);
  }
  XWFreeContext(context);
}

BENCHMARK_CAPTURE(accuracy, fvc2000_db4b, "fvc2000-db4b")->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(accuracy, fvc2004_db4b, "fvc2004-db4b")->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
