// Grid feature front ends on analytic gratings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "matchlib/extract/grating.h"
#include "zylscan/matchlib_grid_extract.h"
#include "zylscan/matchlib_gridblock.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_orientation.h"

namespace zyl::test {
namespace {

GridExtractParams defaults(int cell) {
  GridExtractParams p;
  gridext_params_read(&p, nullptr);
  p.cell_size = static_cast<int16_t>(cell);
  return p;
}

using FrontEnd = int (*)(const uint8_t*, const uint8_t*, int, int, int, uint8_t**, uint16_t*,
                         const GridExtractParams*);

struct Block {
  GridFeatureBlock* b = nullptr;
  ~Block() { gridblock_free(b); }
  const GridCell& cell(int r, int c) const { return b->cells[r * b->columns + c]; }
};

int run(FrontEnd fe, const std::vector<uint8_t>& px, const std::vector<uint8_t>& usable, int h,
        int w, int res, const GridExtractParams& p, Block& out) {
  uint8_t* bytes = nullptr;
  uint16_t len = 0;
  const int st = fe(px.data(), usable.data(), h, w, res, &bytes, &len, &p);
  if (st != ML_OK) return st;
  const int ps = gridblock_parse(bytes, len, &out.b);
  std::free(bytes);
  return ps;
}

int signed_diff(int a, int b) { return static_cast<int8_t>(static_cast<uint8_t>(a - b)); }

// The interior cells of a block (away from the image rim).
template <class F>
void interior(const Block& blk, int margin, F f) {
  for (int r = margin; r < blk.b->rows - margin; ++r)
    for (int c = margin; c < blk.b->columns - margin; ++c) f(r, c, blk.cell(r, c));
}

TEST(GridFrontEnd, GratingGivesItsPeriodAndAnOrientationMatchingTheOrientationField) {
  const int h = 128, w = 128;
  // Ridges of period 8 at 500 dpi: frequency byte 262144 / 2048 = 128.
  for (double deg : {0.0, 30.0, 75.0, 120.0}) {
    const double angle = deg * M_PI / 180;
    const auto px = grating(h, w, 8.0, angle, 60);
    const std::vector<uint8_t> usable(px.size(), 255);
    Block blk;
    ASSERT_EQ(run(gridblock_extract32, px, usable, h, w, 500, defaults(8), blk), ML_OK);
    // The orientation field of the same image, on the same cells.
    const int rows = blk.b->rows, cols = blk.b->columns;
    std::vector<uint8_t> field(rows * cols), coh(rows * cols);
    ASSERT_EQ(orient_block_field(px.data(), h, w, nullptr, field.data(), coh.data(), rows, cols, 8,
                                 nullptr, 0),
              ML_OK);
    int valid = 0;
    interior(blk, 2, [&](int r, int c, const GridCell& cell) {
      ASSERT_EQ(cell.valid, 1) << deg;
      ++valid;
      EXPECT_NEAR(cell.values[1], 128, 2) << deg;
      // Doubled wave-vector angle (a turn = 256) against the field's
      // A/2 + 64, A being the doubled ridge-vector angle: ridges run across
      // the wave vector, so the two agree up to the fixed quarter turn.
      const int from_field = 2 * (field[r * cols + c] - 64);
      EXPECT_LE(std::abs(signed_diff(cell.values[0], from_field + 128)), 6)
          << deg << " " << int(cell.values[0]) << " " << from_field;
      EXPECT_GT(cell.values[3], 200);  // coherence of a clean grating
    });
    EXPECT_GT(valid, 0);
    // The expected doubled angle itself.
    const int expect = static_cast<int>(std::lround(2 * deg * 256 / 360)) & 255;
    EXPECT_LE(std::abs(signed_diff(blk.cell(rows / 2, cols / 2).values[0], expect)), 3) << deg;
  }
}

TEST(GridFrontEnd, ThreeFormsAgreeWithinOneStep) {
  // The same physical grating: period 8 at 500 dpi, 4 at 250 dpi.
  const double angle = 40 * M_PI / 180;
  const auto p500 = grating(128, 128, 8.0, angle, 60);
  const auto p250 = grating(64, 64, 4.0, angle, 60);
  const std::vector<uint8_t> u500(p500.size(), 255), u250(p250.size(), 255);
  Block a, b, c;
  ASSERT_EQ(run(gridblock_extract32, p500, u500, 128, 128, 500, defaults(8), a), ML_OK);
  ASSERT_EQ(run(gridblock_extract, p250, u250, 64, 64, 250, defaults(8), b), ML_OK);
  ASSERT_EQ(run(gridblock_extract_i16, p250, u250, 64, 64, 250, defaults(4), c), ML_OK);
  EXPECT_EQ(a.b->resolution, 0);
  EXPECT_EQ(b.b->resolution, 0);
  EXPECT_EQ(c.b->resolution, 250);
  ASSERT_EQ(a.b->rows, b.b->rows);
  ASSERT_EQ(a.b->rows, c.b->rows);
  const int r = a.b->rows / 2, k = a.b->columns / 2;
  for (const Block* x : {&b, &c}) {
    ASSERT_EQ(x->cell(r, k).valid, 1);
    EXPECT_LE(std::abs(x->cell(r, k).values[1] - a.cell(r, k).values[1]), 1);
    EXPECT_LE(std::abs(signed_diff(x->cell(r, k).values[0], a.cell(r, k).values[0])), 1);
  }
}

TEST(GridFrontEnd, CellsWithoutUsablePixelsContrastOrPeaksInRangeAreEmpty) {
  const int h = 96, w = 96;
  const auto px = grating(h, w, 8.0, 0.3, 60);
  std::vector<uint8_t> usable(px.size(), 255);
  // Left half unusable: cells whose 32 x 32 window is mostly there are empty.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w / 2; ++x) usable[y * w + x] = 0x7F;  // top bit clear
  Block blk;
  ASSERT_EQ(run(gridblock_extract32, px, usable, h, w, 500, defaults(8), blk), ML_OK);
  EXPECT_EQ(blk.cell(5, 1).valid, 0);
  EXPECT_EQ(blk.cell(5, 10).valid, 1);

  struct Case {
    const char* what;
    std::vector<uint8_t> pixels;
  } cases[] = {
      {"flat (variance under 16)", std::vector<uint8_t>(h * w, 90)},
      {"faint (variance 3 x 3 / 2)", grating(h, w, 8.0, 0.3, 3)},
      {"period 20 pixels", grating(h, w, 20.0, 0.3, 60)},
      {"period 3.5 pixels", grating(h, w, 3.5, 0.3, 60)},
  };
  const std::vector<uint8_t> all(h * w, 255);
  for (const Case& c : cases) {
    Block e;
    ASSERT_EQ(run(gridblock_extract32, c.pixels, all, h, w, 500, defaults(8), e), ML_OK) << c.what;
    interior(e, 2, [&](int, int, const GridCell& cell) {
      EXPECT_EQ(cell.valid, 0) << c.what;
      EXPECT_EQ(cell.values[1], 0) << c.what;
    });
  }
}

TEST(GridFrontEnd, ContrastByteClampsTheVarianceBetween500And7000) {
  const int h = 96, w = 96;
  const std::vector<uint8_t> all(h * w, 255);
  struct Case {
    double amplitude;  // variance about amplitude^2 / 2
    int lo, hi;
  } cases[] = {{30, 0, 0}, {127, 255, 255}, {80, 90, 140}};
  for (const Case& c : cases) {
    Block blk;
    ASSERT_EQ(run(gridblock_extract32, grating(h, w, 8.0, 1.0, c.amplitude), all, h, w, 500,
                  defaults(8), blk),
              ML_OK);
    const GridCell& cell = blk.cell(5, 5);
    ASSERT_EQ(cell.valid, 1) << c.amplitude;
    EXPECT_GE(cell.values[5], c.lo) << c.amplitude;
    EXPECT_LE(cell.values[5], c.hi) << c.amplitude;
  }
}

TEST(GridFrontEnd, DefaultAgreementThresholdTakesTheFirstPeak) {
  // A strong and a weaker grating: every cell carries the strong one.
  const int h = 96, w = 96;
  const auto px = grating(h, w, 8.0, 0.0, 60, 11.0, M_PI / 2, 25);
  const std::vector<uint8_t> all(h * w, 255);
  Block blk;
  ASSERT_EQ(run(gridblock_extract32, px, all, h, w, 500, defaults(8), blk), ML_OK);
  interior(blk, 2, [&](int, int, const GridCell& cell) {
    ASSERT_EQ(cell.valid, 1);
    EXPECT_LE(std::abs(signed_diff(cell.values[0], 0)), 3);
    EXPECT_NEAR(cell.values[1], 128, 2);
  });
}

TEST(GridFrontEnd, PeakAgreementIsTheMeanDifferenceToValidNeighbours) {
  GridCellWork w[9] = {};
  auto set = [&](int i, int o0, int o1, int n) {
    w[i].valid = 1;
    w[i].accepted = n;
    w[i].peaks[0].orientation = static_cast<uint8_t>(o0);
    w[i].peaks[1].orientation = static_cast<uint8_t>(o1);
  };
  set(4, 10, 200, 2);  // centre of a 3 x 3 grid
  set(1, 20, 0, 1);    // above: |10 - 20| = 10
  set(3, 250, 0, 1);   // left: |10 - 250| wraps to 16
  set(5, 10, 0, 1);    // right: 0
  // below (7) not valid
  EXPECT_EQ(gridblock_peak_agreement(w, 0, 1, 1, 3, 3), (10 + 16 + 0) / 3);
  EXPECT_EQ(gridblock_peak_agreement(w, 1, 1, 1, 3, 3), (76 + 50 + 66) / 3);
  EXPECT_EQ(gridblock_peak_agreement(w, 2, 1, 1, 3, 3), 0);  // no third peak
  EXPECT_EQ(gridblock_peak_agreement(w, 0, 2, 1, 3, 3), 0);  // cell not valid
}

TEST(GridFrontEnd, SixteenBitFormWritesCoherenceOnlyWhenAsked) {
  const int h = 64, w = 64;
  const auto px = grating(h, w, 5.0, 0.7, 60);
  const std::vector<uint8_t> all(h * w, 255);
  GridExtractParams p = defaults(4);
  p.coherence_flag = 0;
  Block off, on;
  ASSERT_EQ(run(gridblock_extract_i16, px, all, h, w, 250, p, off), ML_OK);
  p.coherence_flag = 1;
  ASSERT_EQ(run(gridblock_extract_i16, px, all, h, w, 250, p, on), ML_OK);
  int coherent = 0;
  for (int r = 0; r < off.b->rows; ++r)
    for (int c = 0; c < off.b->columns; ++c) {
      EXPECT_EQ(off.cell(r, c).values[3], 0);
      coherent += on.cell(r, c).values[3] > 0;
    }
  EXPECT_GT(coherent, 0);
}

TEST(GridFrontEnd, AmplitudeScaleChangesTheStrengthExceptInTheSixteenBitForm) {
  // A large amplitude scale saturates the strength byte of the 32-point and
  // 250-dpi forms; the 16-bit-sample form always takes value >> 17.
  struct Case {
    FrontEnd fe;
    int size, resolution, cell;
    double period;
    bool follows_scale;
    const char* what;
  } cases[] = {
      {gridblock_extract32, 128, 500, 8, 8.0, true, "32-point form"},
      {gridblock_extract, 64, 250, 8, 4.0, true, "250-dpi form"},
      {gridblock_extract_i16, 64, 250, 4, 4.0, false, "16-bit-sample form"},
  };
  for (const Case& c : cases) {
    const auto px = grating(c.size, c.size, c.period, 0.6, 60);
    const std::vector<uint8_t> all(px.size(), 255);
    GridExtractParams p = defaults(c.cell);
    Block plain, scaled;
    ASSERT_EQ(run(c.fe, px, all, c.size, c.size, c.resolution, p, plain), ML_OK) << c.what;
    p.amplitude_scale = 60000;
    ASSERT_EQ(run(c.fe, px, all, c.size, c.size, c.resolution, p, scaled), ML_OK) << c.what;
    int valid = 0, changed = 0, saturated = 0;
    for (int r = 0; r < plain.b->rows; ++r)
      for (int k = 0; k < plain.b->columns; ++k) {
        const GridCell &a = plain.cell(r, k), &b = scaled.cell(r, k);
        if (!a.valid) continue;
        ++valid;
        EXPECT_LT(a.values[4], 250) << c.what;  // value >> 17 stays below saturation here
        changed += a.values[4] != b.values[4];
        saturated += b.values[4] >= 240;
        for (int v : {0, 1, 2, 3, 5}) EXPECT_EQ(a.values[v], b.values[v]) << c.what << " " << v;
      }
    ASSERT_GT(valid, 0) << c.what;
    if (c.follows_scale) {
      EXPECT_EQ(saturated, valid) << c.what;
    } else {
      EXPECT_EQ(changed, 0) << c.what;
    }
  }
}

TEST(GridFrontEnd, SixteenBitFormRefusesResolutionsBelow27Dpi) {
  const auto px = grating(64, 64, 5.0, 0.7, 60);
  const std::vector<uint8_t> all(px.size(), 255);
  Block blk;
  EXPECT_EQ(run(gridblock_extract_i16, px, all, 64, 64, 26, defaults(4), blk), ML_WRONG_KIND);
  EXPECT_EQ(run(gridblock_extract_i16, px, all, 64, 64, 27, defaults(4), blk), ML_OK);
}

TEST(GridFrontEnd, RefusesBadArgumentsAndSmallImages) {
  const auto px = grating(64, 64, 8.0, 0.7, 60);
  const std::vector<uint8_t> all(px.size(), 255);
  const GridExtractParams p = defaults(8);
  uint8_t* out = nullptr;
  uint16_t len = 0;
  EXPECT_EQ(gridblock_extract32(nullptr, all.data(), 64, 64, 500, &out, &len, &p), ML_BAD_ARGUMENT);
  EXPECT_EQ(gridblock_extract32(px.data(), all.data(), 64, 64, 500, &out, &len, nullptr),
            ML_BAD_ARGUMENT);
  // Under three cells a side.
  EXPECT_EQ(gridblock_extract32(px.data(), all.data(), 20, 64, 500, &out, &len, &p), ML_BAD_ARGUMENT);
  GridExtractParams zero = p;
  zero.cell_size = 0;
  EXPECT_EQ(gridblock_extract32(px.data(), all.data(), 64, 64, 500, &out, &len, &zero), ML_WRONG_KIND);
  EXPECT_EQ(out, nullptr);
}

}  // namespace
}  // namespace zyl::test
