#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "api/nuvel_codec.h"
#include "template_test_support.h"
#include "zylscan/nuvel.h"
#include "zylscan/xw.h"

namespace {

using namespace zyl::test;
using zyl::api::NuvelWriterSettings;

std::vector<uint8_t> compress(const FeatureRecord& r, const NuvelWriterSettings& s,
                              std::size_t capacity = 20480) {
  std::vector<uint8_t> out(capacity, 0xEE);
  out.resize(zyl::api::compress_features(r, out, s));
  return out;
}

std::vector<uint8_t> grid_code(const FeatureRecord& r) {
  std::vector<uint8_t> out(2 + 128 * 128);
  out.resize(static_cast<std::size_t>(CompressBO(&r, out.data())));
  return out;
}

void set_grid(FeatureRecord& r, const std::vector<std::vector<int>>& rows) {
  r.blockRows = static_cast<uint32_t>(rows.size());
  r.blockColumns = static_cast<uint32_t>(rows[0].size());
  for (std::size_t y = 0; y < rows.size(); ++y)
    for (std::size_t x = 0; x < rows[y].size(); ++x)
      r.blockDirections[y * 128 + x] = static_cast<uint8_t>(rows[y][x]);
}

TEST(NuvelCodec, WritesTheDocumentedByteLayout) {
  auto r = empty_record();
  r->borderDensity = 77;
  add_minutia(*r, 100, 50, 30, 1, 12);
  add_minutia(*r, 90, 70, 239, 3, 255);
  add_singular(*r, 95, 40, 200, -1);
  std::vector<uint8_t> expected = nuvel_header(3, 77, 90, 40, 2);
  put_le32(expected, nuvel_word(10, 10, 1, 30));
  expected.push_back(12);
  put_le32(expected, nuvel_word(0, 30, 3, 239));
  expected.push_back(255);
  expected.push_back(1);  // singular count
  put_le32(expected, nuvel_word(5, 0, 3, 200));
  EXPECT_EQ(compress(*r, {}), expected);
}

TEST(NuvelCodec, RoundTripKeepsEverythingButTheType) {
  auto r = empty_record();
  r->borderDensity = 201;
  std::mt19937 rng(7);
  for (int i = 0; i < 40; ++i)
    add_minutia(*r, int(rng() % 600) - 100, int(rng() % 700) - 50, int(rng() % 240), int(rng() % 2),
                int(rng() % 255));
  add_singular(*r, 150, 160, 17, 1);
  add_singular(*r, 250, 300, 230, -1);
  add_singular(*r, 10, 20, 5, 2);
  add_singular(*r, 11, 21, 6, 0);
  set_grid(*r, {{1, 2, 3, 255, 255, 255, 119}, {255, 255, 255, 255, 255, 255, 255}, {0, 0, 0, 0, 0, 0, 5}});

  NuvelWriterSettings all;
  all.blocks = true;
  const std::vector<uint8_t> t = compress(*r, all);
  auto back = empty_record();
  const int before_blocks = zyl::api::decompress_features(t, *back);
  EXPECT_EQ(before_blocks, 7 + 40 * 5 + 1 + 4 * 4);

  EXPECT_EQ(back->borderDensity, 201);
  ASSERT_EQ(back->minutiaCount, 40);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(back->minutiaX[i], r->minutiaX[i]);
    EXPECT_EQ(back->minutiaY[i], r->minutiaY[i]);
    EXPECT_EQ(back->minutiaAngle[i], r->minutiaAngle[i]);
    EXPECT_EQ(back->minutiaCurvature[i], r->minutiaCurvature[i]);
    EXPECT_EQ(back->minutiaType[i], 0);
  }
  ASSERT_EQ(back->singularCount, 4);
  const int kinds[] = {1, -1, 2, 0};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(back->singularX[i], r->singularX[i]);
    EXPECT_EQ(back->singularY[i], r->singularY[i]);
    EXPECT_EQ(back->singularAngle[i], r->singularAngle[i]);
    EXPECT_EQ(back->singularKind[i], kinds[i]);
  }
  EXPECT_EQ(back->blockColumns, 7u);
  EXPECT_EQ(back->blockRows, 3u);
  EXPECT_EQ(0, memcmp(back->blockDirections, r->blockDirections, sizeof r->blockDirections));
}

