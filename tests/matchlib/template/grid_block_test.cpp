// Grid feature block: exact stored layout, the quantisation of value planes,
// what a parse gives back, and refusal of corrupt or unstorable input.
#include <gtest/gtest.h>

#include <bitset>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "zylscan/matchlib_gridblock.h"
#include "zylscan/matchlib_object.h"

namespace {

using Bytes = std::vector<uint8_t>;
using BlockPtr = std::unique_ptr<GridFeatureBlock, decltype(&gridblock_free)>;

BlockPtr make_block(uint8_t rows, uint8_t columns, uint16_t resolution = 500) {
  return BlockPtr(gridblock_create(rows, columns, resolution, 7, 9), &gridblock_free);
}

GridCell& cell(GridFeatureBlock* b, int r, int c) { return b->cells[r * b->columns + c]; }

struct Stored {
  Bytes filled;       // every byte the writer filled
  uint16_t reported;  // the length it reports
};

Stored store(const GridFeatureBlock* b, const GridBlockSettings* s = nullptr) {
  uint8_t* out = nullptr;
  uint16_t length = 0;
  EXPECT_EQ(gridblock_serialize(b, &out, &length, s), ML_OK);
  if (!out) return {};
  Stored st{Bytes(out, out + length + 2), length};
  std::free(out);
  return st;
}

BlockPtr parse(const Bytes& in, uint32_t length) {
  GridFeatureBlock* b = nullptr;
  EXPECT_EQ(gridblock_parse(in.data(), length, &b), ML_OK);
  return BlockPtr(b, &gridblock_free);
}

// An MSB-first bit string ("0101...") packed into bytes, zero-filled.
Bytes pack_bits(const std::string& bits) {
  Bytes out((bits.size() + 7) / 8, 0);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  return out;
}

std::string bits_of(unsigned v, int n) { return std::bitset<32>(v).to_string().substr(32 - n); }

GridBlockSettings uniform_settings(uint8_t width, uint8_t edge) {
  GridBlockSettings s;
  for (auto& p : s.planes) p = {width, edge};
  return s;
}

TEST(GridBlock, CreateGivesZeroedBlockWithItsHead) {
  auto b = make_block(3, 4, 508);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->magic, 0x5BDB);
  EXPECT_EQ(b->version, 2);
  EXPECT_EQ(b->value_count, 6);
  EXPECT_EQ(b->resolution, 508);
  EXPECT_EQ(b->origin_y, 7);
  EXPECT_EQ(b->origin_x, 9);
  EXPECT_EQ(b->cell_size, 0);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(b->cells[i].valid, 0);
    for (uint8_t v : b->cells[i].values) EXPECT_EQ(v, 0);
  }
  gridblock_free(nullptr);
}

TEST(GridBlock, OneValidCellLayoutIsExact) {
  auto b = make_block(1, 1, 0x01F4);
  b->cell_size = 8;
  const uint8_t values[6] = {10, 20, 30, 40, 50, 60};
  for (int k = 0; k < 6; ++k) b->cells[0].values[k] = values[k];
  b->cells[0].valid = 1;
  const Stored st = store(b.get());

  std::string bits = "1";  // valid plane
  for (int k = 0; k < 6; ++k)
    bits += "0001" + bits_of(gridblock_default_settings()->planes[k].block_size, 3) +
            bits_of(values[k], 8) + bits_of(values[k], 8) + "0";
  bits += std::string(32, '0');
  Bytes expected = {0x5B, 0xDB, 2, 8, 1, 1, 9, 7, 6, 0x01, 0xF4};
  const Bytes stream = pack_bits(bits);
  expected.insert(expected.end(), stream.begin(), stream.end());
  EXPECT_EQ(st.filled, expected);
  EXPECT_EQ(st.reported, expected.size() - 2);

  auto back = parse(st.filled, st.reported);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(back->cells[0].values[k], values[k]) << k;
  EXPECT_EQ(back->cells[0].valid, 1);
  EXPECT_EQ(back->resolution, 0x01F4);
}

