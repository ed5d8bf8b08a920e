#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <memory>
#include <string>
#include <vector>

#include "extract/byte_image.h"
#include "extract/pipeline.h"
#include "support/pgm.h"
#include "zylscan/extract_pipeline.h"
#include "zylscan/image_quality.h"
#include "zylscan/image_stretch.h"
#include "zylscan/xw.h"

namespace {

using zyl::extract::OwnedByteImage;
using zyl::test::GreyImage;

struct Context {
  XWContext* c = XWCreateContext();
  ~Context() { XWFreeContext(c); }
  Context& set(int id, int value) {
    EXPECT_EQ(XWSetAdditionalParameter(id, value, c), XW_OK) << id;
    return *this;
  }
};

OwnedByteImage rows_of(const GreyImage& g) {
  OwnedByteImage rows(g.width, g.height);
  StretchImageFromLinear(g.width, g.height, g.pixels.data(), g.width, g.height, rows.get());
  return rows;
}

struct Extraction {
  int result;
  std::unique_ptr<FeatureRecord> record;
  OwnedByteImage skeleton;
};

Extraction extract(const GreyImage& g, XWContext* context) {
  Extraction e{0, std::make_unique<FeatureRecord>(), rows_of(g)};
  std::memset(e.record.get(), 0, sizeof(FeatureRecord));
  e.result = ExtractFeatures(g.width, g.height, e.skeleton.get(), e.record.get(), context);
  return e;
}

GreyImage uniform(int w, int h, std::uint8_t v) { return {w, h, std::vector<std::uint8_t>(static_cast<size_t>(w) * h, v)}; }

const char* const kPrints[] = {"fvc2000_102_1.pgm", "fvc2004_101_1.pgm"};

// Extraction is the slow part of these tests: each print is extracted once
// with a default context and shared by the tests that only read the result.
const Extraction& default_extraction(const std::string& name) {
  static std::map<std::string, Extraction> cache;
  auto it = cache.find(name);
  if (it == cache.end()) {
    Context ctx;
    it = cache.emplace(name, extract(zyl::test::read_pgm(zyl::test::test_data(name)), ctx.c)).first;
  }
  return it->second;
}

TEST(ExtractFeatures, RealPrintsGiveAPlausibleCleanRecordAndSkeleton) {
  for (const char* name : kPrints) {
    SCOPED_TRACE(name);
    const GreyImage g = zyl::test::read_pgm(zyl::test::test_data(name));
    const Extraction& e = default_extraction(name);
    EXPECT_TRUE(e.result == 0 || e.result == 1);
    const FeatureRecord& r = *e.record;
    EXPECT_GE(r.minutiaCount, 15);
    EXPECT_LE(r.minutiaCount, 120);
    int bifurcations = 0;
    for (int i = 0; i < r.minutiaCount; ++i) {
      // The selection leaves nothing within 10 pixels of an edge.
      EXPECT_GE(r.minutiaX[i], 10);
      EXPECT_LT(r.minutiaX[i], g.width - 10);
      EXPECT_GE(r.minutiaY[i], 10);
      EXPECT_LT(r.minutiaY[i], g.height - 10);
      EXPECT_GE(r.minutiaAngle[i], 0);
      EXPECT_LE(r.minutiaAngle[i], 239);
      EXPECT_TRUE(r.minutiaType[i] == 0 || r.minutiaType[i] == 1);
      EXPECT_GE(r.minutiaCurvature[i], 0);
      EXPECT_LE(r.minutiaCurvature[i], 255);
      bifurcations += r.minutiaType[i];
      if (i > 0) {
        EXPECT_GE(r.minutiaY[i], r.minutiaY[i - 1]);  // row order
      }
    }
    EXPECT_GT(bifurcations, 0);
    EXPECT_LT(bifurcations, r.minutiaCount);
    EXPECT_EQ(r.blockColumns, static_cast<unsigned>(g.width / 16));
    EXPECT_EQ(r.blockRows, static_cast<unsigned>(g.height / 16));
    EXPECT_LE(r.singularCount, 64);
    // The caller's image now holds the skeleton: ridge 0, background 255.
    int ridge = 0;
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x) {
        ASSERT_TRUE(e.skeleton[y][x] == 0 || e.skeleton[y][x] == 255) << x << "," << y;
        ridge += e.skeleton[y][x] == 0;
      }
    EXPECT_GT(ridge, g.width * g.height / 50);
  }
}

