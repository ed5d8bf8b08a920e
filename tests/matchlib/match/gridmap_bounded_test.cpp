// Bounded grid-map comparison of the card path: header check, histogram
// similarity, entropy and the cell-by-cell comparison under an alignment.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "zylscan/matchlib_grid_match.h"
#include "zylscan/matchlib_object.h"

namespace zyl::test {
namespace {

using Map = std::vector<uint8_t>;

Map header(int columns, int rows, int cell = 8, int resolution = 500) {
  return Map{0x5B, 0xDA, 0x02, static_cast<uint8_t>(cell), static_cast<uint8_t>(resolution >> 8),
             static_cast<uint8_t>(resolution), static_cast<uint8_t>(columns),
             static_cast<uint8_t>(rows), 0, 0};
}

uint8_t world_orientation(double x, double y) {
  return static_cast<uint8_t>(std::lround(128 + 60 * std::sin(x / 50) + 40 * std::cos(y / 45)) & 255);
}
uint8_t world_value(double x, double y) {
  return static_cast<uint8_t>(std::lround(110 + 60 * std::sin(x / 45 + 0.5) * std::cos(y / 60)));
}

// The world seen through p_world = R(direction) p + (tx, ty); direction in
// 256 steps a turn, orientations (256 a half turn) relative to the map.
Map world_map(int columns, int rows, int cell, int direction, double tx, double ty) {
  Map m = header(columns, rows, cell);
  const double a = direction * 2 * M_PI / 256;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns; ++j) {
      const double x1 = (j + 0.5) * cell, y1 = (i + 0.5) * cell;
      const double x2 = std::cos(a) * x1 - std::sin(a) * y1 + tx;
      const double y2 = std::sin(a) * x1 + std::cos(a) * y1 + ty;
      m.push_back(static_cast<uint8_t>(world_orientation(x2, y2) - 2 * direction));
      m.push_back(world_value(x2, y2));
    }
  return m;
}

struct Bounded {
  int status;
  uint16_t e[19];  // entries 9..27
  GridAlignment al;
};

Bounded run(const Map& ref, const Map& probe, GridAlignment al, uint32_t work_size = 4096,
            int mode = 25) {
  Bounded r{};
  r.e[1] = 18;
  r.al = al;
  std::vector<uint8_t> work(work_size);
  r.status = gridmap_match_bounded(work.data(), work_size, ref.data(),
                                   static_cast<uint32_t>(ref.size()), probe.data(),
                                   static_cast<uint32_t>(probe.size()), 0, r.e, nullptr, &r.al,
                                   mode);
  return r;
}

TEST(GridmapValidate, AcceptsOnlyTheCardLengths) {
  const Map base = world_map(3, 2, 8, 0, 0, 0);  // 6 cells, length 22
  struct Case {
    size_t extra;
    int status;
  } cases[] = {{0, ML_OK}, {1, ML_OK}, {2, ML_WRONG_KIND}, {4, ML_WRONG_KIND},
               {108, ML_OK}, {109, ML_OK}, {112, ML_WRONG_KIND}};
  for (const Case& c : cases) {
    Map m = base;
    m.resize(m.size() + c.extra, 7);
    uint8_t columns = 0, rows = 0;
    EXPECT_EQ(gridmap_validate(m.data(), static_cast<uint32_t>(m.size()), &columns, &rows,
                               nullptr, nullptr, nullptr),
              c.status)
        << c.extra;
  }
  Map sealed = base;  // check byte in use
  sealed.push_back(0);
  sealed[9] = 1;
  uint8_t x = 0;
  for (size_t i = 0; i + 1 < sealed.size(); ++i) x ^= sealed[i];
  sealed.back() = x;
  EXPECT_EQ(gridmap_validate(sealed.data(), static_cast<uint32_t>(sealed.size()), nullptr, nullptr,
                             nullptr, nullptr, nullptr),
            ML_OK);
  sealed.back() ^= 1;
  EXPECT_EQ(gridmap_validate(sealed.data(), static_cast<uint32_t>(sealed.size()), nullptr, nullptr,
                             nullptr, nullptr, nullptr),
            ML_WRONG_KIND);
  Map zero_cell = base;
  zero_cell[3] = 0;
  EXPECT_EQ(gridmap_validate(zero_cell.data(), 22, nullptr, nullptr, nullptr, nullptr, nullptr),
            ML_WRONG_KIND);
  EXPECT_EQ(gridmap_validate(base.data(), 9, nullptr, nullptr, nullptr, nullptr, nullptr),
            ML_WRONG_KIND);
}

TEST(GridmapBoundedWorkSize, ResampledCellsPlusHistograms) {
  const Map a = world_map(10, 12, 16, 0, 0, 0), b = world_map(20, 20, 8, 0, 0, 0);
  // a's cells are two of b's: 20 x 24 resampled cells.
  EXPECT_EQ(gridmap_bounded_work_size(a.data(), static_cast<uint32_t>(a.size()), b.data(),
                                      static_cast<uint32_t>(b.size())),
            2u * 20 * 24 + 136);
  const Map tiny = world_map(1, 1, 1, 0, 0, 0);  // one 1-pixel cell: 1/8 of b's cell
  EXPECT_EQ(gridmap_bounded_work_size(tiny.data(), static_cast<uint32_t>(tiny.size()), b.data(),
                                      static_cast<uint32_t>(b.size())),
            1u);
  EXPECT_EQ(gridmap_bounded_work_size(a.data(), 5, b.data(), static_cast<uint32_t>(b.size())), 0u);
}

TEST(GridmapCellEntropy, KnownHistograms) {
  uint8_t h[22] = {};
  EXPECT_EQ(gridmap_cell_entropy(h), 0u);
  h[3] = 9;
  EXPECT_EQ(gridmap_cell_entropy(h), 0u);
  h[7] = 9;  // two equal bins: one bit
  EXPECT_EQ(gridmap_cell_entropy(h), 100u);
  for (int i = 0; i < 4; ++i) h[i] = 5;
  h[7] = 0;  // four equal bins: two bits
  EXPECT_EQ(gridmap_cell_entropy(h), 200u);
}

TEST(GridmapHistogramSimilarityCard, IdenticalMapsMatchEveryNonEmptyCell) {
  Map m = world_map(6, 5, 8, 0, 0, 0);
  m[10 + 2 * 4 + 1] = 0;  // two empty cells
  m[10 + 2 * 11 + 1] = 0;
  uint16_t out[2] = {0, 0};
  ASSERT_EQ(gridmap_histogram_similarity_card(m.data(), static_cast<uint32_t>(m.size()), m.data(),
                                              static_cast<uint32_t>(m.size()), out),
            ML_OK);
  EXPECT_EQ(out[0], 28);
  EXPECT_EQ(out[1], 28);

  // Value bytes 1..46 lie below the first value bin and count in it.
  Map low = header(2, 1);
  low.insert(low.end(), {10, 5, 10, 46});
  Map first = header(1, 1);
  first.insert(first.end(), {10, 60});
  ASSERT_EQ(gridmap_histogram_similarity_card(low.data(), static_cast<uint32_t>(low.size()),
                                              first.data(), static_cast<uint32_t>(first.size()),
                                              out),
            ML_OK);
  EXPECT_EQ(out[1], 1);

  out[0] = out[1] = 77;
  EXPECT_EQ(gridmap_histogram_similarity_card(m.data(), 12, m.data(),
                                              static_cast<uint32_t>(m.size()), out),
            ML_CORRUPT);
  EXPECT_EQ(out[0], 0);
  const Map empty = header(0, 4);
  out[1] = 77;
  EXPECT_EQ(gridmap_histogram_similarity_card(empty.data(), static_cast<uint32_t>(empty.size()),
                                              m.data(), static_cast<uint32_t>(m.size()), out),
            ML_OK);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 77);
}