TEST(GridBlock, GridWithoutValidCellsWritesEmptyPlanesAndReadsZeros) {
  auto b = make_block(2, 3);
  for (int i = 0; i < 6; ++i) b->cells[i].values[0] = 99;  // invalid cells do not count
  const Stored st = store(b.get());
  std::string bits = "000000";
  for (int k = 0; k < 6; ++k) bits += "0001" + bits_of(gridblock_default_settings()->planes[k].block_size, 3) +
                                      "00000000" "11111111";
  bits += std::string(32, '0');
  const Bytes stream = pack_bits(bits);
  EXPECT_EQ(Bytes(st.filled.begin() + 11, st.filled.end()), stream);

  auto back = parse(st.filled, st.reported);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(back->cells[i].valid, 0);
    for (uint8_t v : back->cells[i].values) EXPECT_EQ(v, 0);
  }
}

TEST(GridBlock, PlaneOfEqualMeansCodesZeroAndReadsTheValueInValidBlocks) {
  auto b = make_block(2, 2);
  for (int i = 0; i < 4; ++i) b->cells[i].values[1] = 77;
  cell(b.get(), 0, 0).valid = 1;
  cell(b.get(), 1, 1).valid = 1;
  const GridBlockSettings s = uniform_settings(8, 1);
  const Stored st = store(b.get(), &s);
  // Valid plane 1001, plane 0 (all zero means: lo = hi = 0) then plane 1.
  const std::string head = "1001" "0001" "001" "00000000" "00000000" "0" "0" "0001" "001" +
                           bits_of(77, 8) + bits_of(77, 8) + "0" "0";
  const Bytes stream = pack_bits(head);
  EXPECT_EQ(Bytes(st.filled.begin() + 11, st.filled.begin() + 11 + stream.size() - 1),
            Bytes(stream.begin(), stream.end() - 1));
  auto back = parse(st.filled, st.reported);
  EXPECT_EQ(cell(back.get(), 0, 0).values[1], 77);
  EXPECT_EQ(cell(back.get(), 1, 1).values[1], 77);
  EXPECT_EQ(cell(back.get(), 0, 1).values[1], 0);  // its block has no valid cell
}

TEST(GridBlock, FullRangeAtWidthFourMapsEndsExactly) {
  auto b = make_block(1, 3);
  const uint8_t v[3] = {0, 255, 128};
  for (int c = 0; c < 3; ++c) {
    cell(b.get(), 0, c).values[4] = v[c];
    cell(b.get(), 0, c).valid = 1;
  }
  // The extraction settings average plane 4 over blocks of 3: one mean (128).
  const Stored st = store(b.get(), nullptr);
  auto back = parse(st.filled, st.reported);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(cell(back.get(), 0, c).values[4], 128);

  const GridBlockSettings s = uniform_settings(4, 1);
  const Stored st1 = store(b.get(), &s);
  auto back1 = parse(st1.filled, st1.reported);
  EXPECT_EQ(cell(back1.get(), 0, 0).values[4], 0);
  EXPECT_EQ(cell(back1.get(), 0, 1).values[4], 255);
  // 128 codes as (127 + 128 * 15) / 255 = 8 and reads as (7 + 8 * 255) / 15 = 136.
  EXPECT_EQ(cell(back1.get(), 0, 2).values[4], 136);
}

TEST(GridBlock, BlockMeansRoundHalvesUp) {
  struct Case {
    std::vector<uint8_t> values;  // of the valid cells in one 3 x 3 block
    uint8_t mean;
  };
  const Case cases[] = {
      {{1, 2}, 2},          // 3/2 = 1.5 goes up
      {{1, 2, 2}, 2},       // 5/3
      {{0, 0, 1}, 0},       // 1/3
      {{10, 11, 11, 11}, 11},
      {{255, 255, 255, 255, 255, 255, 255, 255, 255}, 255},
  };
  const GridBlockSettings s = uniform_settings(8, 3);
  for (const Case& c : cases) {
    auto b = make_block(3, 3);
    for (size_t i = 0; i < c.values.size(); ++i) {
      b->cells[i].values[2] = c.values[i];
      b->cells[i].valid = 1;
    }
    const Stored st = store(b.get(), &s);
    auto back = parse(st.filled, st.reported);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(back->cells[i].values[2], c.mean) << i;  // invalid cells too
  }
}