TEST(NuvelCodec, KeepsTheFirstSixtyMinutiaeThatFit) {
  auto r = empty_record();
  add_minutia(*r, 0, 0, 0);
  add_minutia(*r, 3000, 10, 0);  // offset above 2047 from the origin: skipped
  for (int i = 2; i < 75; ++i) add_minutia(*r, i, 2 * i, i);
  const std::vector<uint8_t> t = compress(*r, {});
  EXPECT_EQ(GetFeatureNum(t.data()), 60);
  EXPECT_EQ(t.size(), 7u + 60 * 4);
  auto back = empty_record();
  zyl::api::decompress_features(t, *back);
  EXPECT_EQ(back->minutiaX[1], 2);   // the skipped one left no gap
  EXPECT_EQ(back->minutiaX[59], 60);  // ... and the 61st of the record came in
}

TEST(NuvelCodec, LeavesOutCurvatureWhenEveryValueIs255) {
  auto r = empty_record();
  add_minutia(*r, 10, 10, 0, 0, 255);
  add_minutia(*r, 20, 10, 0, 0, 255);
  const std::vector<uint8_t> t = compress(*r, {});
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t.size(), 7u + 2 * 4);
  NuvelWriterSettings off;
  off.curvature = false;
  r->minutiaCurvature[0] = 9;
  EXPECT_EQ(compress(*r, off).size(), 7u + 2 * 4);
  EXPECT_EQ(compress(*r, {}).size(), 7u + 2 * 5);
}

TEST(NuvelCodec, OriginFollowsSingularPointsWithoutMinutiae) {
  auto r = empty_record();
  add_singular(*r, 300, 80, 0, 1);
  add_singular(*r, 120, 400, 0, -1);
  const std::vector<uint8_t> t = compress(*r, {});
  EXPECT_EQ(std::vector<uint8_t>(t.begin(), t.begin() + 7), nuvel_header(2, 0, 120, 80, 0));
}

TEST(NuvelCodec, SingularPointSettings) {
  auto r = empty_record();
  add_minutia(*r, 10, 10, 0);
  for (int i = 0; i < 7; ++i) add_singular(*r, 20 + i, 20, 0, i % 2 ? 1 : -1);
  NuvelWriterSettings only1;
  only1.kind1Only = true;
  NuvelWriterSettings none;
  none.singular = false;
  struct Case {
    NuvelWriterSettings settings;
    int count;  // -1: no singular section
  } cases[] = {{{}, 5}, {only1, 3}, {none, -1}};
  for (const Case& c : cases) {
    const std::vector<uint8_t> t = compress(*r, c.settings);
    if (c.count < 0) {
      EXPECT_EQ(t[0] & 2, 0);
      EXPECT_EQ(t.size(), 11u);
    } else {
      ASSERT_EQ(t.size(), 12u + 4 * c.count);
      EXPECT_EQ(t[11], c.count);
    }
  }
}

TEST(NuvelCodec, BlockGridCodes) {
  const int E = 255;
  struct Case {
    const char* name;
    std::vector<std::vector<int>> rows;
    std::vector<uint8_t> code;  // after the two size bytes
  } cases[] = {
      {"repeat after a literal", {{5, 5, 5, 5}}, {5, 0x82}},
      {"deltas in pairs", {{10, 12, 14, 16, 18}}, {10, 0xA1, 0xAA, 0xAA}},
      {"deltas wrap at 120", {{118, 119, 0, 1, 2}}, {118, 0xA1, 0x99, 0x99}},
      {"odd delta left as literal", {{10, 11, 12, 13, 14, 15, 60}}, {10, 0xA1, 0x99, 0x99, 15, 60}},
      {"one pair is not enough", {{10, 11, 12, 50}}, {10, 11, 12, 50}},
      {"empty row then a filled row", {{E, E, E}, {1, 1, 1}}, {0xC0, 1, 0x81}},
      {"three empty rows", {{E, E}, {E, E}, {E, E}, {7, 7}}, {0xE2, 7, 7}},
      {"empty rest of the grid", {{3, E, E}, {E, E, E}}, {3, 0xE0}},
      {"end of row", {{3, E, E}, {4, 4, 4}}, {3, 0xC0, 4, 0x81}},
      {"skip of two cells", {{3, E, E, 9}}, {3, 0xC1, 9}},
      {"one empty cell is a literal", {{3, E, 9}}, {3, 126, 9}},
      {"invalid values as literals", {{120, 121, 200, 4}}, {120, 127, 127, 4}},
      {"full grid ends without a code", {{1, 2}, {3, 4}}, {1, 2, 3, 4}},
  };
  for (const Case& c : cases) {
    auto r = empty_record();
    set_grid(*r, c.rows);
    std::vector<uint8_t> expected = {uint8_t(c.rows[0].size() - 1), uint8_t(c.rows.size() - 1)};
    expected.insert(expected.end(), c.code.begin(), c.code.end());
    EXPECT_EQ(grid_code(*r), expected) << c.name;
  }
}

