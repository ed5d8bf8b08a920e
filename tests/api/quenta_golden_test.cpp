// Golden results of algorithm modes 3 and 4 on the device road: the wrapped
// template DevAlgExtract writes for every 160 x 160 crop of tests/data (mode
// 3 on the whole crop, mode 4 on its 96 x 96 centre, the image of the sensor
// that selects mode 4) and DevAlgVerify's answer for every pair of them. Any
// change to these values is a change of behaviour, not an optimisation.
//
// To print a fresh table (only after a deliberate change of behaviour), run
// the test with ZYL_GOLDEN_PRINT=1:
//
//   ZYL_GOLDEN_PRINT=1 build/tests/api_tests --gtest_filter='*QuentaGolden*' |
//     awk '/^    \/\/ mode/{on=1} on{print} /\}\},$/{on=0}' > tests/api/quenta_golden_values.inc
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/golden_digest.h"
#include "support/pgm.h"
#include "zylscan/devalg.h"
#include "zylscan/zylfpscan_feature.h"

namespace {

// Genuine pairs among them: 2002 101_1..101_8, 2004 102_1/102_5, 2000
// 102_1/102_2.
constexpr const char* kCrops[] = {
    "fvc2002_101_1_160.pgm", "fvc2002_101_2_160.pgm", "fvc2002_101_3_160.pgm", "fvc2002_101_4_160.pgm",
    "fvc2002_101_5_160.pgm", "fvc2002_101_6_160.pgm", "fvc2002_101_7_160.pgm", "fvc2002_101_8_160.pgm",
    "fvc2002_102_1_160.pgm", "fvc2002_103_1_160.pgm", "fvc2002_104_1_160.pgm", "fvc2002_105_1_160.pgm",
    "fvc2004_102_1_160.pgm", "fvc2004_102_5_160.pgm", "fvc2004_103_1_160.pgm", "fvc2000_102_1_160.pgm",
    "fvc2000_102_2_160.pgm",
};
constexpr int kCropCount = static_cast<int>(std::size(kCrops));
constexpr int kPairCount = kCropCount * (kCropCount - 1);

struct Setting {
  const char* name;
  std::int32_t mode, side;
};
constexpr Setting kSettings[] = {{"mode3_160", 3, 160}, {"mode4_96", 4, 96}};

struct Golden {
  std::uint64_t templates[kCropCount];  // status, wrapped template, image after
  std::int32_t scores[kPairCount];      // DevAlgVerify(i, j) for i != j, in order
};

using zyl::test::fnv;
using zyl::test::kFnvStart;

// clang-format off
constexpr Golden kGolden[] = {
#include "quenta_golden_values.inc"
};
// clang-format on

struct Outcome {
  std::vector<std::uint64_t> templates;
  std::vector<std::int32_t> scores;
};

// Puts the library-wide mode back after each test.
class QuentaGolden : public testing::TestWithParam<int> {
 protected:
  void SetUp() override { saved_ = AlgMode; }
  void TearDown() override { setAlgMode(saved_); }
  std::int32_t saved_ = 0;
};

Outcome run(const Setting& s) {
  setAlgMode(s.mode);
  Outcome o;
  std::vector<std::vector<std::uint8_t>> templates;
  for (const char* name : kCrops) {
    zyl::test::GreyImage img = zyl::test::centre_crop(zyl::test::read_pgm(zyl::test::test_data(name)), s.side);
    EXPECT_EQ(img.width, s.side) << name;
    std::vector<std::uint8_t> out(ZYLFPSCAN_TEMPLATE_SLOT_SIZE, 0);
    std::int32_t length = 0;
    const std::int32_t status =
        DevAlgExtract(img.width, img.height, img.pixels.data(), 500, out.data(), &length, nullptr);
    EXPECT_EQ(status, 0) << name;
    std::uint64_t h = fnv(kFnvStart, &status, sizeof status);
    h = fnv(h, &length, sizeof length);
    h = fnv(h, out.data(), out.size());
    h = fnv(h, img.pixels.data(), img.pixels.size());
    o.templates.push_back(h);
    templates.push_back(std::move(out));
  }
  for (int i = 0; i < kCropCount; ++i)
    for (int j = 0; j < kCropCount; ++j)
      if (i != j) o.scores.push_back(DevAlgVerify(templates[i].data(), templates[j].data(), nullptr));
  return o;
}

void print_table(const Setting& s, const Outcome& o) {
  zyl::test::print_golden_row(s.name, o.templates, o.scores, 16);
  std::printf("},\n");
}

TEST_P(QuentaGolden, TemplatesAndScoresAreUnchanged) {
  const Setting& s = kSettings[GetParam()];
  const Golden& g = kGolden[GetParam()];
  const Outcome o = run(s);
  if (std::getenv("ZYL_GOLDEN_PRINT")) print_table(s, o);
  for (int i = 0; i < kCropCount; ++i) EXPECT_EQ(o.templates[i], g.templates[i]) << s.name << " " << kCrops[i];
  int k = 0;
  for (int i = 0; i < kCropCount; ++i)
    for (int j = 0; j < kCropCount; ++j)
      if (i != j) {
        EXPECT_EQ(o.scores[k], g.scores[k]) << s.name << " " << kCrops[i] << " / " << kCrops[j];
        ++k;
      }
}

INSTANTIATE_TEST_SUITE_P(Modes, QuentaGolden, testing::Range(0, static_cast<int>(std::size(kSettings))),
                         [](const testing::TestParamInfo<int>& i) { return std::string(kSettings[i.param].name); });

static_assert(std::size(kGolden) == std::size(kSettings));

}  // namespace