TEST(GridBlock, VersionOneStreamHasNoResolution) {
  auto b = make_block(1, 2);
  cell(b.get(), 0, 1).valid = 1;
  cell(b.get(), 0, 1).values[0] = 200;
  const Stored st = store(b.get());
  Bytes v1(st.filled.begin(), st.filled.begin() + 9);
  v1[2] = 1;
  v1.insert(v1.end(), st.filled.begin() + 11, st.filled.end());
  auto back = parse(v1, v1.size());
  EXPECT_EQ(back->version, 1);
  EXPECT_EQ(back->resolution, 0);
  EXPECT_EQ(cell(back.get(), 0, 1).valid, 1);
  EXPECT_EQ(cell(back.get(), 0, 1).values[0], 200);
}

TEST(GridBlock, RoundTripKeepsHeadFlagsAndExactValuesAtBlockSizeOne) {
  std::mt19937 rng(12);
  const GridBlockSettings s = uniform_settings(8, 1);
  for (int trial = 0; trial < 20; ++trial) {
    auto b = make_block(static_cast<uint8_t>(1 + rng() % 20), static_cast<uint8_t>(1 + rng() % 20),
                        static_cast<uint16_t>(rng()));
    b->cell_size = static_cast<uint8_t>(rng());
    const int n = b->rows * b->columns;
    for (int i = 0; i < n; ++i) {
      b->cells[i].valid = rng() % 3 != 0;
      // Values 0..254 keep the range below 255 away from a power of two in
      // practice; a range of exactly 2^n would lose values by design.
      for (auto& v : b->cells[i].values) v = static_cast<uint8_t>(3 + rng() % 250);
    }
    b->cells[0].values[0] = 1;  // range at least 250: needs all 8 bits
    b->cells[0].valid = 1;
    const Stored st = store(b.get(), &s);
    auto back = parse(st.filled, st.reported);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->rows, b->rows);
    EXPECT_EQ(back->columns, b->columns);
    EXPECT_EQ(back->cell_size, b->cell_size);
    EXPECT_EQ(back->origin_x, b->origin_x);
    EXPECT_EQ(back->origin_y, b->origin_y);
    EXPECT_EQ(back->resolution, b->resolution);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(back->cells[i].valid, b->cells[i].valid) << i;
      if (!b->cells[i].valid) continue;
      // Planes whose range is a power of two lose values; check plane 0 only,
      // whose range (>= 250, < 256 via the fixed minimum) is not.
      EXPECT_EQ(back->cells[i].values[0], b->cells[i].values[0]) << i;
    }
  }
}