TEST(NuvelCodec, LongRunsAndSkipsAreSplit) {
  auto r = empty_record();
  std::vector<int> row(128, 40);
  std::vector<int> gaps(128, 255);
  gaps[0] = 1;
  gaps[127] = 2;
  std::vector<std::vector<int>> rows = {row, gaps};
  for (int i = 0; i < 40; ++i) rows.push_back(std::vector<int>(128, 255));
  rows.push_back(row);
  set_grid(*r, rows);
  const std::vector<uint8_t> code = grid_code(*r);
  // Row 0: literal 40, then 127 repeats as 32 + 32 + 32 + 31.
  const std::vector<uint8_t> row0 = {40, 0x9F, 0x9F, 0x9F, 0x9E};
  // Row 1: 1, 126 empty cells as skips of 32, 32, 32, 30, then 2.
  const std::vector<uint8_t> row1 = {1, 0xDF, 0xDF, 0xDF, 0xDD, 2};
  std::vector<uint8_t> expected = {127, 42};
  for (auto* part : {&row0, &row1}) expected.insert(expected.end(), part->begin(), part->end());
  // Row 1 is filled to its last column: no end code. The 40 empty rows are
  // ended and skipped as 1 + 31 (E0|31) and 1 + 7 (E0|7).
  expected.push_back(0xFF);
  expected.push_back(0xE7);
  expected.insert(expected.end(), row0.begin(), row0.end());
  EXPECT_EQ(code, expected);

  auto back = empty_record();
  EXPECT_EQ(DecompressBO(code.data(), back.get()), int(code.size()));
  EXPECT_EQ(0, memcmp(back->blockDirections, r->blockDirections, sizeof r->blockDirections));
}

TEST(NuvelCodec, RandomGridsRoundTrip) {
  std::mt19937 rng(12345);
  for (int trial = 0; trial < 200; ++trial) {
    auto r = empty_record();
    r->blockColumns = 1 + rng() % 128;
    r->blockRows = 1 + rng() % 128;
    for (uint32_t y = 0; y < r->blockRows; ++y) {
      int v = int(rng() % 120);
      for (uint32_t x = 0; x < r->blockColumns; ++x) {
        switch (rng() % 8) {
          case 0: r->blockDirections[y * 128 + x] = 255; continue;
          case 1: v = int(rng() % 120); break;
          case 2: case 3: v = (v + int(rng() % 17) - 8 + 120) % 120; break;
          default: break;  // repeat
        }
        r->blockDirections[y * 128 + x] = uint8_t(v);
      }
      if (rng() % 5 == 0)
        memset(r->blockDirections + y * 128, 255, r->blockColumns);
    }
    const std::vector<uint8_t> code = grid_code(*r);
    auto back = empty_record();
    ASSERT_EQ(zyl::api::decompress_block_grid(code, *back), code.size());
    ASSERT_EQ(back->blockColumns, r->blockColumns);
    ASSERT_EQ(back->blockRows, r->blockRows);
    ASSERT_EQ(0, memcmp(back->blockDirections, r->blockDirections, sizeof r->blockDirections))
        << "trial " << trial;
  }
}

TEST(NuvelCodec, GridReaderStaysInsideTheGrid) {
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    uint32_t columns, rows;
    std::vector<uint8_t> row0;  // first cells of row 0
    std::size_t read;
  } cases[] = {
      {"repeat past the row end is cut", {2, 1, 7, 0x9F, 8, 8, 8}, 3, 2, {7, 7, 7}, 7},
      {"deltas past the row end are cut", {1, 0, 7, 0xA0, 0x99}, 2, 1, {7, 8}, 5},
      {"data ends mid-row", {3, 3, 9}, 4, 4, {9, 255, 255, 255}, 3},
      {"data ends mid-delta", {3, 0, 9, 0xA3, 0x99}, 4, 1, {9, 10, 11, 255}, 5},
      {"skip of rows past the last row", {1, 1, 0xFF, 0xFF}, 2, 2, {255, 255}, 3},
      {"only size bytes", {0, 0}, 1, 1, {255}, 2},
      {"no size bytes", {5}, 0, 0, {255}, 1},
  };
  for (const Case& c : cases) {
    auto r = empty_record();
    EXPECT_EQ(zyl::api::decompress_block_grid(c.data, *r), c.read) << c.name;
    EXPECT_EQ(r->blockColumns, c.columns) << c.name;
    EXPECT_EQ(r->blockRows, c.rows) << c.name;
    for (std::size_t i = 0; i < c.row0.size(); ++i) EXPECT_EQ(r->blockDirections[i], c.row0[i]) << c.name;
    if (c.rows > 1) {
      EXPECT_EQ(r->blockDirections[128], c.name[0] == 'r' ? 8 : 255) << c.name;
    }
  }
}