TEST(ExtractFeatures, PinsTheFirstMinutiaeOfAKnownPrint) {
  const FeatureRecord& r = *default_extraction("fvc2000_102_1.pgm").record;
  ASSERT_GE(r.minutiaCount, 3);
  struct Pin {
    int x, y, angle, type, curvature;
  };
  const Pin pins[] = {{36, 32, 89, 1, 3}, {53, 44, 90, 1, 4}, {76, 56, 91, 0, 7}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(r.minutiaX[i], pins[i].x);
    EXPECT_EQ(r.minutiaY[i], pins[i].y);
    EXPECT_EQ(r.minutiaAngle[i], pins[i].angle);
    EXPECT_EQ(r.minutiaType[i], pins[i].type);
    EXPECT_EQ(r.minutiaCurvature[i], pins[i].curvature);
  }
  EXPECT_EQ(r.minutiaCount, 31);
}

TEST(ExtractFeatures, IsDeterministicAndLeavesTheContextAlone) {
  const GreyImage g = zyl::test::read_pgm(zyl::test::test_data("fvc2000_102_1.pgm"));
  Context ctx;
  const Extraction& a = default_extraction("fvc2000_102_1.pgm");
  // A reused record that held other data ends the same as a fresh one.
  Extraction b{0, std::make_unique<FeatureRecord>(), rows_of(g)};
  std::memset(b.record.get(), 0xA5, sizeof(FeatureRecord));
  b.result = ExtractFeatures(g.width, g.height, b.skeleton.get(), b.record.get(), ctx.c);
  EXPECT_EQ(a.result, b.result);
  const FeatureRecord &ra = *a.record, &rb = *b.record;
  EXPECT_EQ(ra.minutiaCount, rb.minutiaCount);
  EXPECT_EQ(ra.borderDensity, rb.borderDensity);
  const size_t n = static_cast<size_t>(ra.minutiaCount) * sizeof(int32_t);
  EXPECT_EQ(std::memcmp(ra.minutiaX, rb.minutiaX, n), 0);
  EXPECT_EQ(std::memcmp(ra.minutiaY, rb.minutiaY, n), 0);
  EXPECT_EQ(std::memcmp(ra.minutiaAngle, rb.minutiaAngle, n), 0);
  EXPECT_EQ(std::memcmp(ra.minutiaCurvature, rb.minutiaCurvature, n), 0);
  EXPECT_EQ(std::memcmp(ra.blockDirections, rb.blockDirections, sizeof ra.blockDirections), 0);
  EXPECT_EQ(ra.singularCount, rb.singularCount);
  for (int y = 0; y < g.height; ++y) ASSERT_EQ(std::memcmp(a.skeleton[y], b.skeleton[y], g.width), 0);
}

// The print moved right and down by whole pixels, the new strip filled with
// background and the far edges cut. Minutiae away from the edges move with
// it: each one of the original (inside a margin) is found in the shifted
// record at the shifted place, give or take a pixel, with the same type.
TEST(ExtractFeatures, ShiftedPrintGivesTheSameMinutiaeShifted) {
  const GreyImage g = zyl::test::read_pgm(zyl::test::test_data("fvc2004_101_1.pgm"));
  {
    const int dx = 7, dy = 5;
    GreyImage moved = uniform(g.width, g.height, 255);
    for (int y = dy; y < g.height; ++y)
      std::memcpy(&moved.pixels[static_cast<size_t>(y) * g.width + dx], &g.pixels[static_cast<size_t>(y - dy) * g.width],
                  static_cast<size_t>(g.width - dx));
    Context ctx;
    const Extraction& a = default_extraction("fvc2004_101_1.pgm");
    const Extraction b = extract(moved, ctx.c);
    const int margin = 40;
    int considered = 0, found = 0;
    for (int i = 0; i < a.record->minutiaCount; ++i) {
      const int x = a.record->minutiaX[i] + dx, y = a.record->minutiaY[i] + dy;
      if (x < margin || y < margin || x >= g.width - margin || y >= g.height - margin) continue;
      ++considered;
      for (int j = 0; j < b.record->minutiaCount; ++j)
        if (std::abs(b.record->minutiaX[j] - x) <= 1 && std::abs(b.record->minutiaY[j] - y) <= 1 &&
            b.record->minutiaType[j] == a.record->minutiaType[i]) {
          ++found;
          break;
        }
    }
    EXPECT_GE(considered, 10);
    EXPECT_GE(found * 10, considered * 9) << found << " of " << considered;
  }
}

