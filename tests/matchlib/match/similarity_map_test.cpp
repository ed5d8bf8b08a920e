// Dense-descriptor similarity map and its one-value summary on drawn grid
// records: patch values, averaging where patches meet, the shifts, the
// invert check, the border fill, and the records it refuses.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <span>
#include <vector>

#include "support/prefix_sweep.h"
#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_blockrec.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_pair_matcher.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Desc = std::array<std::uint8_t, 16>;

struct Grid {
  int height, width;
  std::vector<std::array<int, 2>> points;  // x, y
  std::vector<Desc> desc;
};

// The dense grid layout: a point every 5 pixels from (4, 4), random
// non-zero descriptors.
Grid dense_grid(int height, int width, std::uint32_t seed) {
  Grid g{height, width, {}, {}};
  std::mt19937 rng(seed);
  for (int y = 4; y < height; y += 5)
    for (int x = 4; x < width; x += 5) {
      g.points.push_back({x, y});
      Desc d;
      for (auto& v : d) v = static_cast<std::uint8_t>(rng());
      d[0] |= 1;
      g.desc.push_back(d);
    }
  return g;
}

Desc complement(const Desc& d) {
  Desc c;
  for (std::size_t k = 0; k < d.size(); ++k) c[k] = static_cast<std::uint8_t>(~d[k]);
  return c;
}

// `flipped` of the 128 bits of d changed (at least one bit stays as it was,
// so the descriptor never becomes all zero).
Desc with_bits_flipped(Desc d, int flipped) {
  for (int k = 0; k < flipped; ++k) d[(k + 1) / 8 % 16] ^= static_cast<std::uint8_t>(1u << ((k + 1) % 8));
  return d;
}

Bytes record_bytes(const Grid& g, std::uint32_t type = 0x8) {
  const DescriptorType* types[DESC_TYPE_COUNT + 1] = {};
  EXPECT_EQ(desc_types_select(types, type), 1);
  BlockRecord* r = nullptr;
  EXPECT_EQ(blockrec_create(g.height, g.width, static_cast<int>(g.points.size()) + 1, types, &r), ML_OK);
  for (std::size_t k = 0; k < g.points.size(); ++k) {
    r->points[k] = {static_cast<std::int16_t>(g.points[k][0]), static_cast<std::int16_t>(g.points[k][1]),
                    0, 100, 3, 0};
    types[0]->put(g.desc[k].data(), r->extension_arrays[0], static_cast<int>(k));
  }
  r->point_count = static_cast<int>(g.points.size());
  blockrec_count_types(r);
  std::uint8_t* out = nullptr;
  std::uint32_t n = 0;
  EXPECT_EQ(blockrec_write(r, &out, &n), ML_OK);
  Bytes b(out, out + n);
  std::free(out);
  blockrec_free(r);
  return b;
}

struct Map {
  int rows, columns;
  Bytes cells;
  std::uint8_t at(int y, int x) const { return cells[static_cast<std::size_t>(y) * columns + x]; }
};

int similarity(const Bytes& a, const Bytes& b, Map& m, int y_shift = 0, int x_shift = 0,
               int invert = 0) {
  m.cells.assign(static_cast<std::size_t>(m.rows) * m.columns, 0xAB);
  return blockrec_similarity_map(a.data(), static_cast<std::uint32_t>(a.size()), b.data(),
                                 static_cast<std::uint32_t>(b.size()), m.cells.data(), m.rows,
                                 m.columns, y_shift, x_shift, invert);
}

TEST(SimilarityMap, IdenticalRecordsAreMostSimilarEverywhere) {
  const Grid g = dense_grid(60, 50, 1);
  const Bytes a = record_bytes(g);
  Map m{60, 50, {}};
  ASSERT_EQ(similarity(a, a, m), ML_OK);
  for (std::uint8_t v : m.cells) ASSERT_EQ(v, 1);
}

