// Grid-block matcher: pose from alignment, search, sub-scores, alignment back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <tuple>
#include <vector>

#include "zylscan/matchlib_array.h"
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

// Blocks of n x n valid cells whose probe differs from the gallery cell by
// cell by a known direction and value-byte-1 step, bytes 2 to 5 varied.
struct PairedBlocks {
  Bytes gallery, probe;
  std::vector<GridCell> g, p;
};

PairedBlocks paired_blocks(int n, unsigned seed) {
  std::mt19937 rng(seed);
  GridFeatureBlock* g = gridblock_create(n, n, 500, 0, 0);
  GridFeatureBlock* p = gridblock_create(n, n, 500, 0, 0);
  g->cell_size = p->cell_size = 8;
  for (int k = 0; k < n * n; ++k) {
    GridCell& a = g->cells[k];
    GridCell& b = p->cells[k];
    a.values[0] = static_cast<uint8_t>(rng());
    a.values[1] = static_cast<uint8_t>(80 + rng() % 90);
    // Steps of up to 34 and 48: K and L fall on both sides of 40; the
    // probe's values lie 14 above the gallery's on average.
    b.values[0] = static_cast<uint8_t>(a.values[0] + static_cast<int>(rng() % 69) - 34);
    b.values[1] = static_cast<uint8_t>(a.values[1] + static_cast<int>(rng() % 69) - 20);
    for (int v = 2; v < GRIDBLOCK_VALUES; ++v) {
      a.values[v] = static_cast<uint8_t>(8 + rng() % 240);
      b.values[v] = static_cast<uint8_t>(8 + rng() % 240);
    }
    a.valid = b.valid = 1;
  }
  // The values as the block format stores them (planes of fewer bits).
  PairedBlocks out;
  for (auto [blk, bytes, cells] : {std::tuple{g, &out.gallery, &out.g}, std::tuple{p, &out.probe, &out.p}}) {
    uint8_t* raw = nullptr;
    uint16_t len = 0;
    EXPECT_EQ(gridblock_serialize(blk, &raw, &len, nullptr), ML_OK);
    bytes->assign(raw, raw + len);
    std::free(raw);
    GridFeatureBlock* back = nullptr;
    EXPECT_EQ(gridblock_parse(bytes->data(), bytes->size(), &back), ML_OK);
    cells->assign(back->cells, back->cells + n * n);
    gridblock_free(back);
    gridblock_free(blk);
  }
  return out;
}

uint32_t floor_sqrt(uint64_t v) { return static_cast<uint32_t>(std::floor(std::sqrt(static_cast<double>(v)))); }

TEST(GridBlockMatch, PairDistributionModeFillsItsEntries) {
  // Identity alignment, no search: gallery cell (r, k) pairs with probe cell
  // (r, k). The expected entries follow the pair-distribution rules from the
  // pairs themselves; the stored-value statistics come from the library's
  // byte statistics over the stored entries (min(T, 1024) of them, zero past
  // the pairs).
  const int n = 16;
  const PairedBlocks b = paired_blocks(n, 11);
  struct Case {
    int least_norm;  // index 12
    const char* what;
  } cases[] = {{20, "T = pairs"}, {400, "T above the pairs: zero entries"}, {2000, "T above 1024"}};
  for (const Case& c : cases) {
    const auto prm = params_with({{3, 0}, {4, 0}, {11, 1}, {12, c.least_norm}});
    const Outcome o = match(b.probe, b.gallery, 0, 0, 0, prm.data());
    ASSERT_EQ(o.status, ML_OK) << c.what;
    uint64_t pairs = 0, sJ = 0, sK = 0, sL = 0, positive = 0, weighted[4] = {};
    std::vector<uint8_t> sg(1024, 0), sp(1024, 0), sLs(1024, 0), sKs(1024, 0), sSigned(1024, 0);
    const int bytes_of[4] = {5, 2, 4, 3};
    for (int k = 0; k < n * n; ++k) {
      const GridCell& g = b.g[k];
      const GridCell& p = b.p[k];
      if (!g.values[1] || !p.values[1] || std::min(g.values[2], p.values[2]) < 4) continue;
      const int D = std::abs(static_cast<int8_t>(static_cast<uint8_t>(p.values[0] - g.values[0])));
      const int V = std::abs(p.values[1] - g.values[1]);
      const int J = std::max(0, 21 - D) * std::max(0, 21 - V);
      const int K = static_cast<int>(floor_sqrt(uint64_t(V) * 64));
      const int L = static_cast<int>(floor_sqrt(uint64_t(D) * 64));
      sJ += J;
      sK += K;
      sL += L;
      positive += J > 0;
      if (pairs < 1024) {
        sg[pairs] = g.values[1];
        sp[pairs] = p.values[1];
        sLs[pairs] = static_cast<uint8_t>(L);
        sKs[pairs] = static_cast<uint8_t>(K);
        sSigned[pairs] = static_cast<uint8_t>((p.values[1] < g.values[1] ? K : -K) - 128);
      }
      if (K <= 40 && L <= 40) {
        const int64_t w = static_cast<int64_t>(K - 40) * (L - 40) / 2;
        for (int i = 0; i < 4; ++i)
          weighted[i] += static_cast<uint64_t>((w * p.values[bytes_of[i]] * g.values[bytes_of[i]]) >> 8);
      }
      ++pairs;
    }
    ASSERT_GT(pairs, 100u);
    const uint64_t T = std::max<uint64_t>({pairs, uint64_t(c.least_norm), (uint64_t(n * n) * 10 + 50) / 100});
    const uint64_t root = floor_sqrt(T * 256), root10 = floor_sqrt(T << 10);
    const int m = static_cast<int>(std::min<uint64_t>(T, 1024));
    uint16_t want[GRIDBLOCK_SUBSCORES] = {};
    want[0] = static_cast<uint16_t>(std::min<uint64_t>(sJ * 16 / root, 65535));
    want[1] = static_cast<uint16_t>(std::min<uint64_t>(positive * 4096 / root, 65535));
    want[2] = static_cast<uint16_t>(sK * 16 / root);
    want[3] = static_cast<uint16_t>(sL * 16 / root);
    want[4] = static_cast<uint16_t>(array_variance_u8(sLs.data(), m));
    want[5] = static_cast<uint16_t>(array_variance_u8(sKs.data(), m));
    want[6] = static_cast<uint16_t>(std::abs(array_skewness_u8(sSigned.data(), m)));
    want[8] = static_cast<uint16_t>(floor_sqrt(static_cast<uint64_t>(std::max(array_kurtosis_u8(sSigned.data(), m) + 768, 0)) << 4));
    const int64_t F1 = array_mean_u8(sg.data(), m), F2 = array_mean_u8(sp.data(), m);
    want[10] = static_cast<uint16_t>((std::abs(F1 - F2) << 8) / std::max<int64_t>({F1, F2, 1}));
    for (int i = 0; i < 4; ++i) want[23 + i] = static_cast<uint16_t>(std::min<uint64_t>(weighted[i] / root10, 65535));
    for (int i = 0; i < GRIDBLOCK_SUBSCORES; ++i) EXPECT_EQ(o.scores[i], want[i]) << c.what << ": entry " << i;
    // The statistics are not trivially zero on these blocks.
    EXPECT_GT(want[4], 0) << c.what;
    EXPECT_GT(want[6] + want[8], 0) << c.what;
    EXPECT_GT(want[10], 0) << c.what;
    EXPECT_GT(want[23], 0) << c.what;
  }
}

