#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "synthetic_print.h"
#include "zylscan/matchlib_fixed.h"
#include "zylscan/matchlib_minutiae_extract.h"
#include "zylscan/matchlib_object.h"

namespace {

using zyl::test::PlantedMinutia;
using RecordPtr = std::unique_ptr<MinutiaeRecord, decltype(&minrec_free)>;
using Image = std::vector<std::uint8_t>;

constexpr int kSize = 192;
const std::vector<PlantedMinutia> kPlanted{{60, 60, 2, 1}, {130, 60, 2, 1}, {60, 130, 2, -1}, {130, 130, 2, -1}};

RecordPtr fresh(int options, int max_count = 64) {
  RecordPtr r(minrec_create(), &minrec_free);
  r->options = static_cast<std::uint16_t>(options);
  r->max_count = static_cast<std::uint8_t>(max_count);
  r->order_code = 21;
  r->cores_wanted = r->deltas_wanted = 1;
  r->zonal_wanted = r->orientation_wanted = r->frequency_wanted = 1;
  return r;
}

RecordPtr extract(const Image& img, int h, int w, int options, int expect = ML_OK, const Image* mask = nullptr,
                  int max_count = 64) {
  RecordPtr r = fresh(options, max_count);
  EXPECT_EQ(minutiae_pipeline_grey(img.data(), mask ? mask->data() : nullptr, h, w, r.get(), nullptr, nullptr),
            expect);
  return r;
}

Image inverted(Image img) {
  for (auto& v : img) v = static_cast<std::uint8_t>(255 - v);
  return img;
}

// Quarter turn clockwise: (x, y) goes to (h - 1 - y, x).
Image turned(const Image& img, int h, int w) {
  Image out(img.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) out[std::size_t(x) * h + (h - 1 - y)] = img[std::size_t(y) * w + x];
  return out;
}

// The minutia nearest to (x, y) within `reach`, or null.
const MinutiaEntry* near(const MinutiaeRecord& r, double x, double y, double reach) {
  const MinutiaEntry* best = nullptr;
  double best_d = reach * reach;
  for (int i = 0; i < r.count; ++i) {
    const double dx = r.minutiae[i].x - x, dy = r.minutiae[i].y - y, d = dx * dx + dy * dy;
    if (d <= best_d) {
      best_d = d;
      best = &r.minutiae[i];
    }
  }
  return best;
}

TEST(MinutiaePipeline, PlantedMinutiaeAreFoundWithTheirTypes) {
  const Image img = zyl::test::synthetic_print(kSize, kSize, 9, kPlanted);
  // Dark ridges that join are bifurcations; in the inverted image the same
  // places are dark-ridge endings.
  for (int invert = 0; invert < 2; ++invert) {
    for (int options : {MINX_FULL, MINX_HALF}) {
      const int f = options == MINX_HALF ? 2 : 1;
      auto r = extract(invert ? inverted(img) : img, kSize, kSize, options);
      EXPECT_EQ(r->count, kPlanted.size()) << options << " " << invert;
      for (const PlantedMinutia& p : kPlanted) {
        // Where a fork closes along the ridge is a matter of a few pixels.
        const MinutiaEntry* m = near(*r, f * p.x, f * p.y, 6.0 * f);
        ASSERT_NE(m, nullptr) << p.x << "," << p.y << " options " << options << " invert " << invert;
        EXPECT_EQ(m->type, invert ? 1 : 2);
        EXPECT_GT(m->quality, 60);
      }
      for (int i = 0; i < r->count; ++i) {
        if (f == 2) {
          EXPECT_EQ(r->minutiae[i].x % 2, 0);
          EXPECT_EQ(r->minutiae[i].y % 2, 0);
        }
        EXPECT_LT(r->minutiae[i].x, r->width);
        EXPECT_LT(r->minutiae[i].y, r->height);
      }
      EXPECT_EQ(r->width, f * kSize);
      EXPECT_EQ(r->resolution, MINREC_RESOLUTION);
      EXPECT_GT(r->finger_quality, 50);
      EXPECT_EQ(r->quality_value, r->finger_quality);
      ASSERT_NE(r->orientation.cells, nullptr);
      EXPECT_EQ(r->orientation.cell_size, 12);  // 12 at full, 6 doubled at half
      EXPECT_EQ(r->frequency.rows, kSize / (12 / f));
    }
  }
}

TEST(MinutiaePipeline, QuarterTurnTurnsTheMinutiae) {
  const Image img = zyl::test::synthetic_print(kSize, kSize, 9, kPlanted);
  auto r = extract(img, kSize, kSize, MINX_FULL);
  auto t = extract(turned(img, kSize, kSize), kSize, kSize, MINX_FULL);
  ASSERT_EQ(r->count, t->count);
  for (int i = 0; i < r->count; ++i) {
    const MinutiaEntry& m = r->minutiae[i];
    const MinutiaEntry* q = near(*t, kSize - 1 - m.y, m.x, 4);
    ASSERT_NE(q, nullptr) << m.x << "," << m.y;
    EXPECT_EQ(q->type, m.type);
    // A clockwise turn on screen (rows down) lowers a direction by 64.
    EXPECT_LE(fx_dir_absdiff(q->direction, (m.direction - 64) & 255), 12) << int(m.direction) << " " << int(q->direction);
  }
}

TEST(MinutiaePipeline, SamplingModeMustBeExactlyOne) {
  const Image img = zyl::test::synthetic_print(96, 96, 9, {});
  for (int options : {0, MINX_FULL | MINX_HALF}) {
    auto r = extract(img, 96, 96, options, ML_WRONG_KIND);
    EXPECT_EQ(r->count, 0);
    EXPECT_EQ(r->height, 0);  // untouched
  }
  // Under three blocks on the smaller side: refused by the framing.
  const Image small = zyl::test::synthetic_print(30, 96, 9, {});
  extract(small, 30, 96, MINX_FULL, ML_BAD_ARGUMENT);
}

TEST(MinutiaePipeline, SelectionKeepsTheBestAndTheMask) {
  const Image img = zyl::test::synthetic_print(kSize, kSize, 9, kPlanted);
  auto all = extract(img, kSize, kSize, MINX_FULL);
  auto two = extract(img, kSize, kSize, MINX_FULL, ML_OK, nullptr, 2);
  ASSERT_EQ(two->count, 2);
  std::vector<int> q;
  for (int i = 0; i < all->count; ++i) q.push_back(all->minutiae[i].quality);
  std::sort(q.rbegin(), q.rend());
  EXPECT_EQ(two->minutiae[0].quality, q[0]);
  EXPECT_EQ(two->minutiae[1].quality, q[1]);
  // A mask over the right half keeps the minutiae there only.
  Image mask(img.size(), 0);
  for (int y = 0; y < kSize; ++y)
    for (int x = kSize / 2; x < kSize; ++x) mask[std::size_t(y) * kSize + x] = 255;
  auto masked = extract(img, kSize, kSize, MINX_FULL, ML_OK, &mask);
  EXPECT_EQ(masked->count, 2);
  for (int i = 0; i < masked->count; ++i) EXPECT_GE(masked->minutiae[i].x, kSize / 2);
  auto none = extract(img, kSize, kSize, MINX_FULL, ML_OK, nullptr, 0);
  EXPECT_EQ(none->count, 0);
}

TEST(MinutiaePipeline, PaddedFrameKeepsPositionsInsideTheImage) {
  // 190 x 185 is padded to 192 x 192 (negative origin); every position,
  // core and delta stays inside the image.
  const Image img = zyl::test::synthetic_print(190, 185, 9, {{8, 60, 2, 1}, {180, 150, 2, -1}, {90, 90, 2, 1}});
  for (int options : {MINX_FULL, MINX_HALF}) {
    auto r = extract(img, 190, 185, options);
    const int f = options == MINX_HALF ? 2 : 1;
    EXPECT_EQ(r->height, f * 190);
    EXPECT_EQ(r->width, f * 185);
    for (int i = 0; i < r->count; ++i) {
      EXPECT_LT(r->minutiae[i].x, r->width);
      EXPECT_LT(r->minutiae[i].y, r->height);
    }
    for (int i = 0; i < r->cores.count; ++i) EXPECT_LT(r->cores.entries[i].x, r->width);
    EXPECT_LE(r->orientation.origin_first, 0);
  }
}

TEST(MinutiaePipeline, ZonalMapOfA300By400Image) {
  const Image img = zyl::test::synthetic_print(300, 400, 9, kPlanted);
  auto r = extract(img, 300, 400, MINX_FULL);
  EXPECT_EQ(r->zonal_quality.rows, 26);
  EXPECT_EQ(r->zonal_quality.columns, 34);
  EXPECT_EQ(r->zonal_quality.cell_height, 12);
  ZonalQuality z{};
  const Image map(10 * 10, 7);
  ASSERT_EQ(cellmap_sample(map.data(), 20, 20, 10, 10, 5, 5, 4, 4, &z), ML_OK);
  EXPECT_EQ(z.rows, 6);
  EXPECT_EQ(z.cells[0], 0);       // centre (2, 2) lies before the map
  EXPECT_EQ(z.cells[1 * 6 + 1], 7);  // centre (6, 6) at map (1, 1)
  EXPECT_EQ(z.cells[4 * 6 + 4], 0);  // centre (18, 18) past it
  std::free(z.cells);
}

TEST(MinutiaePipeline, MapsWithoutMinutiae) {
  const Image img = zyl::test::synthetic_print(120, 96, 9, kPlanted);
  RecordPtr r = fresh(MINX_HALF | MINX_ORIENTATION | MINX_FREQUENCY);
  ASSERT_EQ(minutiae_pipeline_maps(img.data(), nullptr, 120, 96, r.get()), ML_OK);
  EXPECT_EQ(r->count, 0);
  EXPECT_EQ(r->height, 240);
  ASSERT_NE(r->orientation.cells, nullptr);
  ASSERT_NE(r->frequency.cells, nullptr);
  EXPECT_EQ(r->orientation.cell_size, 12);
  EXPECT_EQ(r->orientation.rows, 20);
  EXPECT_GT(r->finger_quality, 0);
  EXPECT_GT(r->area, 0);
  RecordPtr full = fresh(MINX_FULL);
  EXPECT_EQ(minutiae_pipeline_maps(img.data(), nullptr, 120, 96, full.get()), ML_WRONG_KIND);
}

TEST(MinutiaePipeline, MapsWindowOfALargeImage) {
  // 1200 rows: a window of 1122 rows around the centroid; the origin moves
  // by the window's start and stays a multiple of the block.
  Image img(std::size_t(1200) * 120, 200);
  const Image print = zyl::test::synthetic_print(600, 120, 9, {});
  std::copy(print.begin(), print.end(), img.begin() + std::size_t(550) * 120);
  RecordPtr r = fresh(MINX_HALF | MINX_ORIENTATION | MINX_FREQUENCY);
  ASSERT_EQ(minutiae_pipeline_maps(img.data(), nullptr, 1200, 120, r.get()), ML_OK);
  EXPECT_EQ(r->orientation.rows, 1122 / 6);
  EXPECT_EQ(r->orientation.origin_second % 12, 0);
  // With the finger at the far end the window keeps its place past the
  // frame; the cells there are empty, not left over.
  Image low(std::size_t(1200) * 120, 200);
  std::copy(print.begin(), print.end(), low.begin() + std::size_t(600) * 120);
  RecordPtr far = fresh(MINX_HALF | MINX_ORIENTATION | MINX_FREQUENCY);
  ASSERT_EQ(minutiae_pipeline_maps(low.data(), nullptr, 1200, 120, far.get()), ML_OK);
  const int rows = far->orientation.rows, columns = far->orientation.columns;
  ASSERT_EQ(rows, 1122 / 6);
  const int first_row_past = (1200 - far->orientation.origin_second / 2) / 6;  // origin doubled
  ASSERT_LT(first_row_past, rows);
  for (int y = first_row_past; y < rows; ++y)
    for (int x = 0; x < columns; ++x) {
      EXPECT_EQ(far->orientation.cells[y * columns + x], 0) << y;
      EXPECT_EQ(far->frequency.cells[y * columns + x], 0) << y;
    }
}

}  // namespace