TEST(NuvelCodec, GridWiderThanTheRecordIsClamped) {
  // 256 x 2 blocks: every row a literal and a run of 255 repeats.
  std::vector<uint8_t> data = {255, 1};
  for (int row = 0; row < 2; ++row) {
    data.push_back(uint8_t(10 + row));
    for (int i = 0; i < 7; ++i) data.push_back(0x9F);
    data.push_back(0x9E);
  }
  auto r = empty_record();
  EXPECT_EQ(zyl::api::decompress_block_grid(data, *r), data.size());
  EXPECT_EQ(r->blockColumns, 128u);
  EXPECT_EQ(r->blockRows, 2u);
  EXPECT_EQ(r->blockDirections[127], 10);
  EXPECT_EQ(r->blockDirections[128], 11);  // row 1 begins where it should
  EXPECT_EQ(r->blockDirections[2 * 128], 255);
}

TEST(NuvelCodec, ReaderRefusesBadCountsAndTruncation) {
  std::vector<uint8_t> good = nuvel_header(2, 0, 0, 0, 1);
  put_le32(good, nuvel_word(1, 1, 0, 10));
  good.push_back(1);
  put_le32(good, nuvel_word(2, 2, 1, 0));

  auto too_many = nuvel_header(0, 0, 0, 0, 91);
  too_many.resize(7 + 91 * 4);
  auto ninety = nuvel_header(0, 0, 0, 0, 90);
  ninety.resize(7 + 90 * 4);
  auto six_singular = good;
  six_singular[11] = 6;
  six_singular.resize(12 + 6 * 4);

  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    int result;
  } cases[] = {
      {"good", good, 16},
      {"90 minutiae", ninety, 7 + 90 * 4},
      {"91 minutiae", too_many, ZYL_ERR_BAD_TEMPLATE},
      {"6 singular points", six_singular, ZYL_ERR_BAD_TEMPLATE},
      {"cut in the singular points", std::vector<uint8_t>(good.begin(), good.end() - 1), ZYL_ERR_BAD_TEMPLATE},
      {"cut in the minutiae", std::vector<uint8_t>(good.begin(), good.begin() + 9), ZYL_ERR_BAD_TEMPLATE},
      {"cut in the header", std::vector<uint8_t>(good.begin(), good.begin() + 6), ZYL_ERR_BAD_TEMPLATE},
      {"empty", {}, ZYL_ERR_BAD_TEMPLATE},
  };
  for (const Case& c : cases) {
    auto r = empty_record();
    r->minutiaCount = 33;
    r->singularCount = 3;
    EXPECT_EQ(zyl::api::decompress_features(c.data, *r), c.result) << c.name;
    if (c.result < 0) {
      EXPECT_EQ(r->minutiaCount, 0) << c.name;
      EXPECT_EQ(r->singularCount, 0) << c.name;
    }
  }
}

TEST(NuvelCodec, ReaderReducesAnglesIntoTheTurn) {
  std::vector<uint8_t> t = nuvel_header(2, 0, 0, 0, 3);
  for (uint32_t a : {239u, 240u, 255u}) put_le32(t, nuvel_word(1, 1, 0, a));
  t.push_back(1);
  put_le32(t, nuvel_word(0, 0, 1, 250));
  auto r = empty_record();
  ASSERT_GT(DecompressFeatures(t.data(), r.get()), 0);
  EXPECT_EQ(r->minutiaAngle[0], 239);
  EXPECT_EQ(r->minutiaAngle[1], 0);
  EXPECT_EQ(r->minutiaAngle[2], 15);
  EXPECT_EQ(r->singularAngle[0], 10);
}