TEST(SimilarityMap, PatchValuesFollowTheDistance) {
  // Distance d paints 2d, 255 from 128 on; each point's 5 x 5 patch.
  Grid a = dense_grid(30, 30, 2);
  Grid b = a;
  b.desc[0] = with_bits_flipped(a.desc[0], 10);  // point (4, 4): 20
  b.desc[1] = complement(a.desc[1]);             // point (9, 4): 255
  b.desc[6] = with_bits_flipped(a.desc[6], 127);  // point (4, 9): 254
  Map m{30, 30, {}};
  ASSERT_EQ(similarity(record_bytes(a), record_bytes(b), m), ML_OK);
  EXPECT_EQ(m.at(2, 2), 20);
  EXPECT_EQ(m.at(6, 6), 20);
  EXPECT_EQ(m.at(4, 7), 255);
  EXPECT_EQ(m.at(6, 11), 255);
  EXPECT_EQ(m.at(9, 4), 254);
  EXPECT_EQ(m.at(4, 12), 1);
  // Border strips continue the edge: rows 0-1 copy row 2, columns 0-1
  // column 2.
  EXPECT_EQ(m.at(0, 0), 20);
  EXPECT_EQ(m.at(0, 8), 255);
  EXPECT_EQ(m.at(9, 0), 254);
}

TEST(SimilarityMap, OverlappingPatchesTakeTheMean) {
  // The first point at x = 6 makes patches of side 7, which overlap over
  // two columns when the points lie 5 apart.
  Grid a{20, 20, {{6, 6}, {11, 6}}, {}};
  std::mt19937 rng(3);
  for (int k = 0; k < 2; ++k) {
    Desc d;
    for (auto& v : d) v = static_cast<std::uint8_t>(rng() | 1);
    a.desc.push_back(d);
  }
  Grid b = a;
  b.desc[1] = complement(a.desc[1]);
  Map m{20, 20, {}};
  ASSERT_EQ(similarity(record_bytes(a), record_bytes(b), m), ML_OK);
  EXPECT_EQ(m.at(6, 3), 1);
  EXPECT_EQ(m.at(6, 7), 1);
  EXPECT_EQ(m.at(6, 8), (1 + 255) >> 1);
  EXPECT_EQ(m.at(6, 9), (1 + 255) >> 1);
  EXPECT_EQ(m.at(6, 10), 255);
  EXPECT_EQ(m.at(6, 14), 255);
  EXPECT_EQ(m.at(6, 19), 255);  // right strip
  EXPECT_EQ(m.at(19, 0), 1);    // bottom strip, left strip
}

TEST(SimilarityMap, TheShiftsMoveThePaintedArea) {
  // The right part differs: the edge between 1 and 255 lies at column 32,
  // and 10 columns further left (3 rows further up) with the shifts.
  Grid a = dense_grid(50, 60, 4);
  Grid b = a;
  for (std::size_t k = 0; k < a.points.size(); ++k)
    if (a.points[k][0] >= 32) b.desc[k] = complement(a.desc[k]);
  const Bytes ra = record_bytes(a), rb = record_bytes(b);
  Map m{40, 40, {}};
  ASSERT_EQ(similarity(ra, rb, m), ML_OK);
  EXPECT_EQ(m.at(20, 31), 1);
  EXPECT_EQ(m.at(20, 32), 255);
  ASSERT_EQ(similarity(ra, rb, m, 3, 10), ML_OK);
  EXPECT_EQ(m.at(20, 21), 1);
  EXPECT_EQ(m.at(20, 22), 255);
  // Every cell holds 1 or 255 (the border continues the edge).
  for (std::uint8_t v : m.cells) ASSERT_TRUE(v == 1 || v == 255);
  // A window that no grid point reaches says nothing: all 255.
  ASSERT_EQ(similarity(ra, ra, m, 500, 0), ML_OK);
  for (std::uint8_t v : m.cells) ASSERT_EQ(v, 255);
}

TEST(SimilarityMap, InvertCheckReadsAnInvertedImpressionAsSimilar) {
  Grid a = dense_grid(40, 40, 5);
  Grid b = a;
  for (auto& d : b.desc) d = complement(d);
  const Bytes ra = record_bytes(a), rb = record_bytes(b);
  Map m{40, 40, {}};
  ASSERT_EQ(similarity(ra, rb, m), ML_OK);
  for (std::uint8_t v : m.cells) ASSERT_EQ(v, 255);
  ASSERT_EQ(similarity(ra, rb, m, 0, 0, 1), ML_OK);
  for (std::uint8_t v : m.cells) ASSERT_EQ(v, 1);
  // A mean of 64 or less is left as it is.
  Grid c = a;
  for (std::size_t k = 0; k < c.desc.size(); k += 2) c.desc[k] = complement(c.desc[k]);
  ASSERT_EQ(similarity(ra, record_bytes(c), m, 0, 0, 1), ML_OK);
  EXPECT_EQ(m.at(4, 4), 255);
  EXPECT_EQ(m.at(4, 9), 1);
}