TEST(ExtractFeatures, ResultIsOneExactlyWhenTheQualityValueIsBelowTheThreshold) {
  const GreyImage g = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_160.pgm"));
  Context raw;
  raw.set(11000, 1);
  const int q = extract(g, raw.c).result;
  ASSERT_GT(q, 0);
  ASSERT_LT(q, 255);
  for (auto [threshold, expected] : {std::pair{q, 0}, std::pair{q + 1, 1}}) {
    Context ctx;
    ctx.set(10000, threshold);
    EXPECT_EQ(extract(g, ctx.c).result, expected) << threshold;
  }
}

TEST(ExtractFeatures, ImageWithoutGoodPixelsIsTooPoorAndHasNoMinutiae) {
  const GreyImage g = uniform(64, 48, 128);
  Context raw;
  raw.set(11000, 1);
  EXPECT_EQ(extract(g, raw.c).result, 255);
  Context strict;
  strict.set(10000, 255);
  const Extraction e = extract(g, strict.c);
  EXPECT_EQ(e.result, 0);
  EXPECT_EQ(e.record->minutiaCount, 0);
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) ASSERT_TRUE(e.skeleton[y][x] == 0 || e.skeleton[y][x] == 255);
}

TEST(ExtractFeatures, BlockGridFollowsTheSizeUpToTheRecordsLimit) {
  struct Case {
    int w, h;
    int result_sign;  // 0 accepted, -1 refused
    unsigned columns, rows;
  };
  const Case cases[] = {{16, 16, 0, 1, 1},   {15, 40, 0, 0, 2},    {2048, 16, 0, 128, 1}, {16, 2048, 0, 1, 128},
                        {2049, 16, -1, 0, 0}, {16, 2049, -1, 0, 0}, {1, 1, 0, 0, 0}};
  Context ctx;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    const Extraction e = extract(uniform(c.w, c.h, 90), ctx.c);
    if (c.result_sign < 0) {
      EXPECT_EQ(e.result, ZYL_EXTRACT_BAD_ARGUMENT);
      continue;
    }
    EXPECT_GE(e.result, 0);
    EXPECT_EQ(e.record->blockColumns, c.columns);
    EXPECT_EQ(e.record->blockRows, c.rows);
  }
}

TEST(ExtractFeatures, RefusesBadArguments) {
  Context ctx;
  OwnedByteImage img(20, 20);
  auto record = std::make_unique<FeatureRecord>();
  EXPECT_EQ(ExtractFeatures(20, 20, nullptr, record.get(), ctx.c), ZYL_EXTRACT_BAD_ARGUMENT);
  EXPECT_EQ(ExtractFeatures(20, 20, img.get(), nullptr, ctx.c), ZYL_EXTRACT_BAD_ARGUMENT);
  EXPECT_EQ(ExtractFeatures(0, 20, img.get(), record.get(), ctx.c), ZYL_EXTRACT_BAD_ARGUMENT);
  // No default context exists outside XWInitialize .. XWFinalize.
  EXPECT_EQ(ExtractFeatures(20, 20, img.get(), record.get(), nullptr), ZYL_EXTRACT_BAD_ARGUMENT);
}

TEST(ExtractFeaturesGetQ, RatesRealPrintsWithinRangeAndFlatImagesZero) {
  for (const char* name : kPrints) {
    const GreyImage g = zyl::test::read_pgm(zyl::test::test_data(name));
    OwnedByteImage rows = rows_of(g);
    const int q = ExtractFeatures_GetQ(g.width, g.height, rows.get());
    EXPECT_GT(q, 20) << name;
    EXPECT_LE(q, 100) << name;
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x) ASSERT_TRUE(rows[y][x] == 0 || rows[y][x] == 255);
  }
  OwnedByteImage flat = rows_of(uniform(50, 40, 200));
  EXPECT_EQ(ExtractFeatures_GetQ(50, 40, flat.get()), 0);
  EXPECT_EQ(ExtractFeatures_GetQ(50, 40, nullptr), -1);
}