namespace {

RecordPtr extract_bits(const Image& img, int h, int w, int options, int expect = ML_OK, int max_count = 64) {
  RecordPtr r = fresh(options, max_count);
  EXPECT_EQ(minutiae_pipeline_bilevel(img.data(), nullptr, h, w, r.get(), nullptr, nullptr), expect);
  return r;
}

TEST(BilevelPipeline, PlantedMinutiaeOnTheBitPlanes) {
  // The input is taken as a halved image; positions come out doubled.
  const Image img = zyl::test::synthetic_print(kSize, kSize, 9, kPlanted);
  for (int invert = 0; invert < 2; ++invert) {
    auto r = extract_bits(invert ? inverted(img) : img, kSize, kSize, MINX_HALF | MINX_DOUBLE_OUTPUT);
    EXPECT_EQ(r->count, kPlanted.size());
    for (const PlantedMinutia& p : kPlanted) {
      const MinutiaEntry* m = near(*r, 2 * p.x, 2 * p.y, 12);
      ASSERT_NE(m, nullptr) << p.x << "," << p.y << " invert " << invert;
      EXPECT_EQ(m->type, invert ? 1 : 2);  // dark-ridge polarity, as the grey pipeline
    }
    EXPECT_EQ(r->width, 2 * kSize);
    EXPECT_EQ(r->orientation.cell_size, 12);
    EXPECT_GT(r->finger_quality, 50);
  }
}

TEST(BilevelPipeline, ModesAndLimits) {
  const Image img = zyl::test::synthetic_print(kSize, kSize, 9, kPlanted);
  extract_bits(img, kSize, kSize, MINX_FULL | MINX_DOUBLE_OUTPUT, ML_CORRUPT);  // the core needs both
  extract_bits(img, kSize, kSize, MINX_HALF, ML_CORRUPT);
  extract_bits(img, kSize, kSize, MINX_HALF | MINX_FULL, ML_WRONG_KIND);
  auto two = extract_bits(img, kSize, kSize, MINX_HALF | MINX_DOUBLE_OUTPUT, ML_OK, 2);
  EXPECT_EQ(two->count, 2);
  // A padded frame: positions stay inside the doubled image.
  const Image odd = zyl::test::synthetic_print(100, 95, 9, {{4, 50, 2, 1}, {50, 50, 2, -1}});
  auto r = extract_bits(odd, 100, 95, MINX_HALF | MINX_DOUBLE_OUTPUT);
  for (int i = 0; i < r->count; ++i) {
    EXPECT_LT(r->minutiae[i].x, 190);
    EXPECT_LT(r->minutiae[i].y, 200);
  }
}

// A thinned plane drawn as 0/1 pixels (1 = line).
std::vector<std::uint8_t> plane_of(const std::vector<std::vector<int>>& lines, int rows, int width) {
  std::vector<std::uint8_t> bits(std::size_t(rows) * ((width + 7) / 8), 0xFF);
  for (const auto& l : lines) {  // {x0, y0, dx, dy, length}
    for (int k = 0; k < l[4]; ++k) {
      const int x = l[0] + k * l[2], y = l[1] + k * l[3];
      bits[std::size_t(y) * ((width + 7) / 8) + x / 8] &= static_cast<std::uint8_t>(~(1u << (x % 8)));
    }
  }
  return bits;
}

TEST(BitPlaneTrace, BranchQualityByItsShortestArm) {
  const int rows = 64, width = 64;
  std::vector<std::uint8_t> quality(32 * 32, 70), counts(std::size_t(rows) * 32);
  std::vector<MinutiaEntry> m(MINREC_MAX_MINUTIAE);
  // A straight line: no minutia.
  auto line = plane_of({{5, 30, 1, 0, 50}}, rows, width);
  std::uint8_t n = 0;
  bilevel_bits_trace_minutiae(line.data(), rows, width, 0, quality.data(), m.data(), &n, counts.data(), 2, 2);
  EXPECT_EQ(n, 0);
  // A Y with long arms keeps quality 70.
  auto y = plane_of({{30, 31, 0, 1, 25}, {29, 29, -1, -1, 20}, {31, 29, 1, -1, 20}, {30, 30, 0, 1, 1}}, rows, width);
  n = 0;
  bilevel_bits_trace_minutiae(y.data(), rows, width, 1, quality.data(), m.data(), &n, counts.data(), 2, 2);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(m[0].quality, 70);
  EXPECT_EQ(m[0].type, 1);
  EXPECT_EQ(m[0].x, 30);
  EXPECT_EQ(m[0].y, 30);
  // The same Y with an arm of one diagonal pixel (m = 2):
  // (100 / (2 - isqrt(8) + 7)) x 70 / 100 = 16 x 70 / 100 = 11.
  auto stub = plane_of({{30, 31, 0, 1, 25}, {29, 29, -1, -1, 20}, {31, 29, 1, -1, 1}, {30, 30, 0, 1, 1}}, rows, width);
  n = 0;
  bilevel_bits_trace_minutiae(stub.data(), rows, width, 1, quality.data(), m.data(), &n, counts.data(), 2, 2);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(m[0].quality, 11);
  // At quality 10 an arm ending less than 5 pixels away rejects the branch.
  std::fill(quality.begin(), quality.end(), 10);
  auto short_arm = plane_of({{30, 31, 0, 1, 25}, {29, 29, -1, -1, 20}, {31, 29, 1, -1, 3}, {30, 30, 0, 1, 1}}, rows, width);
  n = 0;
  bilevel_bits_trace_minutiae(short_arm.data(), rows, width, 1, quality.data(), m.data(), &n, counts.data(), 2, 2);
  EXPECT_EQ(n, 0);
}

}  // namespace