TEST(GridBlock, RefusesBadArgumentsAndSettings) {
  auto b = make_block(2, 2);
  uint8_t* out = nullptr;
  uint16_t len = 0;
  EXPECT_EQ(gridblock_serialize(nullptr, &out, &len, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(gridblock_serialize(b.get(), nullptr, &len, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(gridblock_serialize(b.get(), &out, nullptr, nullptr), ML_BAD_ARGUMENT);
  struct Case {
    uint8_t width, edge;
  };
  for (const Case c : {Case{0, 1}, Case{9, 1}, Case{4, 0}, Case{4, 8}}) {
    GridBlockSettings s = uniform_settings(8, 1);
    s.planes[3] = {c.width, c.edge};
    EXPECT_EQ(gridblock_serialize(b.get(), &out, &len, &s), ML_BAD_ARGUMENT);
  }
  EXPECT_EQ(out, nullptr);
  GridFeatureBlock* parsed = nullptr;
  EXPECT_EQ(gridblock_parse(nullptr, 4, &parsed), ML_BAD_ARGUMENT);
}

TEST(GridBlock, RefusesGridTooLargeForItsLength) {
  auto b = make_block(128, 128);
  std::mt19937 rng(5);
  for (int i = 0; i < 128 * 128; ++i) {
    b->cells[i].valid = 1;
    for (auto& v : b->cells[i].values) v = static_cast<uint8_t>(rng());
  }
  const GridBlockSettings s = uniform_settings(8, 1);
  uint8_t* out = nullptr;
  uint16_t len = 0;
  EXPECT_EQ(gridblock_serialize(b.get(), &out, &len, &s), ML_WRONG_KIND);
  EXPECT_EQ(out, nullptr);
  // The extraction settings average the later planes and still fit.
  auto small = make_block(60, 60);
  for (int i = 0; i < 3600; ++i) small->cells[i].valid = 1;
  EXPECT_GT(store(small.get()).reported, 0);
}

TEST(GridBlock, ParseRefusesWrongMagicShortHeadAndImpossiblePlaneHeads) {
  auto b = make_block(2, 2);
  b->cells[0].valid = 1;
  const Stored st = store(b.get());
  GridFeatureBlock* out = nullptr;

  Bytes bad = st.filled;
  bad[1] = 0xDC;
  EXPECT_EQ(gridblock_parse(bad.data(), bad.size(), &out), ML_CORRUPT);
  EXPECT_EQ(gridblock_parse(st.filled.data(), 10, &out), ML_CORRUPT);  // version 2 needs 11

  // The first plane head starts after the 4 valid bits: width 9, then block size 0.
  auto with_plane_head = [&](const std::string& head_bits) {
    Bytes in(st.filled.begin(), st.filled.begin() + 11);
    const Bytes stream = pack_bits("1000" + head_bits + std::string(200, '0'));
    in.insert(in.end(), stream.begin(), stream.end());
    return in;
  };
  for (const std::string& head : {std::string("1001" "001" "00000000" "00000001"),
                                  std::string("0100" "000" "00000000" "00000001"),
                                  std::string("0000" "001" "00000000" "00000001")}) {
    const Bytes in = with_plane_head(head);
    EXPECT_EQ(gridblock_parse(in.data(), in.size(), &out), ML_CORRUPT) << head;
  }
  EXPECT_EQ(out, nullptr);
  // Width 0 with lo = hi is well defined: the value itself.
  std::string heads = "0000" "001" "00101010" "00101010";
  for (int k = 1; k < 6; ++k) heads += "0000" "001" + std::string(16, '0');
  const Bytes ok = with_plane_head(heads);
  auto back = parse(ok, ok.size());
  EXPECT_EQ(back->cells[0].values[0], 42);
}

TEST(GridBlock, TruncatedStreamReadsMissingBitsAsZero) {
  auto b = make_block(4, 4);
  for (int i = 0; i < 16; ++i) {
    b->cells[i].valid = 1;
    for (auto& v : b->cells[i].values) v = static_cast<uint8_t>(i * 16);
  }
  const Stored st = store(b.get());
  const auto full = parse(st.filled, st.reported);
  // The reported length already drops two bytes of the trailer; dropping the
  // whole trailer keeps every value.
  auto cut = parse(st.filled, st.reported - 2);
  for (int i = 0; i < 16; ++i)
    for (int k = 0; k < 6; ++k) EXPECT_EQ(cut->cells[i].values[k], full->cells[i].values[k]);
  // Only the head: the plane heads read as zeros, block size 0, corrupt.
  GridFeatureBlock* out = nullptr;
  EXPECT_EQ(gridblock_parse(st.filled.data(), 11, &out), ML_CORRUPT);
  EXPECT_EQ(out, nullptr);
}

}  // namespace
