// Golden results of the skeleton engine: the templates XWExtract writes for a
// fixed set of prints (with the skeleton it leaves in the image) and the
// outcome of XWVerify for every pair of them, under several modes. The values
// were taken from the engine before its speed work; any change to them is a
// change of behaviour, not an optimisation.
//
// To print a fresh table (only after a deliberate change of behaviour), run
// the test with ZYL_GOLDEN_PRINT=1.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/golden_digest.h"
#include "support/pgm.h"
#include "xw_operations_support.h"
#include "zylscan/nuvel.h"
#include "zylscan/xw.h"
#include "zylscan/xw_operations.h"

namespace {

// Genuine pairs among them: 2000 101_1/101_4 and 102_1/102_2, 2002 101_1/101_2,
// 2004 102_1/102_2.
constexpr const char* kPrints[] = {
    "fvc2000_101_1.pgm",      "fvc2000_101_4.pgm",      "fvc2000_102_1.pgm", "fvc2000_102_2.pgm",
    "fvc2002_101_1_crop.pgm", "fvc2002_101_2_crop.pgm", "fvc2004_101_1.pgm", "fvc2004_102_1.pgm",
    "fvc2004_102_2.pgm",      "fvc2004_103_1.pgm",
};
constexpr int kPrintCount = static_cast<int>(std::size(kPrints));
constexpr int kPairCount = kPrintCount * (kPrintCount - 1) / 2;

struct Setting {
  const char* name;
  std::int32_t mode, speed, match_features;
};

// The modes cover the pipeline's branches (direction squares, extra mean
// passes, adaptive binarisation, filter settings) and the matcher's speeds
// and feature choices.
constexpr Setting kSettings[] = {
    {"mode0", 0, 0, 0},      {"mode200", 200, 0, 0}, {"mode600", 600, 0, 0},
    {"mode700", 700, 0, 1},  {"mode900", 900, 256, 0}, {"mode1100", 1100, 256, 2},
};

struct Golden {
  std::uint64_t templates[kPrintCount];  // template bytes and skeleton image
  std::int32_t scores[kPairCount];       // XWVerify(i, j) for i < j, in order
  std::uint64_t details;                 // every pair's alignment and pairing
};

using zyl::test::fnv;
using zyl::test::kFnvStart;

// clang-format off
constexpr Golden kGolden[] = {
#include "xw_golden_values.inc"
};
// clang-format on

struct Outcome {
  std::vector<std::uint64_t> templates;
  std::vector<std::int32_t> scores;
  std::uint64_t details = kFnvStart;
};

Outcome run(const Setting& s) {
  zyl::test::Context context{XWCreateContext()};
  EXPECT_EQ(SetMode(s.mode, context.get()), XW_OK);
  EXPECT_EQ(SetMatchingSpeed(s.speed, context.get()), XW_OK);
  EXPECT_EQ(SetMatchFeatures(s.match_features, context.get()), XW_OK);
  Outcome o;
  std::vector<std::vector<std::uint8_t>> templates;
  for (const char* name : kPrints) {
    zyl::test::GreyImage print = zyl::test::read_pgm(zyl::test::test_data(name));
    std::vector<std::uint8_t> out(ZYL_TEMPLATE_BUFFER_SIZE, 0);
    std::int32_t length = 0;
    const std::int32_t status =
        XWExtract(print.width, print.height, print.pixels.data(), 500, out.data(), &length, context.get());
    EXPECT_GE(length, 0) << name;
    std::uint64_t h = fnv(kFnvStart, &status, sizeof status);
    h = fnv(h, out.data(), static_cast<std::size_t>(std::max(length, 0)));
    h = fnv(h, print.pixels.data(), print.pixels.size());
    o.templates.push_back(h);
    templates.push_back(std::move(out));
  }
  auto details = std::make_unique<MatchDetails>();
  for (int i = 0; i < kPrintCount; ++i)
    for (int j = i + 1; j < kPrintCount; ++j) {
      *details = MatchDetails{};
      details->size = XW_DETAILS_LONG;
      const std::int32_t status = XWVerify(templates[i].data(), templates[j].data(), details.get(), context.get());
      o.scores.push_back(details->score);
      o.details = fnv(o.details, &status, sizeof status);
      o.details = fnv(o.details, details.get(), sizeof *details);
    }
  return o;
}

void print_table(const Setting& s, const Outcome& o) {
  zyl::test::print_golden_row(s.name, o.templates, o.scores, 15);
  std::printf(",\n     0x%016llXull},\n", static_cast<unsigned long long>(o.details));
}

class GoldenResults : public testing::TestWithParam<int> {};

TEST_P(GoldenResults, TemplatesAndScoresAreUnchanged) {
  const Setting& s = kSettings[GetParam()];
  const Golden& g = kGolden[GetParam()];
  const Outcome o = run(s);
  if (std::getenv("ZYL_GOLDEN_PRINT")) print_table(s, o);
  for (int i = 0; i < kPrintCount; ++i) EXPECT_EQ(o.templates[i], g.templates[i]) << s.name << " " << kPrints[i];
  int k = 0;
  for (int i = 0; i < kPrintCount; ++i)
    for (int j = i + 1; j < kPrintCount; ++j, ++k)
      EXPECT_EQ(o.scores[k], g.scores[k]) << s.name << " " << kPrints[i] << " / " << kPrints[j];
  EXPECT_EQ(o.details, g.details) << s.name;
}

INSTANTIATE_TEST_SUITE_P(Modes, GoldenResults, testing::Range(0, static_cast<int>(std::size(kSettings))),
                         [](const testing::TestParamInfo<int>& i) { return std::string(kSettings[i.param].name); });

static_assert(std::size(kGolden) == std::size(kSettings));

}  // namespace