TEST(NuvelCodec, ContextSettingsDecideTheSections) {
  auto r = empty_record();
  add_minutia(*r, 10, 10, 0, 0, 3);
  add_singular(*r, 12, 12, 0, 1);
  set_grid(*r, {{1, 2}});
  XWContext* ctx = XWCreateContext();
  ASSERT_NE(ctx, nullptr);
  std::vector<uint8_t> out(1024);
  EXPECT_EQ(CompressFeatures(r.get(), out.data(), ctx), 7 + 5 + 1 + 4);
  EXPECT_EQ(out[0], 3);
  ASSERT_EQ(XWSetAdditionalParameter(10025, 1, ctx), XW_OK);
  ASSERT_EQ(XWSetAdditionalParameter(10021, 0, ctx), XW_OK);
  EXPECT_EQ(CompressFeatures(r.get(), out.data(), ctx), 7 + 4 + 1 + 4 + 4);
  EXPECT_EQ(out[0], 6);
  XWFreeContext(ctx);
  // No context at all: the settings of a new context.
  EXPECT_EQ(CompressFeatures(r.get(), out.data(), nullptr), 7 + 5 + 1 + 4);
}

TEST(NuvelCodec, GridThatDoesNotFitTheBufferIsLeftOut) {
  auto r = empty_record();
  add_minutia(*r, 10, 10, 0);
  r->blockColumns = r->blockRows = 128;
  for (int i = 0; i < 128 * 128; ++i) r->blockDirections[i] = uint8_t((i * 37) % 120);
  NuvelWriterSettings s;
  s.blocks = true;
  const std::vector<uint8_t> t = compress(*r, s, 1024);
  EXPECT_EQ(t.size(), 11u);
  EXPECT_EQ(t[0], 0);
  EXPECT_GT(compress(*r, s).size(), 1024u);
}

TEST(NuvelCodec, FeatureNumAndFingerPoint) {
  const uint8_t t[7] = {0, 0, 0, 0, 0, 0x2C, 0x01};
  EXPECT_EQ(GetFeatureNum(t), 300);
  EXPECT_EQ(GetFeatureNum(nullptr), 0);
  EXPECT_EQ(GetFingerPoint(), 0);
  SetFingerPoint(42);
  EXPECT_EQ(GetFingerPoint(), 42);
  SetFingerPoint(0);
}

}  // namespace

namespace {

// The grid of a record decoded from a template: a block section sets every
// cell (the rest 255) whatever the record held; without one the grid is
// 0 x 0 and all 255, or keeps its old bytes when the caller asks; a refused
// template leaves the same grid as one without a section.
TEST(NuvelCodec, GridOfADecodedRecordWithAndWithoutABlockSection) {
  using zyl::api::AbsentGrid;
  auto r = empty_record();
  add_minutia(*r, 100, 50, 30, 1, 12);
  set_grid(*r, {{1, 2, 255}, {4, 5, 6}});
  NuvelWriterSettings with_blocks;
  with_blocks.blocks = true;
  const std::vector<uint8_t> blocks = compress(*r, with_blocks);
  const std::vector<uint8_t> plain = compress(*r, {});
  std::vector<uint8_t> refused = plain;
  refused.resize(9);  // the header declares one minutia; its word is cut short

  const auto all_255 = [](const FeatureRecord& f) {
    return std::all_of(std::begin(f.blockDirections), std::end(f.blockDirections), [](uint8_t v) { return v == 255; });
  };
  for (const AbsentGrid absent : {AbsentGrid::Clear, AbsentGrid::Leave}) {
    auto back = empty_record();
    std::fill(std::begin(back->blockDirections), std::end(back->blockDirections), 7);
    ASSERT_GT(zyl::api::decompress_features(blocks, *back, absent), 0);
    EXPECT_EQ(back->blockColumns, 3u);
    EXPECT_EQ(back->blockRows, 2u);
    EXPECT_EQ(0, memcmp(back->blockDirections, r->blockDirections, sizeof r->blockDirections));

    const std::vector<uint8_t>* without[] = {&plain, &refused};
    for (const std::vector<uint8_t>* t : without) {
      std::fill(std::begin(back->blockDirections), std::end(back->blockDirections), 7);
      zyl::api::decompress_features(*t, *back, absent);
      EXPECT_EQ(back->blockColumns, 0u);
      EXPECT_EQ(back->blockRows, 0u);
      if (absent == AbsentGrid::Clear)
        EXPECT_TRUE(all_255(*back));
      else
        EXPECT_TRUE(std::all_of(std::begin(back->blockDirections), std::end(back->blockDirections),
                                [](uint8_t v) { return v == 7; }));
    }
  }
  auto back = empty_record();
  EXPECT_EQ(zyl::api::decompress_features(refused, *back), zyl::api::kBadTemplate);
}

}  // namespace
