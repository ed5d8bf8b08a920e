// Accuracy and speed of the keypoint stage comparisons of the two live
// presets and of the card comparison on the shared fvc2004-db4b-160 crops:
// the EER of the first sub-score of the mode-3 (global light) and mode-4
// (paired light) keypoint operations and of `match_card` over the cards of
// the minutiae extraction's card routines, over the FVC protocol's genuine
// and impostor pairs, printed once, and the time of one comparison.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "accuracy_stats.h"
#include "support/pgm.h"
#include "zylscan/matchlib_card_match_ops.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_keypoint_stage.h"
#include "zylscan/matchlib_match_ops.h"
#include "zylscan/matchlib_minutiae_ops.h"
#include "zylscan/matchlib_param.h"

namespace {

struct Mode {
  const char* name;
  std::vector<std::pair<std::uint32_t, int>> preset;
  StageExtractRoutine extract;
  StageMatchRoutine match;
  std::int32_t kind;
};

const Mode kModes[] = {
    {"mode 3",
     {{0x47664bcc, 363}, {0xa932dde5, 508}, {0xc901dcad, 175}, {0x7ad82b4d, 0}, {0xaeeec432, 16},
      {0x2d09c049, 20}, {0x641a9b75, 4}, {0x9d55e9b7, 14}},
     keypoint_stage_extract_light,
     match_keypoints_global_light,
     79},
    {"mode 4", {{0xaeeec432, 6}}, keypoint_stage_extract, match_keypoints_light, 79},
    // Cards of the extended-card routine A (its card section) and of the
    // plain card routines B and C (D reads the same slot as C).
    {"card A", {}, card_extract_a, match_card, 67},
    {"card B", {}, card_extract_b, match_card, 2},
    {"card C", {}, card_extract_c, match_card, 2},
};
constexpr int kModeCount = static_cast<int>(std::size(kModes));

// Templates of one set: finger f's impression i at [f][i].
struct Set {
  MatchContext* ctx = ctx_create();
  std::vector<std::vector<DataBlob*>> fingers;
  Set(const Mode& m, const std::filesystem::path& folder) {
    for (const auto& [key, value] : m.preset) param_set(ctx, key, value);
    // ZYL_KEYPOINT_BENCH_PARAMS="key=value,..." (keys in hexadecimal) sets
    // further parameters after the preset's, to compare settings.
    if (const char* env = std::getenv("ZYL_KEYPOINT_BENCH_PARAMS")) {
      const std::string list = env;
      for (std::size_t at = 0; at < list.size();) {
        std::size_t end = list.find(',', at);
        if (end == std::string::npos) end = list.size();
        const std::string item = list.substr(at, end - at);
        if (const std::size_t eq = item.find('='); eq != std::string::npos)
          param_set(ctx, static_cast<std::uint32_t>(std::stoul(item.substr(0, eq), nullptr, 16)),
                    std::stoi(item.substr(eq + 1)));
        at = end + 1;
      }
    }
    for (int f = 101; f <= 110; ++f) {
      std::vector<DataBlob*> row;
      for (int i = 1; i <= 8; ++i) {
        const auto file = folder / (std::to_string(f) + "_" + std::to_string(i) + ".pgm");
        if (!std::filesystem::exists(file)) continue;
        const auto p = zyl::test::read_pgm(file.string());
        GrayImage* img = image_create(p.height, p.width, 500, 500, p.pixels.data(), 0);
        DataBlob* out = nullptr;
        if (m.extract(ctx, img, nullptr, m.kind, &out) == 0) row.push_back(out);
        image_release(img);
      }
      if (!row.empty()) fingers.push_back(std::move(row));
    }
  }
  ~Set() {
    for (auto& row : fingers)
      for (DataBlob* b : row) blob_release(b);
    ctx_release(ctx);
  }
};

int first_score(const Mode& m, MatchContext* ctx, DataBlob* a, DataBlob* b) {
  std::uint16_t* v = nullptr;
  std::uint16_t n = 0;
  const int st = m.match(ctx, a, b, &v, &n, nullptr);
  const int s = st == 0 && n ? v[0] : 0;
  std::free(v);
  return s;
}

// ZYL_KEYPOINT_BENCH_SET names another -160 set of the shared folder.
const std::filesystem::path kFolder =
    std::filesystem::path(ZYL_SHARED_FINGERPRINTS) /
    (std::getenv("ZYL_KEYPOINT_BENCH_SET") ? std::getenv("ZYL_KEYPOINT_BENCH_SET") : "fvc2004-db4b-160");

Set& set_of(int mode) {
  static std::unique_ptr<Set> sets[kModeCount];
  if (!sets[mode]) sets[mode] = std::make_unique<Set>(kModes[mode], kFolder);
  return *sets[mode];
}

void print_accuracy(int mode) {
  static bool printed[kModeCount] = {};
  if (printed[mode]) return;
  printed[mode] = true;
  const Mode& m = kModes[mode];
  Set& s = set_of(mode);
  std::vector<std::int32_t> genuine, impostor;
  for (const auto& row : s.fingers)
    for (std::size_t i = 0; i < row.size(); ++i)
      for (std::size_t j = i + 1; j < row.size(); ++j) genuine.push_back(first_score(m, s.ctx, row[i], row[j]));
  for (std::size_t f = 0; f < s.fingers.size(); ++f)
    for (std::size_t g = f + 1; g < s.fingers.size(); ++g)
      impostor.push_back(first_score(m, s.ctx, s.fingers[f][0], s.fingers[g][0]));
  std::printf("%s on %s: EER %.2f %% (%zu genuine, %zu impostor pairs)\n", m.name,
              kFolder.filename().string().c_str(), 100 * zyl::test::equal_error_rate(genuine, impostor),
              genuine.size(), impostor.size());
}

void BM_KeypointComparison(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  if (!std::filesystem::exists(kFolder)) {
    state.SkipWithError("no shared fvc2004-db4b-160 set");
    return;
  }
  print_accuracy(mode);
  Set& s = set_of(mode);
  if (s.fingers.size() < 2) {
    state.SkipWithError("too few templates");
    return;
  }
  std::size_t k = 0;
  for (auto _ : state) {
    DataBlob* a = s.fingers[k % s.fingers.size()][0];
    DataBlob* b = s.fingers[(k + 1) % s.fingers.size()][k % s.fingers[(k + 1) % s.fingers.size()].size()];
    benchmark::DoNotOptimize(first_score(kModes[mode], s.ctx, a, b));
    ++k;
  }
  state.SetLabel(kModes[mode].name);
}
BENCHMARK(BM_KeypointComparison)->DenseRange(0, kModeCount - 1)->Unit(benchmark::kMicrosecond);

}  // namespace