TEST(GridmapMatchBounded, IdenticalMapsAgreeInEveryCell) {
  const Map m = world_map(12, 14, 8, 0, 0, 0);
  const Bounded r = run(m, m, GridAlignment{0, 0, 0});
  ASSERT_EQ(r.status, ML_OK);
  EXPECT_EQ(r.e[2], 17);          // sub-values written
  EXPECT_EQ(r.e[3], 12 * 14);     // overlap cells
  EXPECT_EQ(r.e[4], 441);         // mean joint agreement
  EXPECT_EQ(r.e[5], 42);          // mean summed agreement
  EXPECT_EQ(r.e[6] + r.e[7] + r.e[8], 0);
  EXPECT_EQ(r.e[9], 0);           // same orientation entropies
  EXPECT_EQ(r.e[13], 0);          // all agreement in one bin
  EXPECT_EQ(r.e[16], 21);
  EXPECT_EQ(r.e[17], 21);
  EXPECT_EQ(r.e[18], 27);
  EXPECT_GT(r.e[0], 0);
  EXPECT_EQ(r.al.angle, 0);
  EXPECT_EQ(r.al.dx, 0);
  EXPECT_EQ(r.al.dy, 0);
}

TEST(GridmapMatchBounded, FullAgreementOfTheLargestProbeScoresExactly) {
  // 256 cells in full agreement: the joint sum times 32768 passes 32 bits;
  // M = 32768, G = 39, score = M x isqrt(39 x isqrt(256 << 12)) >> 8.
  const Map m = world_map(16, 16, 8, 0, 0, 0);
  const Bounded r = run(m, m, GridAlignment{0, 0, 0});
  ASSERT_EQ(r.status, ML_OK);
  EXPECT_EQ(r.e[3], 256);
  EXPECT_EQ(r.e[0], 32768 * 199 >> 8);
}