TEST(SimilarityMap, RefusesRecordsWithoutTheDenseGridAndBadInput) {
  const Grid g = dense_grid(40, 40, 6);
  const Bytes a = record_bytes(g);
  Grid fewer = g;
  fewer.points.pop_back();
  fewer.desc.pop_back();
  Grid other = g;
  Map m{40, 40, {}};
  EXPECT_EQ(similarity(a, record_bytes(fewer), m), ML_WRONG_KIND);
  EXPECT_EQ(similarity(record_bytes(other, 0x10), a, m), ML_WRONG_KIND);
  EXPECT_EQ(similarity(a, record_bytes(other, 0x10), m), ML_WRONG_KIND);
  // Bad lengths: the parser's refusal, nothing written.
  // A cut between two blocks is a shorter, complete record; any other cut
  // is refused.
  std::set<std::size_t> boundaries;
  for (std::size_t p = 2; p + 4 <= a.size(); p += 4 + (a[p + 2] << 8 | a[p + 3])) boundaries.insert(p);
  zyl::test::for_each_prefix(a, [&](std::span<const std::uint8_t> cut) {
    if (boundaries.count(cut.size())) return;
    m.cells.assign(1600, 0xAB);
    EXPECT_NE(blockrec_similarity_map(cut.data(), static_cast<std::uint32_t>(cut.size()), a.data(),
                                      static_cast<std::uint32_t>(a.size()), m.cells.data(), 40, 40,
                                      0, 0, 0),
              ML_OK);
    EXPECT_EQ(m.cells[0], 0xAB);
  });
  EXPECT_EQ(blockrec_similarity_map(nullptr, 0, a.data(), static_cast<std::uint32_t>(a.size()),
                                    m.cells.data(), 40, 40, 0, 0, 0),
            ML_BAD_ARGUMENT);
  EXPECT_EQ(blockrec_similarity_map(a.data(), static_cast<std::uint32_t>(a.size()), a.data(),
                                    static_cast<std::uint32_t>(a.size()), nullptr, 40, 40, 0, 0, 0),
            ML_BAD_ARGUMENT);
  EXPECT_EQ(blockrec_similarity_map(a.data(), static_cast<std::uint32_t>(a.size()), a.data(),
                                    static_cast<std::uint32_t>(a.size()), m.cells.data(), 0, 40, 0, 0, 0),
            ML_BAD_ARGUMENT);
}

struct BlobDeleter {
  void operator()(DataBlob* b) const { blob_release(b); }
};
using Blob = std::unique_ptr<DataBlob, BlobDeleter>;
Blob blob_of(const Bytes& b) {
  return Blob(blob_create(BLOCKREC_FORMAT, b.data(), static_cast<std::uint32_t>(b.size())));
}

TEST(Desc8SimilarityBlob, MeanDistanceTimes256) {
  Grid a = dense_grid(30, 30, 7);  // 36 points
  Grid b = a;
  for (std::size_t k = 0; k < 9; ++k) b.desc[k] = complement(a.desc[k]);
  b.desc[9] = with_bits_flipped(a.desc[9], 36);
  const Blob ba = blob_of(record_bytes(a)), bb = blob_of(record_bytes(b));
  std::uint16_t* scores = nullptr;
  int count = -1;
  ASSERT_EQ(desc8_similarity_blob(ba.get(), ba.get(), &scores, &count), ML_OK);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(scores[0], 0);
  std::free(scores);
  ASSERT_EQ(desc8_similarity_blob(ba.get(), bb.get(), &scores, &count), ML_OK);
  EXPECT_EQ(scores[0], (9 * 128 + 36) * 256 / 36);
  std::free(scores);

  Grid fewer = a;
  fewer.points.pop_back();
  fewer.desc.pop_back();
  const Blob bf = blob_of(record_bytes(fewer)), bo = blob_of(record_bytes(a, 0x10));
  EXPECT_EQ(desc8_similarity_blob(ba.get(), bf.get(), &scores, &count), ML_WRONG_KIND);
  EXPECT_EQ(desc8_similarity_blob(bo.get(), ba.get(), &scores, &count), ML_WRONG_KIND);
  EXPECT_EQ(scores, nullptr);
  EXPECT_EQ(count, 0);
  const Blob empty = blob_of(record_bytes(Grid{20, 20, {}, {}}));
  EXPECT_EQ(desc8_similarity_blob(empty.get(), empty.get(), &scores, &count), ML_NOTHING_TO_COMPARE);
  EXPECT_EQ(desc8_similarity_blob(nullptr, ba.get(), &scores, &count), ML_BAD_ARGUMENT);
}

}  // namespace
