// Grid feature map matcher: the byte format, work size, search, scores.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "support/grid_maps.h"
#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_object.h"

namespace zyl::test {
namespace {

using Map = std::vector<uint8_t>;

Map header(int columns, int rows, int cell = 8, int resolution = 500) {
  return zyl::test::grid_map_header(columns, rows, cell, resolution);
}
using zyl::test::world_map;

void seal(Map& m) {  // put the XOR check into bytes 8-9
  m[8] = 0;
  m[9] = 0;
  uint8_t x = 0;
  for (uint8_t b : m) x ^= b;
  m[9] = x;
}

struct Result {
  int status;
  uint16_t score;
  uint8_t decision;
  GridAlignment alignment;
};

Result match(const Map& a, const Map& b, uint32_t flags, int index = 0,
             GridAlignment given = {0, 0, 0}, uint16_t* record = nullptr) {
  const uint32_t need = gridmap_match_work_size(a.data(), a.size(), b.data(), b.size(), flags);
  std::vector<uint8_t> work(need);
  Result r{};
  r.alignment = given;
  uint16_t score = 0;
  r.status = gridmap_match(work.data(), need, a.data(), a.size(), b.data(), b.size(), index,
                           record ? record : &score, &r.decision, &r.alignment, flags);
  r.score = record ? record[0] : score;
  return r;
}

TEST(GridMapFormat, OptionalPartsFollowFromTheLength) {
  Map base = header(2, 1);
  base.insert(base.end(), {10, 20, 30, 40});  // 2 cells
  struct Case {
    int extra;
    int status;
    bool detail, element;
    int quality;
  } cases[] = {
      {0, ML_OK, false, false, 0},  {1, ML_OK, false, false, 99}, {2, ML_WRONG_KIND, false, false, 0},
      {4, ML_OK, false, true, 0},   {5, ML_OK, false, true, 99},  {6, ML_WRONG_KIND, false, false, 0},
      {36, ML_OK, true, false, 0},  {37, ML_OK, true, false, 99}, {40, ML_OK, true, true, 0},
      {41, ML_OK, true, true, 99},
  };
  for (const Case& c : cases) {
    Map m = base;
    m.resize(m.size() + c.extra, 0);
    if (c.extra % 2 == 1) m.back() = 99;
    uint8_t cols = 0, rows = 0, cell = 0, q = 7;
    uint16_t res = 0;
    const uint8_t *cells = nullptr, *detail = nullptr, *element = nullptr;
    ASSERT_EQ(gridmap_parse(m.data(), m.size(), &cols, &rows, &cell, &res, &cells, &detail, &q,
                            &element),
              c.status)
        << c.extra;
    if (c.status != ML_OK) continue;
    EXPECT_EQ(cols, 2);
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(cell, 8);
    EXPECT_EQ(res, 500);
    EXPECT_EQ(cells, m.data() + 10);
    EXPECT_EQ(detail != nullptr, c.detail) << c.extra;
    EXPECT_EQ(element != nullptr, c.element) << c.extra;
    EXPECT_EQ(q, c.quality) << c.extra;
  }
}

TEST(GridMapFormat, CheckFieldAndHeadRefusals) {
  Map m = header(1, 1);
  m.insert(m.end(), {5, 6, 70});
  EXPECT_EQ(gridmap_parse(m.data(), m.size(), nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr),
            ML_OK);  // bytes 8-9 zero: no XOR test
  seal(m);
  EXPECT_EQ(gridmap_parse(m.data(), m.size(), nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr),
            ML_OK);
  Map wrong = m;
  wrong.back() ^= 1;
  EXPECT_EQ(gridmap_parse(wrong.data(), wrong.size(), nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr),
            ML_WRONG_KIND);
  const struct {
    int at;
    uint8_t v;
  } bad[] = {{0, 0x5C}, {2, 3}, {3, 0}, {4, 0}};
  for (auto [at, v] : bad) {
    Map b = header(1, 1);
    b.insert(b.end(), {5, 6});
    b[at] = v;
    if (at == 4) b[5] = 0;  // resolution 0
    EXPECT_EQ(gridmap_parse(b.data(), b.size(), nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr),
              ML_WRONG_KIND)
        << at;
  }
  EXPECT_EQ(gridmap_parse(m.data(), 9, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr),
            ML_WRONG_KIND);
}

TEST(GridMapMatch, EmptyMapParsesAndScoresZero) {
  const Map empty = header(0, 3);
  EXPECT_EQ(gridmap_parse(empty.data(), empty.size(), nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr),
            ML_OK);
  const Map full = world_map(10, 10, 8, 0, 0, 0);
  GridAlignment untouched{9, 9, 9};
  const Result r = match(empty, full, 0, 3, untouched);
  EXPECT_EQ(r.status, ML_OK);
  EXPECT_EQ(r.score, 0);
  EXPECT_EQ(r.alignment.dx, 9);
}

TEST(GridMapMatch, WorkSizeAndRefusals) {
  const Map a = world_map(12, 10, 8, 0, 0, 0), b = world_map(11, 9, 8, 0, 0, 0);
  // (12 + 8) x 10 + (11 + 8) x 9 cells of 2 bytes.
  EXPECT_EQ(gridmap_match_work_size(a.data(), a.size(), b.data(), b.size(), 0), 2u * (200 + 171));
  // Square: both sides 12.
  EXPECT_EQ(gridmap_match_work_size(a.data(), a.size(), b.data(), b.size(), GRIDMAP_SQUARE),
            2u * (240 + 171));
  const uint32_t need = gridmap_match_work_size(a.data(), a.size(), b.data(), b.size(), 0);
  std::vector<uint8_t> work(need);
  uint16_t score = 1;
  uint8_t decision = 1;
  EXPECT_EQ(gridmap_match(work.data(), need - 1, a.data(), a.size(), b.data(), b.size(), 3, &score,
                          &decision, nullptr, 0),
            ML_BAD_ARGUMENT);
  EXPECT_EQ(score, 0);
  EXPECT_EQ(decision, 0);
  EXPECT_EQ(gridmap_match(work.data(), need, a.data(), a.size(), b.data(), b.size(), 13, &score,
                          &decision, nullptr, 0),
            ML_BAD_ARGUMENT);
  Map broken = a;
  broken.push_back(0);
  broken.push_back(0);
  EXPECT_EQ(gridmap_match(work.data(), need, broken.data(), broken.size(), b.data(), b.size(), 3,
                          &score, &decision, nullptr, 0),
            ML_WRONG_KIND);
  EXPECT_EQ(gridmap_match_work_size(broken.data(), broken.size(), b.data(), b.size(), 0), 0u);
  // A first map that resamples to more than 255 cells a side is refused.
  Map huge = header(200, 2, 16, 250);
  huge.resize(10 + 2 * 400, 50);
  const Map small = header(3, 3, 8, 500);
  EXPECT_EQ(gridmap_match_work_size(huge.data(), huge.size(), small.data(), small.size(), 0), 0u);
}

TEST(GridMapMatch, IdenticalMapsMatchInPlace) {
  const Map m = world_map(20, 20, 8, 0, 0, 0, 60);
  const Result r = match(m, m, GRIDMAP_RAW_SCORE);
  ASSERT_EQ(r.status, ML_OK);
  EXPECT_GT(r.score, 8000);
  EXPECT_EQ(r.alignment.angle, 0);
  EXPECT_EQ(r.alignment.dx, 0);
  EXPECT_EQ(r.alignment.dy, 0);
  // Decision index 0 always decides 0; a low threshold accepts.
  EXPECT_EQ(match(m, m, 0, 0).decision, 0);
  EXPECT_EQ(match(m, m, 0, 1).decision, 1);
}

TEST(GridMapMatch, RecoversAShiftAndTurnIn500DpiPixels) {
  // At 250 dpi with cells of 6: the alignment comes out in 500-dpi pixels.
  const int cell = 6;
  const Map m2 = world_map(24, 24, cell, 0, 0, 0);
  // p2 = R(21/512 turn) p1 + (3, 2) cells.
  Map a = world_map(24, 24, cell, 21, 3 * cell, 2 * cell), b = m2;
  a[4] = b[4] = 0;
  a[5] = b[5] = 250;
  Result found[2];
  for (int k = 0; k < 2; ++k) {
    // Coarse sampling (the maps have more than 169 valid cells), then none.
    const Result r = found[k] = match(a, b, (k ? GRIDMAP_NO_COARSE : 0) | GRIDMAP_RAW_SCORE);
    ASSERT_EQ(r.status, ML_OK);
    EXPECT_GT(r.score, 20000) << k;
    EXPECT_NEAR(r.alignment.angle, 10, 1) << k;  // 21 / 2
    EXPECT_NEAR(r.alignment.dx, 2 * 3 * cell, 2 * cell / 2) << k;
    EXPECT_NEAR(r.alignment.dy, 2 * 2 * cell, 2 * cell / 2) << k;
  }
  EXPECT_EQ(found[0].alignment.angle, found[1].alignment.angle);
  EXPECT_EQ(found[0].alignment.dx, found[1].alignment.dx);
  EXPECT_EQ(found[0].alignment.dy, found[1].alignment.dy);
}

TEST(GridMapMatch, FullTurnFindsALargeRotation) {
  // A turn of 85/512 about the maps' centre (96, 96) is beyond the three
  // default candidate angles: p2 = R (p1 - c) + c.
  const double a = 85 * 2 * M_PI / 512;
  const double tx = 96 - (std::cos(a) * 96 - std::sin(a) * 96);
  const double ty = 96 - (std::sin(a) * 96 + std::cos(a) * 96);
  const Map m2 = world_map(24, 24, 8, 0, 0, 0);
  const Map m1 = world_map(24, 24, 8, 85, tx, ty);
  const Result wide = match(m1, m2, GRIDMAP_FULL_TURN | GRIDMAP_RAW_SCORE);
  const Result narrow = match(m1, m2, GRIDMAP_RAW_SCORE);
  ASSERT_EQ(wide.status, ML_OK);
  EXPECT_NEAR(wide.alignment.angle, 42, 1);
  EXPECT_NEAR(wide.alignment.dx, tx, 8);
  EXPECT_NEAR(wide.alignment.dy, ty, 8);
  EXPECT_GT(wide.score, 2 * narrow.score);
}

TEST(GridMapMatch, GivenAlignmentIsScoredInPlace) {
  const Map m = world_map(20, 20, 8, 0, 0, 0);
  const Result free = match(m, m, GRIDMAP_RAW_SCORE);
  const Result given = match(m, m, GRIDMAP_RAW_SCORE | GRIDMAP_GIVEN_ONLY, 0, {0, 0, 0});
  EXPECT_EQ(given.score, free.score);
  EXPECT_EQ(given.alignment.dx, 0);
  EXPECT_EQ(given.alignment.dy, 0);
  // Input in pixels of the second map's resolution: 2 cells of 8 at 250 dpi
  // come back as 32 pixels at 500 dpi.
  Map a = m, b = m;
  a[4] = b[4] = 0;
  a[5] = b[5] = 250;
  const Result moved = match(a, b, GRIDMAP_RAW_SCORE | GRIDMAP_GIVEN_ONLY, 0, {0, 16, 0});
  EXPECT_EQ(moved.alignment.dx, 32);
  EXPECT_LT(moved.score, free.score);
}

TEST(GridMapMatch, ScoreScaleAndCap) {
  // Quality of 75 or less: best x 237 / 202.
  const Map m = world_map(20, 20, 8, 0, 0, 0, 70);
  const Result raw = match(m, m, GRIDMAP_RAW_SCORE);
  const Result scaled = match(m, m, 0);
  EXPECT_LE(raw.score, 32767);
  EXPECT_EQ(scaled.score, std::min(65535, raw.score * 237 / 202));
  // Quality 100: best x 237 / isqrt(65 x 1024) = 237 / 257.
  const Map q100 = world_map(20, 20, 8, 0, 0, 0, 100);
  EXPECT_EQ(match(q100, q100, 0).score, raw.score * 237 / 257);
}

TEST(GridMapMatch, DetailRecordIsFilled) {
  Map m = world_map(20, 20, 8, 0, 0, 0);
  uint16_t rec[3 + GRIDMAP_DETAIL_VALUES] = {0, GRIDMAP_DETAIL_KIND, 0};
  const Result r = match(m, m, GRIDMAP_DETAIL | GRIDMAP_RAW_SCORE, 0, {0, 0, 0}, rec);
  ASSERT_EQ(r.status, ML_OK);
  EXPECT_EQ(rec[2], 17);
  EXPECT_EQ(rec[3], 400);      // every cell paired
  EXPECT_EQ(rec[4], 441);      // 21 x 21 each
  EXPECT_EQ(rec[5], 42);       // both agreement terms full
  EXPECT_EQ(rec[6], 0);        // no d x e
  EXPECT_EQ(rec[9], 0);        // equal orientation histograms
  EXPECT_EQ(rec[16], 21);      // fullest value-agreement bin
}

// A smooth synthetic field of orientations and values, with its own
// frequencies so that two fields stand for two fingers.
struct Field {
  double ox, oy, vx, vy, phase;
  uint8_t orientation(double x, double y) const {
    return static_cast<uint8_t>(std::lround(128 + 60 * std::sin(x / ox) + 40 * std::cos(y / oy)) & 255);
  }
  uint8_t value(double x, double y) const {
    return static_cast<uint8_t>(std::lround(100 + 60 * std::sin(x / vx + phase) * std::cos(y / vy)));
  }
};
constexpr Field kFinger{50, 45, 45, 60, 0.5}, kOtherFinger{23, 71, 29, 37, 2.1};

// Cells of `cell` pixels seeing the field through p2 = R(angle) p1 + (tx, ty).
void append_cells(Map& m, const Field& f, int columns, int rows, double cell, int angle512, double tx,
                  double ty) {
  const double a = angle512 * 2 * M_PI / 512;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j) {
      const double x1 = (j + 0.5) * cell, y1 = (i + 0.5) * cell;
      const double x2 = std::cos(a) * x1 - std::sin(a) * y1 + tx;
      const double y2 = std::sin(a) * x1 + std::cos(a) * y1 + ty;
      m.push_back(static_cast<uint8_t>(f.orientation(x2, y2) - angle512));
      m.push_back(f.value(x2, y2));
    }
}

// A map with a detail layer (cells of a third of the size) taken from
// `detail_field`.
Map detailed_map(int columns, int rows, int cell, const Field& field, const Field& detail_field,
                 int angle512 = 0, double tx = 0, double ty = 0) {
  Map m = header(columns, rows, cell);
  append_cells(m, field, columns, rows, cell, angle512, tx, ty);
  append_cells(m, detail_field, 3 * columns, 3 * rows, cell / 3.0, angle512, tx, ty);
  return m;
}

Map without_detail(const Map& m) {
  return Map(m.begin(), m.begin() + 10 + 2 * m[6] * m[7]);
}

TEST(GridMapMatch, DetailLayersKeepTheCoarseBestScore) {
  // The detail refinement starts from the coarse result: a detail pose that
  // scores below it changes nothing. On whole-print maps the detail grids
  // reach row 80 and score nothing, so the coarse result is the answer.
  struct Case {
    int columns, rows;
    const Field* detail2;
    const char* what;
  } cases[] = {
      {14, 14, &kOtherFinger, "small maps whose detail layers disagree"},
      {30, 30, &kFinger, "whole-print maps, detail grids past row 80"},
      {30, 30, &kOtherFinger, "whole-print maps, detail layers disagree"},
  };
  for (const Case& c : cases) {
    const Map a = detailed_map(c.columns, c.rows, 9, kFinger, kFinger);
    const Map b = detailed_map(c.columns, c.rows, 9, kFinger, *c.detail2);
    const uint32_t flags = GRIDMAP_RAW_SCORE | GRIDMAP_NO_COARSE;
    const Result with = match(a, b, flags), plain = match(without_detail(a), without_detail(b), flags);
    ASSERT_EQ(with.status, ML_OK) << c.what;
    EXPECT_GT(plain.score, 8000) << c.what;
    EXPECT_EQ(with.score, plain.score) << c.what;
  }
}

TEST(GridMapMatch, WholePrintMapsWithDetailLayersScoreGenuineAboveImpostor) {
  // 30 x 30 cells of 9 pixels with their detail layers: the genuine map is
  // turned by 10/512 and moved by (14, -9) pixels; the impostor is another
  // field. Both used to score 0 without the detail record.
  const Map gallery = detailed_map(30, 30, 9, kFinger, kFinger);
  const Map genuine = detailed_map(30, 30, 9, kFinger, kFinger, 10, 14, -9);
  const Map impostor = detailed_map(30, 30, 9, kOtherFinger, kOtherFinger);
  for (uint32_t flags : {0u, unsigned{GRIDMAP_FULL_TURN}, unsigned{GRIDMAP_DETAIL}}) {
    uint16_t rec_g[3 + GRIDMAP_DETAIL_VALUES] = {0, GRIDMAP_DETAIL_KIND, 0};
    uint16_t rec_i[3 + GRIDMAP_DETAIL_VALUES] = {0, GRIDMAP_DETAIL_KIND, 0};
    const Result g = match(genuine, gallery, flags | GRIDMAP_RAW_SCORE, 0, {0, 0, 0}, rec_g);
    const Result i = match(impostor, gallery, flags | GRIDMAP_RAW_SCORE, 0, {0, 0, 0}, rec_i);
    ASSERT_EQ(g.status, ML_OK) << flags;
    ASSERT_EQ(i.status, ML_OK) << flags;
    EXPECT_GT(g.score, 0) << flags;
    EXPECT_GT(i.score, 0) << flags;
    EXPECT_GT(g.score, i.score * 3 / 2) << flags;
    if (!(flags & GRIDMAP_DETAIL)) {
      // The coarse result stands: the finer steps that the maps without
      // detail layers take on their own grid can only add to it.
      const int plain =
          match(without_detail(genuine), without_detail(gallery), flags | GRIDMAP_RAW_SCORE).score;
      EXPECT_LE(g.score, plain) << flags;
      EXPECT_GT(g.score, plain * 3 / 4) << flags;
      EXPECT_NEAR(g.alignment.angle, 5, 2) << flags;
    }
  }
}

TEST(GridMapMatch, DetailRefinementRunsForAnySideAndCellSize) {
  // Detail grids wider than 255 cells and a second map of 2-pixel cells
  // (detail cells of size 0) go through the detail refinement too: the
  // detail record then compares the detail grids, about nine pairs a cell.
  struct Case {
    int columns, rows, cell;
    const char* what;
  } cases[] = {
      {86, 10, 9, "detail grids 258 cells wide"},
      {20, 20, 2, "cells of 2 pixels"},
  };
  for (const Case& c : cases) {
    const Map m = detailed_map(c.columns, c.rows, c.cell, kFinger, kFinger);
    uint16_t rec[3 + GRIDMAP_DETAIL_VALUES] = {0, GRIDMAP_DETAIL_KIND, 0};
    const Result r = match(m, m, GRIDMAP_DETAIL | GRIDMAP_RAW_SCORE, 0, {0, 0, 0}, rec);
    ASSERT_EQ(r.status, ML_OK) << c.what;
    EXPECT_EQ(rec[2], 17) << c.what;
    EXPECT_GT(rec[3], 8 * c.columns * c.rows) << c.what;
    EXPECT_GT(r.score, 0) << c.what;
  }
}

TEST(GridMapMatch, DetailRecordIsMarkedOnlyWithItsValuesWritten) {
  Map one_cell = header(10, 10);
  for (int k = 0; k < 100; ++k) {
    one_cell.push_back(k == 44 ? 130 : 0);
    one_cell.push_back(k == 44 ? 100 : 0);
  }
  // A first map of 1 x 40 cells of 8 pixels at 500 dpi shrinks to 0 columns
  // over a map of 250 dpi (scale 16/32).
  Map thin = world_map(1, 40, 8, 0, 0, 0);
  Map at250 = world_map(20, 20, 8, 0, 0, 0);
  at250[4] = 0;
  at250[5] = 250;
  struct Case {
    Map map1, map2;
    int pairs;          // sub-value 1
    bool scores;        // a score above 0
    GridAlignment out;  // the alignment written
    const char* what;
  } cases[] = {
      // The search pairs the single valid cell of map 2.
      {world_map(10, 10, 8, 0, 0, 0), one_cell, 1, true, {0, 0, 0}, "second map with one valid cell"},
      // Nothing overlaps in the search; the comparison at the zero pose
      // pairs the 20 x 20 cells with the top of the second map.
      {world_map(20, 20, 8, 0, 0, 0), world_map(20, 90, 8, 0, 0, 0), 400, true, {0, 0, 0},
       "second map reaching row 80"},
      // Too small to search: the comparison pairs nothing; the alignment
      // is that of angle 0 and shift (0, 0): -(7 x 16384 + 16384) / 32768
      // and -((319 - 159) x 16384) / 32768 pixels at 250 dpi.
      {thin, at250, 0, false, {0, -8, -160}, "first map shrinking to no columns"},
  };
  for (const Case& c : cases) {
    uint16_t rec[3 + GRIDMAP_DETAIL_VALUES] = {0, GRIDMAP_DETAIL_KIND, 0};
    const Result r = match(c.map1, c.map2, GRIDMAP_DETAIL | GRIDMAP_RAW_SCORE, 0, {9, 9, 9}, rec);
    ASSERT_EQ(r.status, ML_OK) << c.what;
    EXPECT_EQ(rec[2], 17) << c.what;
    EXPECT_EQ(rec[3], c.pairs) << c.what;
    EXPECT_EQ(r.score > 0, c.scores) << c.what;
    if (c.pairs == 400) {
      EXPECT_EQ(rec[4], 441) << c.what;  // identical cells
    }
    if (c.pairs == 0) {
      for (int i = 3; i < 3 + GRIDMAP_DETAIL_VALUES; ++i) EXPECT_EQ(rec[i], 0) << c.what << " " << i;
    }
    if (c.pairs != 1) {  // the single cell's pose depends on the search
      EXPECT_EQ(r.alignment.angle, c.out.angle) << c.what;
      EXPECT_EQ(r.alignment.dx, c.out.dx) << c.what;
      EXPECT_EQ(r.alignment.dy, c.out.dy) << c.what;
    }
  }
  // The first map's shrunken grid needs a work buffer of 1 byte only.
  EXPECT_EQ(gridmap_match_work_size(thin.data(), thin.size(), at250.data(), at250.size(), 0), 1u);
}

TEST(GridMapMatch, HistogramSimilarityAndEntropy) {
  const Map m = world_map(10, 10, 8, 0, 0, 0);
  uint16_t out[2] = {1, 1};
  ASSERT_EQ(gridmap_histogram_similarity(m.data(), m.size(), m.data(), m.size(), out), ML_OK);
  EXPECT_EQ(out[0], 100);
  EXPECT_EQ(out[1], 100);
  const uint32_t uniform2[2] = {5, 5}, single[3] = {0, 9, 0};
  EXPECT_EQ(histogram_entropy(uniform2, 2), 100u);  // one bit
  EXPECT_EQ(histogram_entropy(single, 3), 0u);
}

}  // namespace
}  // namespace zyl::test