TEST(GridmapMatchBounded, GivenAlignmentOverlaysShiftedAndTurnedMaps) {
  const Map probe = world_map(16, 16, 8, 0, 0, 0);
  // Shifted by three cells: the overlap is the shared 13 x 16 cells.
  const Map shifted = world_map(16, 16, 8, 0, 24, 0);
  const Bounded s = run(shifted, probe, GridAlignment{0, 24, 0});
  ASSERT_EQ(s.status, ML_OK);
  EXPECT_EQ(s.e[3], 13 * 16);
  EXPECT_EQ(s.e[4], 441);
  EXPECT_EQ(s.al.dx, 24);
  const Bounded wrong = run(shifted, probe, GridAlignment{0, 0, 0});
  EXPECT_LT(wrong.e[0], s.e[0]);

  // Turned by a sixteenth of a turn about a point inside the probe.
  const Map turned = world_map(10, 10, 8, 16, 40, 20);
  const Bounded t = run(turned, probe, GridAlignment{16, 40, 20});
  ASSERT_EQ(t.status, ML_OK);
  ASSERT_EQ(t.e[2], 17);
  EXPECT_GT(t.e[4], 300) << "mean joint agreement";
  EXPECT_GT(t.e[0], run(turned, probe, GridAlignment{0, 40, 20}).e[0]);
  EXPECT_EQ(t.al.angle, 16);
  EXPECT_NEAR(t.al.dx, 40, 8);
  EXPECT_NEAR(t.al.dy, 20, 8);
}

TEST(GridmapMatchBounded, RefusalsAndEmptyMaps) {
  const Map m = world_map(8, 8, 8, 0, 0, 0);
  Map empty_ref = m;
  for (int k = 0; k < 64; ++k) empty_ref[10 + 2 * k + 1] = 0;
  const Bounded e = run(empty_ref, m, GridAlignment{3, 5, 6});
  EXPECT_EQ(e.status, ML_OK);
  EXPECT_EQ(e.e[0], 0);
  EXPECT_EQ(e.e[2], 1);  // started, no sub-values
  EXPECT_EQ(e.al.dx, 5);  // alignment untouched

  const Map big_probe = world_map(17, 16, 8, 0, 0, 0);  // 272 cells
  EXPECT_EQ(run(m, big_probe, GridAlignment{}).status, ML_BAD_ARGUMENT);
  EXPECT_EQ(run(m, m, GridAlignment{}, 2 * 64 + 135).status, ML_BAD_ARGUMENT);
  EXPECT_EQ(run(m, m, GridAlignment{}, 2 * 64 + 136).status, ML_OK);
  EXPECT_EQ(run(m, m, GridAlignment{}, 4096, 24).status, ML_BAD_ARGUMENT);
  EXPECT_EQ(run(m, m, GridAlignment{}, 4096, 29).status, ML_OK);
  Map bad = m;
  bad[1] = 0;
  EXPECT_EQ(run(bad, m, GridAlignment{}).status, ML_WRONG_KIND);

  // Maps that cannot overlap enough: score 0, alignment reset.
  const Map far = world_map(8, 8, 8, 0, 0, 0);
  const Map corner = world_map(2, 1, 8, 0, 0, 0);
  const Bounded f = run(far, corner, GridAlignment{9, 7, 7});
  EXPECT_EQ(f.status, ML_OK);
  EXPECT_EQ(f.e[0], 0);
  EXPECT_EQ(f.al.angle, 0);
  EXPECT_EQ(f.al.dx, 0);
}

}  // namespace
}  // namespace zyl::test
