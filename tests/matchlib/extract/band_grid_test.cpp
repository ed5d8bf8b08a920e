// Band grid: streaming rows, cell analysis, the grid feature map and the
// 250-dpi grid stage.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "matchlib/extract/grating.h"
#include "support/pgm.h"
#include "zylscan/matchlib_bandgrid.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_object.h"

namespace zyl::test {
namespace {

// Grid storage of exactly the required size, so that the sanitizers see
// any write past it.
struct Grid {
  std::unique_ptr<uint8_t[]> storage;
  BandGrid* g = nullptr;
  Grid(int w, int h, int cell, bool buffered) {
    uint32_t need = 0;
    EXPECT_EQ(bandgrid_init(nullptr, 0, buffered, w, h, cell, &need), nullptr);
    storage.reset(new uint8_t[need]);
    EXPECT_EQ(bandgrid_init(storage.get(), need - 1, buffered, w, h, cell, nullptr), nullptr);
    g = bandgrid_init(storage.get(), need, buffered, w, h, cell, nullptr);
  }
};

std::vector<uint8_t> map_of(BandGrid* g) {
  const uint8_t* map = nullptr;
  uint16_t len = 0;
  EXPECT_EQ(bandgrid_finish(g, 255, 255, &map, &len, nullptr, nullptr), ML_OK);
  return std::vector<uint8_t>(map, map + len);
}

uint8_t xor_all(const std::vector<uint8_t>& m) {
  uint8_t x = 0;
  for (uint8_t b : m) x ^= b;
  return x;
}

// A 250-dpi crop of a real print (halved from 500 dpi).
std::vector<uint8_t> print250(int& h, int& w) {
  const auto img = zyl::test::read_pgm(zyl::test::test_data("fvc2004_102_1_160.pgm"));
  h = img.height / 2;
  w = img.width / 2;
  std::vector<uint8_t> px(static_cast<size_t>(h) * w);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px[y * w + x] = static_cast<uint8_t>((img.at(2 * x, 2 * y) + img.at(2 * x + 1, 2 * y) +
                                            img.at(2 * x, 2 * y + 1) + img.at(2 * x + 1, 2 * y + 1) + 2) /
                                           4);
  return px;
}

TEST(BandGrid, GeometryIsCentredAndBounded) {
  Grid a(100, 60, 6, false);
  int cols = 0, rows = 0, xo = 0, yo = 0;
  bandgrid_size(a.g, &cols, &rows, &xo, &yo);
  EXPECT_EQ(cols, 17);  // (100 + 3) / 6
  EXPECT_EQ(xo, -1);    // (100 - 102) / 2
  EXPECT_EQ(rows, 10);
  EXPECT_EQ(yo, 0);
  uint32_t need = 1;
  EXPECT_EQ(bandgrid_init(nullptr, 0, 0, 100, 60, 0, &need), nullptr);  // cell size 0
  EXPECT_EQ(need, 0u);
  EXPECT_EQ(bandgrid_init(nullptr, 0, 0, 486, 60, 6, &need), nullptr);  // 81 columns
  EXPECT_EQ(need, 0u);
  // 1544 + 4 x ceil(3 x 17 x 10 / 4) (+ 16 rows with a row buffer).
  EXPECT_EQ(bandgrid_init(nullptr, 0, 0, 100, 60, 6, &need), nullptr);
  EXPECT_EQ(need, 1544u + 4 * 128);
  EXPECT_EQ(bandgrid_init(nullptr, 0, 1, 100, 60, 6, &need), nullptr);
  EXPECT_EQ(need, 1544u + 4 * 128 + 1600);
  EXPECT_EQ(bandgrid_target_dpi(), 250);
}

TEST(BandGrid, FirstWindowReachesOutsideTheImage) {
  // Width 100 at cell 6: the first window starts 6 pixels left of the
  // image; only its inside pixels count, so the cell still sees the ridges.
  const auto px = grating(60, 100, 4.0, 0.5, 60);
  Grid a(100, 60, 6, false);
  EXPECT_EQ(bandgrid_feed_rows(a.g, 60, px.data()), 60u);
  EXPECT_NE(bandgrid_cell(a.g, 5, 0)[2], 0);
  EXPECT_NEAR(bandgrid_cell(a.g, 5, 8)[1], 128, 2);  // period 4 at 250 dpi
}

TEST(BandGrid, FeedingInBandsOfAnyHeightGivesTheSameMap) {
  int h = 0, w = 0;
  const auto px = print250(h, w);
  Grid whole(w, h, 6, false);
  ASSERT_EQ(bandgrid_feed_rows(whole.g, h, px.data()), static_cast<uint32_t>(h));
  const auto expected = map_of(whole.g);
  ASSERT_GT(expected.size(), 11u);
  for (int band : {1, 2, 5, 15, 16, 17, 33, h}) {
    Grid g(w, h, 6, true);
    uint32_t got = 0;
    for (int y = 0; y < h; y += band) {
      const int n = std::min(band, h - y);
      got = bandgrid_feed_rows(g.g, n, px.data() + static_cast<size_t>(y) * w);
      EXPECT_EQ(got, static_cast<uint32_t>(y + n)) << band;
    }
    EXPECT_EQ(got, static_cast<uint32_t>(h));
    EXPECT_EQ(map_of(g.g), expected) << "band " << band;
  }
}

TEST(BandGrid, BandsMatchOneCallForAnySizeAndCell) {
  std::mt19937 rng(11);
  for (int round = 0; round < 40; ++round) {
    const int w = 8 + static_cast<int>(rng() % 200), h = 8 + static_cast<int>(rng() % 200);
    const int cell = 2 + static_cast<int>(rng() % 20);
    if ((w + cell / 2) / cell > 80 || (h + cell / 2) / cell > 80) continue;
    auto px = grating(h, w, 3.0 + rng() % 9, (rng() % 628) / 100.0, 50);
    for (auto& p : px) p = static_cast<uint8_t>(std::clamp(p + static_cast<int>(rng() % 31) - 15, 0, 255));
    Grid whole(w, h, cell, false);
    ASSERT_EQ(bandgrid_feed_rows(whole.g, h, px.data()), static_cast<uint32_t>(h));
    const auto expected = map_of(whole.g);
    const int band = 1 + static_cast<int>(rng() % 40);
    Grid g(w, h, cell, true);
    for (int y = 0; y < h; y += band)
      bandgrid_feed_rows(g.g, std::min(band, h - y), px.data() + static_cast<size_t>(y) * w);
    EXPECT_EQ(map_of(g.g), expected) << w << " x " << h << " cell " << cell << " band " << band;
  }
}

TEST(BandGrid, UnfinishedGridIsRefused) {
  const auto px = grating(60, 60, 4.0, 0.5, 60);
  Grid g(60, 60, 6, true);
  EXPECT_EQ(bandgrid_feed_rows(g.g, 20, px.data()), 20u);
  const uint8_t* map = nullptr;
  uint16_t len = 7;
  EXPECT_EQ(bandgrid_finish(g.g, 255, 255, &map, &len, nullptr, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(map, nullptr);
  EXPECT_EQ(len, 0);
}

TEST(BandGrid, FlatImageGivesEmptyCellsAndAnElevenByteMap) {
  const std::vector<uint8_t> px(60 * 60, 77);
  Grid g(60, 60, 6, false);
  bandgrid_feed_rows(g.g, 60, px.data());
  for (int r = 0; r < 10; ++r)
    for (int c = 0; c < 10; ++c) {
      const uint8_t* cell = bandgrid_cell(g.g, r, c);
      EXPECT_EQ(cell[0] | cell[1] | cell[2], 0);
    }
  const auto map = map_of(g.g);
  ASSERT_EQ(map.size(), 11u);
  const uint8_t head[9] = {0x5B, 0xDA, 0x02, 6, 0x00, 0xFA, 0, 0, 0};
  EXPECT_TRUE(std::equal(head, head + 9, map.begin()));
  EXPECT_EQ(map[10], 0);  // quality
  EXPECT_EQ(xor_all(map), 0);
}

TEST(BandGrid, GratingCellsCarryOrientationAndFrequency) {
  for (double deg : {0.0, 45.0, 100.0}) {
    const auto px = grating(60, 60, 4.0, deg * M_PI / 180, 60);
    Grid g(60, 60, 6, false);
    bandgrid_feed_rows(g.g, 60, px.data());
    const uint8_t* cell = bandgrid_cell(g.g, 5, 5);
    EXPECT_NEAR(cell[1], 128, 2) << deg;
    // Signed doubled angle of the wave vector, 256 steps a turn.
    const int expect = static_cast<int>(std::lround(2 * deg * 256 / 360)) & 255;
    EXPECT_LE(std::abs(static_cast<int8_t>(static_cast<uint8_t>(cell[0] - expect))), 3) << deg;
    // Contrast: floor(sqrt(4 V)), V about 60^2 / 2 for the windowed pixels.
    EXPECT_NEAR(cell[2], 2 * std::sqrt(1800.0), 8) << deg;
  }
}

TEST(BandGrid, CellSpectrumPeaksAtTheGratingsBin) {
  // Wave vectors of (3, 0) and (2, -4) cycles per 16-pixel window.
  struct Case {
    int u, v;
  } cases[] = {{3, 0}, {2, -4}, {0, 5}};
  for (const Case& c : cases) {
    const double period = 16 / std::hypot(c.u, c.v);
    const auto px = grating(32, 32, period, std::atan2(c.v, c.u), 60);
    // Half the image through a row buffer: rows 2..15 stay held for the
    // second cell row, whose window starts at row 2.
    Grid g(32, 32, 6, true);
    ASSERT_EQ(bandgrid_feed_rows(g.g, 16, px.data()), 16u);
    bandgrid_cell_spectrum(g.g, 2, 8, 16, 128);
    uint32_t best = 0;
    int bu = -1, bv = 0;
    for (int u = 0; u <= 8; ++u)
      for (int v = -8; v <= 7; ++v)
        if (bandgrid_spectrum_at(g.g, u, v) > best) best = bandgrid_spectrum_at(g.g, u, v), bu = u, bv = v;
    // The half spectrum holds (u, v) or its mirror (-u, -v).
    const bool mirrored = c.u == 0 && bu == 0 && bv == -c.v;
    EXPECT_TRUE((bu == c.u && bv == c.v) || mirrored) << c.u << "," << c.v << " at " << bu << "," << bv;
    EXPECT_EQ(bandgrid_spectrum_at(g.g, 9, 0), 0u);
  }
  // A grid without a row buffer holds no pixels between calls: the
  // spectrum of a window is then empty rather than read from stale rows.
  const auto px = grating(32, 32, 5.0, 0.0, 60);
  Grid g(32, 32, 6, false);
  bandgrid_feed_rows(g.g, 32, px.data());
  bandgrid_cell_spectrum(g.g, 8, 8, 32, 128);
  for (int u = 0; u <= 8; ++u) EXPECT_EQ(bandgrid_spectrum_at(g.g, u, 0), 0u);
}

TEST(BandGrid, MapOfTheLargestGridStaysInsideItsStorage) {
  // 80 x 80 cells: the map is written over the cells it reads.
  const auto px = grating(480, 480, 4.0, 0.3, 60);
  Grid g(480, 480, 6, false);
  ASSERT_NE(g.g, nullptr);
  bandgrid_feed_rows(g.g, 480, px.data());
  const uint8_t* map = nullptr;
  uint16_t len = 0;
  uint8_t quality = 0;
  uint16_t area = 0;
  ASSERT_EQ(bandgrid_finish(g.g, 255, 255, &map, &len, &quality, &area), ML_OK);
  EXPECT_EQ(len % 2, 1);
  EXPECT_EQ(xor_all(std::vector<uint8_t>(map, map + len)), 0);
  EXPECT_GE(map[6], 76);
  EXPECT_GE(map[7], 76);
  EXPECT_EQ(len, 11 + 2 * map[6] * map[7]);
  for (int k = 0; k < map[6] * map[7]; ++k) EXPECT_NEAR(map[10 + 2 * k + 1], 128, 2);
  EXPECT_GT(quality, 0);
  EXPECT_GT(area, 0);
}

TEST(BandGrid, CropLimitsKeepTheFullestRowsAndColumns) {
  const auto px = grating(120, 120, 4.0, 0.3, 60);
  Grid g(120, 120, 6, false);
  bandgrid_feed_rows(g.g, 120, px.data());
  const uint8_t* map = nullptr;
  uint16_t len = 0;
  ASSERT_EQ(bandgrid_finish(g.g, 8, 5, &map, &len, nullptr, nullptr), ML_OK);
  EXPECT_LE(map[6], 8);
  EXPECT_LE(map[7], 5);
  EXPECT_EQ(len, 11 + 2 * map[6] * map[7]);
}

TEST(BandGrid, FinishClearsStrayAndLonelyFrequencies) {
  // Cells set by hand on a flat grid: a 3 x 3 block of frequency 100 whose
  // centre strays to 131 (|13100 - 10620| > 2400), and a lonely cell.
  const std::vector<uint8_t> px(60 * 60, 90);
  Grid g(60, 60, 6, false);
  bandgrid_feed_rows(g.g, 60, px.data());
  auto set = [&](int r, int c, int f) {
    auto* cell = const_cast<uint8_t*>(bandgrid_cell(g.g, r, c));
    cell[0] = 7;
    cell[1] = static_cast<uint8_t>(f);
    cell[2] = 100;  // contrast over the threshold the histogram gives
  };
  for (int r = 2; r <= 4; ++r)
    for (int c = 2; c <= 4; ++c) set(r, c, 100);
  set(3, 3, 131);
  set(7, 7, 100);
  const uint8_t* map = nullptr;
  uint16_t len = 0;
  uint8_t quality = 0;
  ASSERT_EQ(bandgrid_finish(g.g, 255, 255, &map, &len, &quality, nullptr), ML_OK);
  EXPECT_EQ(quality, 100);  // no ratio recorded by hand
  ASSERT_EQ(map[6], 3);     // cropped to the block
  ASSERT_EQ(map[7], 3);
  for (int k = 0; k < 9; ++k) {
    const bool centre = k == 4;
    EXPECT_EQ(map[10 + 2 * k], centre ? 0 : 7) << k;
    EXPECT_EQ(map[10 + 2 * k + 1], centre ? 0 : 100) << k;
  }
  EXPECT_EQ(len, 11 + 18);
  EXPECT_EQ(map[len - 1], 100);
}

TEST(BandGrid, ContrastReductionRoundsHalvesAwayFromTheMean) {
  const uint8_t px[4] = {100, 101, 99, 100};  // mean 100
  uint8_t out[4];
  img_reduce_contrast_u8(px, 1, 4, 50, out);
  // x = +-50: +-(50 + 50) / 100 = +-1.
  EXPECT_EQ(out[1], 101);
  EXPECT_EQ(out[2], 99);
  img_reduce_contrast_u8(px, 1, 4, 100, out);
  EXPECT_EQ(out[1], 100);
}

struct StageCase {
  const char* what;
  int resolution, h, w;
  int rows, columns;  // before cropping
};

TEST(BandGridStage, ResamplesToAbout250Dpi) {
  const StageCase cases[] = {
      {"500 halved", 500, 120, 150, 10, 13},
      {"245 kept", 245, 120, 150, 20, 25},
      {"259 kept", 259, 120, 150, 20, 25},
      {"240 resampled", 240, 120, 150, 21, 26},
  };
  for (const StageCase& c : cases) {
    const double period = 4.0 * c.resolution / 250;
    const auto px = grating(c.h, c.w, period, 0.4, 60);
    GrayImage* img = image_create(c.h, c.w, c.resolution, c.resolution, px.data(), 0);
    DataBlob* blob = nullptr;
    ASSERT_EQ(stage_extract_gridmap250(nullptr, img, nullptr, 66, &blob), ML_OK) << c.what;
    EXPECT_EQ(blob_type(blob), 66);
    const uint8_t* m = blob_data(blob);
    const uint32_t len = blob_size(blob);
    EXPECT_EQ(len, 11u + 2 * m[6] * m[7]);
    EXPECT_EQ(len % 2, 1u);
    EXPECT_EQ(xor_all(std::vector<uint8_t>(m, m + len)), 0);
    // Only empty edge rows and columns are cropped.
    EXPECT_LE(m[7], c.rows) << c.what;
    EXPECT_GE(m[7], c.rows - 2) << c.what;
    EXPECT_LE(m[6], c.columns) << c.what;
    EXPECT_GE(m[6], c.columns - 2) << c.what;
    blob_release(blob);
    image_release(img);
  }
}

TEST(BandGridStage, RefusesWrongFormatAndMissingResolution) {
  const auto px = grating(60, 60, 4.0, 0.4, 60);
  GrayImage* img = image_create(60, 60, 250, 250, px.data(), 0);
  GrayImage* nores = image_create(60, 60, 0, 250, px.data(), 0);
  GrayImage* big = image_create(60, 600, 250, 250, nullptr, 0);
  DataBlob* blob = nullptr;
  EXPECT_EQ(stage_extract_gridmap250(nullptr, img, nullptr, 77, &blob), ML_WRONG_KIND);
  EXPECT_EQ(stage_extract_gridmap250(nullptr, nores, nullptr, 66, &blob), ML_WRONG_KIND);
  EXPECT_EQ(stage_extract_gridmap250(nullptr, big, nullptr, 66, &blob), ML_TOO_SHORT);
  EXPECT_EQ(blob, nullptr);
  image_release(img);
  image_release(nores);
  image_release(big);
}

}  // namespace
}  // namespace zyl::test
