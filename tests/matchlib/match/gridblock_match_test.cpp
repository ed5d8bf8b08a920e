// Grid-block matcher: pose from alignment, search, sub-scores, alignment back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_gridblock.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_xform.h"

namespace zyl::test {
namespace {

using Bytes = std::vector<uint8_t>;

// Orientation (doubled angle, 256 a turn) and frequency of a smooth
// synthetic finger at a pixel.
uint8_t world_orientation(double x, double y) {
  return static_cast<uint8_t>(std::lround(128 + 60 * std::sin(x / 50) + 40 * std::cos(y / 45)) & 255);
}
uint8_t world_frequency(double x, double y) {
  return static_cast<uint8_t>(std::lround(100 + 60 * std::sin(x / 45 + 0.5) * std::cos(y / 60)));
}

// A block of cells of `cell` pixels seeing the world through
// p_gallery = R(turn256) p + (tx, ty).
Bytes world_block(int rows, int columns, int cell, int turn256, double tx, double ty) {
  GridFeatureBlock* b = gridblock_create(rows, columns, 500, 0, 0);
  b->cell_size = static_cast<uint8_t>(cell);
  const double a = turn256 * 2 * M_PI / 256;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j) {
      const double x = (j + 0.5) * cell, y = (i + 0.5) * cell;
      const double xg = std::cos(a) * x - std::sin(a) * y + tx;
      const double yg = std::sin(a) * x + std::cos(a) * y + ty;
      GridCell& c = b->cells[i * columns + j];
      c.values[0] = static_cast<uint8_t>(world_orientation(xg, yg) - 2 * turn256);
      c.values[1] = world_frequency(xg, yg);
      c.values[2] = 40;
      c.values[3] = 200;
      c.values[4] = 100;
      c.values[5] = 128;
      c.valid = 1;
    }
  uint8_t* out = nullptr;
  uint16_t len = 0;
  EXPECT_EQ(gridblock_serialize(b, &out, &len, nullptr), ML_OK);
  Bytes bytes(out, out + len);
  std::free(out);
  gridblock_free(b);
  return bytes;
}

struct Outcome {
  int status;
  uint16_t scores[GRIDBLOCK_SUBSCORES];
  uint16_t count;
  int16_t dx, dy;
  uint8_t angle;
  bool aligned;
};

Outcome match(const Bytes& probe, const Bytes& gallery, int dx, int dy, int angle,
              const int16_t* prm = nullptr) {
  Outcome o{};
  o.count = GRIDBLOCK_SUBSCORES;
  RigidTransform* t = xform_create_dpi(dx, dy, angle, 500);
  o.status = gridblock_match(probe.data(), probe.size(), gallery.data(), gallery.size(), 500,
                             o.scores, &o.count, &t, prm);
  o.aligned = t != nullptr;
  if (t) {
    xform_get_dpi(t, &o.dx, &o.dy, &o.angle, 500);
    xform_release(t);
  }
  return o;
}

std::vector<int16_t> params_with(std::initializer_list<std::pair<int, int>> changes) {
  const int16_t* d = gridblock_default_search();
  std::vector<int16_t> p(d, d + GRIDBLOCK_SEARCH_PARAMS);
  for (auto [i, v] : changes) p[i] = static_cast<int16_t>(v);
  return p;
}

TEST(GridBlockMatch, IdenticalBlocksStayInPlace) {
  const Bytes b = world_block(20, 20, 8, 0, 0, 0);
  const Outcome o = match(b, b, 0, 0, 0);
  ASSERT_EQ(o.status, ML_OK);
  EXPECT_EQ(o.count, GRIDBLOCK_SUBSCORES);
  EXPECT_EQ(o.dx, 0);
  EXPECT_EQ(o.dy, 0);
  EXPECT_EQ(o.angle, 0);
  EXPECT_EQ(o.scores[1], 400);  // every valid cell, byte 2 at least 4
  EXPECT_EQ(o.scores[2], 441);  // J = 21 x 21 for every pair
  EXPECT_EQ(o.scores[4], 0);
  EXPECT_EQ(o.scores[5], 0);  // equal direction histograms
  // ((441 x 400 x 32768 / (441 x 400)) >> 1) x isqrt(isqrt(400 << 12) x 59) >> 8.
  EXPECT_EQ(o.scores[0], 16384 * 274 / 256);
}

TEST(GridBlockMatch, RecoversAShiftAndTurnFromAnOffsetStart) {
  // Probe seen through p_gallery = R(3/256 turn) p + (20, -12).
  const Bytes gallery = world_block(24, 24, 8, 0, 0, 0);
  const Bytes probe = world_block(24, 24, 8, 3, 20, -12);
  const Outcome truth = match(probe, gallery, 20, -12, 3, params_with({{3, 0}, {4, 0}}).data());
  const Outcome o = match(probe, gallery, 34, -2, 1);  // start 14, 10 pixels and 2 steps off
  ASSERT_EQ(o.status, ML_OK);
  EXPECT_NEAR(o.angle, 3, 1);
  EXPECT_NEAR(o.dx, 20, 4);
  EXPECT_NEAR(o.dy, -12, 4);
  EXPECT_GE(o.scores[0], truth.scores[0] * 9 / 10);
  // The right alignment beats a wrong one by far.
  const Outcome off = match(probe, gallery, 60, 40, 20, params_with({{3, 0}, {4, 0}}).data());
  EXPECT_GT(truth.scores[0], 2 * off.scores[0]);
}

TEST(GridBlockMatch, NoSearchScoresTheQuantisedGivenAlignment) {
  const Bytes b = world_block(16, 16, 8, 0, 0, 0);
  const auto prm = params_with({{3, 0}, {4, 0}});
  struct Case {
    int dx, dy, angle;
  } cases[] = {{0, 0, 0}, {8, -16, 0}, {5, 3, 2}, {-24, 7, 250}};
  for (const Case& c : cases) {
    const Outcome o = match(b, b, c.dx, c.dy, c.angle, prm.data());
    ASSERT_EQ(o.status, ML_OK);
    EXPECT_EQ(o.angle, c.angle);
    // Offsets are held in 1/32 cell of 8 pixels: within a pixel.
    EXPECT_NEAR(o.dx, c.dx, 1) << c.dx;
    EXPECT_NEAR(o.dy, c.dy, 1) << c.dy;
  }
}

TEST(GridBlockMatch, TooFewPairsGiveZerosAndStillAnAlignment) {
  const Bytes b = world_block(10, 10, 8, 0, 0, 0);
  const auto prm = params_with({{3, 0}, {4, 0}, {6, 1000}});
  const Outcome o = match(b, b, 0, 0, 0, prm.data());
  ASSERT_EQ(o.status, ML_OK);
  EXPECT_EQ(o.count, GRIDBLOCK_SUBSCORES);
  for (uint16_t s : o.scores) EXPECT_EQ(s, 0);
  EXPECT_TRUE(o.aligned);
}

TEST(GridBlockMatch, RefusalsLeaveNothingBehind) {
  const Bytes b = world_block(6, 6, 8, 0, 0, 0);
  uint16_t scores[GRIDBLOCK_SUBSCORES] = {7};
  uint16_t count = 26;
  EXPECT_EQ(gridblock_match(b.data(), b.size(), b.data(), b.size(), 500, scores, &count, nullptr,
                            nullptr),
            ML_WRONG_KIND);
  EXPECT_EQ(scores[0], 7);
  EXPECT_EQ(gridblock_match(b.data(), b.size(), b.data(), b.size(), 500, nullptr, &count, nullptr,
                            nullptr),
            ML_WRONG_KIND);
  // A gallery with cell size 0 cannot be posed.
  GridFeatureBlock* z = gridblock_create(6, 6, 500, 0, 0);
  z->cell_size = 0;
  uint8_t* zb = nullptr;
  uint16_t zl = 0;
  ASSERT_EQ(gridblock_serialize(z, &zb, &zl, nullptr), ML_OK);
  count = GRIDBLOCK_SUBSCORES;
  RigidTransform* t = xform_create_dpi(0, 0, 0, 500);
  EXPECT_EQ(gridblock_match(b.data(), b.size(), zb, zl, 500, scores, &count, &t, nullptr), ML_CORRUPT);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(count, 0);
  std::free(zb);
  gridblock_free(z);
  Bytes bad = b;
  bad[0] ^= 0xFF;
  count = GRIDBLOCK_SUBSCORES;
  EXPECT_EQ(gridblock_match(bad.data(), bad.size(), b.data(), b.size(), 500, scores, &count,
                            nullptr, nullptr),
            ML_CORRUPT);
}

TEST(GridBlockMatch, SumsMatchADoublePrecisionReferenceOnALargeBlock) {
  // 120 x 120 cells: the sums times 32768 need more than 32 bits.
  const int n = 120;
  std::mt19937 rng(7);
  GridFeatureBlock* g = gridblock_create(n, n, 500, 0, 0);
  GridFeatureBlock* p = gridblock_create(n, n, 500, 0, 0);
  g->cell_size = p->cell_size = 4;
  for (int k = 0; k < n * n; ++k) {
    GridCell& a = g->cells[k];
    GridCell& b = p->cells[k];
    a.values[0] = static_cast<uint8_t>(rng());
    a.values[1] = static_cast<uint8_t>(60 + rng() % 100);
    b.values[0] = static_cast<uint8_t>(a.values[0] + static_cast<int>(rng() % 31) - 15);
    b.values[1] = static_cast<uint8_t>(a.values[1] + static_cast<int>(rng() % 21) - 10);
    a.values[2] = b.values[2] = 40;
    a.valid = b.valid = 1;
  }
  uint8_t *gb = nullptr, *pb = nullptr;
  uint16_t gl = 0, pl = 0;
  ASSERT_EQ(gridblock_serialize(g, &gb, &gl, nullptr), ML_OK);
  ASSERT_EQ(gridblock_serialize(p, &pb, &pl, nullptr), ML_OK);
  double sJ = 0, sA = 0, sB = 0, pairs = 0;
  for (int k = 0; k < n * n; ++k) {
    const int D = std::abs(static_cast<int8_t>(static_cast<uint8_t>(p->cells[k].values[0] - g->cells[k].values[0])));
    const int V = std::abs(p->cells[k].values[1] - g->cells[k].values[1]);
    const double a = std::max(0, 21 - D), b = std::max(0, 21 - V);
    sJ += a * b;
    sA += a;
    sB += b;
    ++pairs;
  }
  const auto prm = params_with({{3, 0}, {4, 0}});
  uint16_t scores[GRIDBLOCK_SUBSCORES];
  uint16_t count = GRIDBLOCK_SUBSCORES;
  ASSERT_EQ(gridblock_match(pb, pl, gb, gl, 500, scores, &count, nullptr, prm.data()), ML_OK);
  const double T = std::max(pairs, (n * n * 10.0 + 50) / 100);
  EXPECT_EQ(scores[1], pairs);
  EXPECT_EQ(scores[2], std::floor(sJ / T));
  EXPECT_EQ(scores[17], std::floor(sA * 256 / T));
  EXPECT_EQ(scores[18], std::floor(sB * 256 / T));
  const double s0 = std::floor(std::floor(sJ * 32768 / (441 * T)) / 2) *
                    std::floor(std::sqrt(std::floor(std::sqrt(pairs * 4096)) * 59)) / 256;
  EXPECT_EQ(scores[0], std::min(32767.0, std::floor(s0)));
  std::free(gb);
  std::free(pb);
  gridblock_free(g);
  gridblock_free(p);
}

TEST(GridBlockMatch, PairDistributionModeFillsItsEntries) {
  const Bytes gallery = world_block(16, 16, 8, 0, 0, 0);
  const Bytes probe = world_block(16, 16, 8, 0, 3, 2);
  const auto prm = params_with({{3, 0}, {4, 0}, {11, 1}});
  const Outcome o = match(probe, gallery, 0, 0, 0, prm.data());
  ASSERT_EQ(o.status, ML_OK);
  EXPECT_GT(o.scores[0], 0);
  EXPECT_GT(o.scores[1], 0);
  for (int i : {7, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22}) EXPECT_EQ(o.scores[i], 0) << i;
}

}  // namespace
}  // namespace zyl::test