TEST(ExtractFeaturesGetQ, ScoresNoiseAndAreaByTheSinglePrecisionFormula) {
  struct Case {
    int noise, area, expected;
  };
  const Case cases[] = {
      {255, 0, 0},    // no good pixel
      {92, 100, 100}, // c = 100 and full area: the formula's denominator is 0
      {0, 100, 100},  // clamped from 160
      {128, 60, 37},  // c = 78: 2 x 6 + 19 = 31, x 1.2
      {200, 30, 7},   // c = 33: 2 x 2 + 2 = 6, x 1.2
  };
  for (const Case& c : cases)
    EXPECT_EQ(zyl::extract::texture_quality_score(c.noise, c.area), c.expected) << c.noise << "/" << c.area;
}

}  // namespace

namespace {

// Small and odd sizes with random pixels: every entry answers within its
// range and nothing reads or writes outside the images (the sanitizer build
// checks the latter).
TEST(ExtractFeatures, SurvivesRandomImagesOfSmallAndOddSizes) {
  std::mt19937 rng(11);
  Context ctx;
  ctx.set(11000, 1);
  for (int w : {1, 2, 3, 5, 16, 17, 33, 47})
    for (int h : {1, 4, 15, 16, 31, 48}) {
      SCOPED_TRACE(testing::Message() << w << "x" << h);
      GreyImage g = uniform(w, h, 0);
      for (auto& p : g.pixels) p = static_cast<std::uint8_t>(rng());
      const Extraction e = extract(g, ctx.c);
      EXPECT_GE(e.result, 0);
      EXPECT_LE(e.result, 255);
      EXPECT_LE(e.record->minutiaCount, ZYL_MAX_MINUTIAE);
      OwnedByteImage rows = rows_of(g);
      const int q = ExtractFeatures_GetQ(w, h, rows.get());
      EXPECT_GE(q, 0);
      EXPECT_LE(q, 100);
      const int capture = ZylEx_GetQuality(w, h, g.pixels.data());
      EXPECT_GE(capture, 1);
      EXPECT_LE(capture, 100);
    }
}

}  // namespace

namespace {

// The presets and switches that change which stages run reach a clean record:
// the optional stages (spot removal, good-area growing, extra mean passes,
// plain binarisation, filtering off) all run on a real print.
TEST(ExtractFeatures, EveryPresetAndSwitchGivesACleanRecord) {
  const GreyImage g = zyl::test::read_pgm(zyl::test::test_data("fvc2002_101_1_160.pgm"));
  struct Case {
    int mode;
    std::vector<std::pair<int, int>> settings;
  };
  // Presets that switch a stage on or off (the others differ in numbers only).
  const Case cases[] = {{0, {}},
                        {200, {}},   // spot removal, squared differences
                        {900, {}},   // extra mean passes
                        {1100, {}},  // good-area growing
                        {0, {{10001, 0}}},
                        {0, {{10012, 0}, {10016, 0}}},
                        {0, {{10019, 0}, {10018, 0}}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " with " << c.settings.size() << " settings");
    Context ctx;
    ASSERT_EQ(SetMode(c.mode, ctx.c), XW_OK);
    for (auto [id, value] : c.settings) ctx.set(id, value);
    const Extraction e = extract(g, ctx.c);
    EXPECT_TRUE(e.result == 0 || e.result == 1);
    EXPECT_GT(e.record->minutiaCount, 0);
    for (int i = 0; i < e.record->minutiaCount; ++i) {
      EXPECT_GE(e.record->minutiaAngle[i], 0);
      EXPECT_GE(e.record->minutiaX[i], 10);
      EXPECT_LT(e.record->minutiaX[i], g.width - 10);
    }
    for (int y = 0; y < g.height; ++y)
      for (int x = 0; x < g.width; ++x) ASSERT_TRUE(e.skeleton[y][x] == 0 || e.skeleton[y][x] == 255);
  }
}

}  // namespace