TEST(GridBlockMatch, SearchRecordsOutsideTheirBoundsAreRefused) {
  // An angle range or probe-plane scale from a caller must not make the
  // search sweep or cache planes without limit (plane scale 32767 would ask
  // about 2 GB a plane).
  const Bytes b = world_block(12, 12, 8, 0, 0, 0);
  struct Case {
    int index, value, status;
  } cases[] = {
      {3, 257, ML_BAD_ARGUMENT},  {3, -1, ML_BAD_ARGUMENT},    {3, 32767, ML_BAD_ARGUMENT},
      {5, 513, ML_BAD_ARGUMENT},  {5, 32767, ML_BAD_ARGUMENT}, {5, -1, ML_BAD_ARGUMENT},
      {3, 256, ML_OK},            {5, 512, ML_OK},             {5, 0, ML_OK},
  };
  for (const Case& c : cases) {
    const auto prm = params_with({{c.index, c.value}});
    uint16_t scores[GRIDBLOCK_SUBSCORES];
    uint16_t count = GRIDBLOCK_SUBSCORES;
    RigidTransform* t = xform_create_dpi(8, 0, 0, 500);
    RigidTransform* given = t;
    EXPECT_EQ(gridblock_match(b.data(), b.size(), b.data(), b.size(), 500, scores, &count, &t,
                              prm.data()),
              c.status)
        << c.index << " = " << c.value;
    if (c.status == ML_OK) {
      EXPECT_EQ(count, GRIDBLOCK_SUBSCORES);
      EXPECT_GT(scores[1], 0) << c.index << " = " << c.value;
    } else {
      EXPECT_EQ(t, given);  // the caller's alignment is kept
      EXPECT_EQ(count, 0);
    }
    xform_release(t);
  }
}

TEST(GridBlockMatch, BlocksWithoutRowsOrColumnsScoreZeroWithANewAlignment) {
  const Bytes full = world_block(10, 10, 8, 0, 0, 0);
  auto empty_block = [](int rows, int columns) {
    GridFeatureBlock* z = gridblock_create(rows, columns, 500, 0, 0);
    z->cell_size = 8;
    uint8_t* raw = nullptr;
    uint16_t len = 0;
    EXPECT_EQ(gridblock_serialize(z, &raw, &len, nullptr), ML_OK);
    Bytes out(raw, raw + len);
    std::free(raw);
    gridblock_free(z);
    return out;
  };
  const Bytes no_rows = empty_block(0, 10), no_columns = empty_block(10, 0);
  struct Case {
    const Bytes *probe, *gallery;
    bool pair_mode;
    const char* what;
  } cases[] = {
      {&no_rows, &full, false, "probe without rows"},
      {&no_columns, &full, false, "probe without columns"},
      {&full, &no_rows, false, "gallery without rows"},
      {&full, &no_columns, true, "gallery without columns, pair mode"},
      {&no_rows, &no_columns, false, "both empty"},
  };
  for (const Case& c : cases) {
    const auto prm = params_with({{11, c.pair_mode ? 1 : 0}});
    const Outcome o = match(*c.probe, *c.gallery, 16, -8, 0, prm.data());
    ASSERT_EQ(o.status, ML_OK) << c.what;
    EXPECT_EQ(o.count, GRIDBLOCK_SUBSCORES) << c.what;
    for (uint16_t s : o.scores) EXPECT_EQ(s, 0) << c.what;
    ASSERT_TRUE(o.aligned) << c.what;
    EXPECT_EQ(o.angle, 0) << c.what;
  }
}

}  // namespace
}  // namespace zyl::test
