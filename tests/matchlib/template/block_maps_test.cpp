// C1 block maps and their expansion into grid feature maps, the detail
// layer's difference code, packed images and the image-information element.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "matchlib/template/block_maps.h"
#include "zylscan/matchlib_card_extended.h"
#include "zylscan/matchlib_object.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zyl::matchlib::BlockMaps;
using zyl::matchlib::encode_block_maps;

struct Expanded {
  int status = -1;
  Bytes map;
  int vo = 0, ho = 0, rows = 0, columns = 0;
};

Expanded expand(const Bytes& c1, bool skip_detail = false, const uint8_t* trailing_byte = nullptr,
                const uint8_t* trailing4 = nullptr) {
  Expanded e;
  uint8_t* map = nullptr;
  uint32_t size = 0;
  e.status = gridmap_from_compact(c1.data(), c1.size(), &map, &size, &e.vo, &e.ho, &e.rows, &e.columns,
                                  skip_detail, trailing_byte, trailing4);
  if (map) {
    e.map.assign(map, map + size);
    std::free(map);
  }
  return e;
}

// A C1 value in short form: cell-size byte, origins, dimensions, cells.
Bytes short_form(uint8_t cell, uint8_t vo, uint8_t rows, uint8_t ho, uint8_t columns,
                 const Bytes& cells) {
  Bytes c1 = {cell, vo, rows, ho, columns};
  c1.insert(c1.end(), cells.begin(), cells.end());
  return c1;
}

TEST(BlockMaps, ShortFormExpandsToMapAt500Dpi) {
  const Bytes cells = {10, 20, 11, 21, 12, 22, 13, 23, 14, 24, 15, 25};
  const Expanded e = expand(short_form(8, 0xFE, 2, 3, 3, cells));
  ASSERT_EQ(e.status, ML_OK);
  Bytes expected = {0x5B, 0xDA, 0x02, 0x08, 0x01, 0xF4, 3, 2, 0, 0};
  expected.insert(expected.end(), cells.begin(), cells.end());
  EXPECT_EQ(e.map, expected);
  EXPECT_EQ(e.vo, -2);
  EXPECT_EQ(e.ho, 3);
  EXPECT_EQ(e.rows, 2);
  EXPECT_EQ(e.columns, 3);
}

TEST(BlockMaps, CellSizeKeepsItsWholeByte) {
  const uint8_t ori[] = {10, 11}, fre[] = {20, 21};
  for (uint8_t cell : {8, 16, 24, 255}) {
    // Written by the encoder, read back by the expansion.
    const Bytes c1 = encode_block_maps({cell, 0, 0, 1, 2, ori, fre, {}, {}});
    ASSERT_FALSE(c1.empty());
    EXPECT_EQ(c1[0], cell);
    const Expanded e = expand(c1);
    ASSERT_EQ(e.status, ML_OK);
    EXPECT_EQ(e.map[3], cell);
  }
}

TEST(BlockMaps, ThreeByteCellsGiveTheirFirstTwoBytes) {
  const Expanded e = expand(short_form(8, 0, 1, 0, 2, {1, 2, 99, 3, 4, 99}));
  ASSERT_EQ(e.status, ML_OK);
  EXPECT_EQ(Bytes(e.map.begin() + 10, e.map.end()), (Bytes{1, 2, 3, 4}));
}

TEST(BlockMaps, NullMapOnlyValidatesAndReports) {
  const Bytes c1 = short_form(8, 5, 1, 250, 1, {7, 8});
  uint32_t size = 0;
  int vo, ho, rows, columns;
  EXPECT_EQ(gridmap_from_compact(c1.data(), c1.size(), nullptr, &size, &vo, &ho, &rows, &columns, 0,
                                 nullptr, nullptr),
            ML_OK);
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(vo, 5);
  EXPECT_EQ(ho, -6);
}

TEST(BlockMaps, MalformedElementsGiveTheirCodes) {
  struct Case {
    const char* what;
    Bytes c1;
    int status;
  };
  const Case cases[] = {
      {"under four bytes", {8, 0, 1}, ML_WRONG_KIND},
      {"base under five bytes", {8, 0, 0, 0}, ML_WRONG_KIND},
      {"short form of odd size", short_form(8, 0, 1, 0, 2, {1, 2, 3}), ML_WRONG_KIND},
      {"cells missing", short_form(8, 0, 4, 0, 4, {1, 2}), ML_WRONG_KIND},
      {"long form, second byte set", {0, 1, 0, 5, 8, 0, 0, 0, 0}, GRIDMAP_COMPACT_BAD_LONG_FORM},
      {"long form, base beyond input", {0, 0, 0, 9, 8, 0, 0, 0, 0}, GRIDMAP_COMPACT_BASE_PAST_END},
      {"long form, base of wrong size", {0, 0, 0, 6, 8, 0, 1, 0, 1, 7}, ML_WRONG_KIND},
      {"detail layer beyond input", {0, 0, 0, 5, 8, 0, 0, 0, 0, 2, 0, 9, 1}, GRIDMAP_COMPACT_DETAIL_PAST_END},
  };
  for (const Case& c : cases) {
    const Expanded e = expand(c.c1);
    EXPECT_EQ(e.status, c.status) << c.what;
    EXPECT_TRUE(e.map.empty()) << c.what;
  }
}

TEST(BlockMaps, LongFormIgnoresUnknownLayersAndHonoursSkipDetail) {
  // Base of one cell, then a type-1 layer of the right length (18 bytes).
  Bytes c1 = {0, 0, 0, 7, 8, 0, 1, 0, 1, 40, 50, 1, 0, 18};
  for (int i = 0; i < 18; ++i) c1.push_back(static_cast<uint8_t>(100 + i));
  Expanded e = expand(c1);
  ASSERT_EQ(e.status, ML_OK);
  ASSERT_EQ(e.map.size(), 10u + 2 + 18);
  for (int i = 0; i < 18; ++i) EXPECT_EQ(e.map[12 + i], 100 + i);
  EXPECT_EQ(expand(c1, true).map.size(), 12u);
  c1[11] = 3;  // unknown layer type: no detail
  EXPECT_EQ(expand(c1).map.size(), 12u);
  c1[11] = 1;
  c1[13] = 17;  // type 1 of the wrong length: ignored (the layer still fits)
  EXPECT_EQ(expand(c1).map.size(), 12u);
}

TEST(BlockMaps, TrailingBytesFollowTheCells) {
  const uint8_t one = 0xAB;
  const uint8_t four[4] = {1, 2, 3, 4};
  const Expanded e = expand(short_form(8, 0, 1, 0, 1, {7, 8}), false, &one, four);
  ASSERT_EQ(e.status, ML_OK);
  EXPECT_EQ(Bytes(e.map.begin() + 10, e.map.end()), (Bytes{7, 8, 1, 2, 3, 4, 0xAB}));
}

TEST(BlockMaps, DifferenceCodeKnownAnswers) {
  // 01 11 00 -> +1, -1, 0; 101 100 -> +2, -2.
  uint8_t values[5];
  uint32_t count = 0;
  const Bytes code = {0x70};
  ASSERT_EQ(diffcode_unpack(code.data(), code.size(), 3, values, &count), ML_OK);
  EXPECT_EQ(Bytes(values, values + 3), (Bytes{1, 255, 0}));
  const int8_t in[] = {1, -1, 0, 2, -2};
  uint8_t packed[4] = {};
  uint32_t n = 0;
  ASSERT_EQ(diffcode_pack(in, 5, 4, packed, &n), ML_OK);
  // 01 11 00 101 100 + five fill bits
  EXPECT_EQ(Bytes(packed, packed + n), (Bytes{0x72, 0xC0}));
  ASSERT_EQ(diffcode_unpack(packed, n, 5, values, &count), ML_OK);
  EXPECT_EQ(Bytes(values, values + 5), (Bytes{1, 255, 0, 2, 254}));

  EXPECT_EQ(diffcode_unpack(packed, 1, 5, values, &count), ML_CORRUPT);  // runs out
  EXPECT_EQ(diffcode_pack(in, 5, 1, packed, &n), ML_WRONG_KIND);
  const int8_t bad[] = {3};
  EXPECT_EQ(diffcode_pack(bad, 1, 4, packed, &n), ML_BAD_ARGUMENT);
}

TEST(BlockMaps, DetailDifferencesQuantise) {
  struct Case {
    int d, q;
  };
  const Case cases[] = {{0, 0}, {1, 0}, {2, 1}, {-2, -1}, {5, 1}, {6, 2}, {7, 2}, {-7, -2}, {-100, -2}};
  for (const Case& c : cases) EXPECT_EQ(zyl::matchlib::quantise_detail_difference(50 + c.d, 50), c.q) << c.d;
}

TEST(BlockMaps, CodedDetailLayerDecodesToBasePlusFourSteps) {
  std::mt19937 rng(3);
  const uint8_t rows = 3, columns = 4;
  const int n = rows * columns;
  Bytes ori(n), fre(n), dori(9 * n), dfre(9 * n);
  for (int i = 0; i < n; ++i) {
    ori[i] = static_cast<uint8_t>(20 + rng() % 200);
    fre[i] = static_cast<uint8_t>(20 + rng() % 200);
  }
  const int dc = 3 * columns;
  for (int r = 0; r < 3 * rows; ++r)
    for (int c = 0; c < dc; ++c) {
      const int base = (r / 3) * columns + c / 3;
      dori[r * dc + c] = static_cast<uint8_t>(ori[base] + static_cast<int>(rng() % 19) - 9);
      dfre[r * dc + c] = static_cast<uint8_t>(fre[base] + static_cast<int>(rng() % 19) - 9);
    }
  BlockMaps maps{8, -3, 4, rows, columns, ori, fre, dori, dfre};
  const Bytes c1 = encode_block_maps(maps);
  ASSERT_FALSE(c1.empty());
  EXPECT_EQ(Bytes(c1.begin(), c1.begin() + 4), (Bytes{0, 0, 0, static_cast<uint8_t>(2 * n + 5)}));
  const Expanded e = expand(c1);
  ASSERT_EQ(e.status, ML_OK);
  ASSERT_EQ(e.map.size(), 10u + 2 * n + 18 * n);
  EXPECT_EQ(e.vo, -3);
  EXPECT_EQ(e.ho, 4);
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(e.map[10 + 2 * i], ori[i]);
    EXPECT_EQ(e.map[11 + 2 * i], fre[i]);
  }
  const uint8_t* detail = e.map.data() + 10 + 2 * n;
  for (int r = 0; r < 3 * rows; ++r)
    for (int c = 0; c < dc; ++c) {
      const int base = (r / 3) * columns + c / 3;
      const bool centre = r % 3 == 1 && c % 3 == 1;
      const Bytes& bp = ori;
      for (int plane = 0; plane < 2; ++plane) {
        const Bytes& b = plane ? fre : bp;
        const Bytes& d = plane ? dfre : dori;
        const int want = centre ? b[base]
                                : static_cast<uint8_t>(b[base] + 4 * zyl::matchlib::quantise_detail_difference(
                                                                        d[r * dc + c], b[base]));
        EXPECT_EQ(detail[2 * (r * dc + c) + plane], want) << r << "," << c << " plane " << plane;
      }
    }
}

TEST(BlockMaps, ShortDifferenceStreamLeavesDetailAtBase) {
  // One cell, type-2 layer whose streams are empty: every detail cell = base.
  const Bytes c1 = {0, 0, 0, 7, 8, 0, 1, 0, 1, 40, 50, 2, 0, 4, 0, 0, 0, 0};
  const Expanded e = expand(c1);
  ASSERT_EQ(e.status, ML_OK);
  ASSERT_EQ(e.map.size(), 30u);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(e.map[12 + 2 * i], 40);
    EXPECT_EQ(e.map[13 + 2 * i], 50);
  }
  // A stream length beyond the layer is cut at the layer: +2 for the first
  // difference only.
  const Bytes c2 = {0, 0, 0, 7, 8, 0, 1, 0, 1, 40, 50, 2, 0, 3, 0, 99, 0xA0};
  const Expanded e2 = expand(c2);
  ASSERT_EQ(e2.status, ML_OK);
  EXPECT_EQ(e2.map[12], 48);
  EXPECT_EQ(e2.map[14], 40);
}

TEST(BlockMaps, EncoderRefusesInconsistentMaps) {
  const Bytes two(2), one(1), nine(9);
  EXPECT_TRUE(encode_block_maps({8, 0, 0, 1, 2, two, one, {}, {}}).empty());
  EXPECT_TRUE(encode_block_maps({8, 0, 0, 1, 1, one, one, nine, {}}).empty());
  EXPECT_EQ(encode_block_maps({8, 0, 0, 1, 1, one, one, {}, {}}).size(), 7u);
}

TEST(GridMapExtent, ScalesCellsTo500Dpi) {
  struct Case {
    Bytes map;
    int status, width, height;
  };
  const Case cases[] = {
      {{0x5B, 0xDA, 2, 8, 0x00, 0xFA, 20, 10, 0, 0}, ML_OK, 320, 160},
      {{0x5B, 0xDA, 2, 8, 0x01, 0xF4, 20, 10, 0, 0}, ML_OK, 160, 80},
      {{0x5B, 0xDA, 2, 7, 0x01, 0xFC, 3, 3, 0, 0}, ML_OK, 21, 21},  // 21 x 500 / 508 rounds to 21
      {{0x5B, 0xDA, 2, 8, 0, 0, 20, 10, 0, 0}, ML_OK, 192, 192},
      {{0x5B, 0xDA, 2, 8, 0, 0, 20, 10, 0}, ML_UNAVAILABLE, -1, -1},
      {{0x5B, 0xDB, 2, 8, 0, 0xFA, 20, 10, 0, 0}, ML_WRONG_KIND, -1, -1},
  };
  for (const Case& c : cases) {
    int w = -1, h = -1;
    EXPECT_EQ(gridmap_extent_500(c.map.data(), c.map.size(), &w, &h), c.status);
    EXPECT_EQ(w, c.width);
    EXPECT_EQ(h, c.height);
  }
}

TEST(PackedImage, LayoutIsExactAndReadsBack) {
  const Bytes px = {1, 2, 3, 4, 5, 6};
  uint8_t* rec = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(packed_image_write(px.data(), 2, 3, 500, 508, 0x5A, &rec, &size), ML_OK);
  const Bytes record(rec, rec + size);
  std::free(rec);
  const Bytes expected = {'K', 'W', 'I', 'M', 0, 1, 0, 2, 0, 3, 0x01, 0xFC, 0x01, 0xF4, 0x5A, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(record, expected);

  const uint8_t* pixels = nullptr;
  uint16_t rows, columns, hdpi, vdpi;
  uint8_t flag;
  ASSERT_EQ(packed_image_read(record.data(), record.size(), &pixels, &rows, &columns, &hdpi, &vdpi, &flag),
            ML_OK);
  EXPECT_EQ(pixels, record.data() + 15);
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(columns, 3);
  EXPECT_EQ(hdpi, 500);
  EXPECT_EQ(vdpi, 508);
  EXPECT_EQ(flag, 0x5A);
}

TEST(PackedImage, RefusesWrongLengthMagicOrVersion) {
  Bytes base = {'K', 'W', 'I', 'M', 0, 1, 0, 1, 0, 2, 0, 0, 0, 0, 0, 9, 9};
  struct Case {
    const char* what;
    int at;  // byte to change, or -1 to append one byte, -2 to drop one
    uint8_t value;
  };
  const Case cases[] = {{"one byte long", -1, 0}, {"one byte short", -2, 0}, {"magic", 3, 'N'},
                        {"version", 5, 2}};
  for (const Case& c : cases) {
    Bytes r = base;
    if (c.at == -1) r.push_back(0);
    else if (c.at == -2) r.pop_back();
    else r[c.at] = c.value;
    const uint8_t* pixels = nullptr;
    uint16_t rows = 77, columns, hdpi, vdpi;
    uint8_t flag;
    EXPECT_EQ(packed_image_read(r.data(), r.size(), &pixels, &rows, &columns, &hdpi, &vdpi, &flag),
              ML_UNAVAILABLE)
        << c.what;
    EXPECT_EQ(rows, 77) << c.what;
  }
  const uint8_t* pixels = nullptr;
  uint16_t rows, columns, hdpi, vdpi;
  uint8_t flag;
  EXPECT_EQ(packed_image_read(base.data(), 14, &pixels, &rows, &columns, &hdpi, &vdpi, &flag), ML_UNAVAILABLE);
}

TEST(ImageInfo, ReadsLittleEndianDimensionsAndOptionalFlag) {
  struct Case {
    Bytes value;
    int status;
    uint16_t rows, columns;
    uint8_t flag;
  };
  const Case cases[] = {
      {{1, 0x80, 0x01, 0x2C, 0x01, 7}, ML_OK, 384, 300, 7},
      {{1, 0x80, 0x01, 0x2C, 0x01}, ML_OK, 384, 300, 0},
      {{2, 0x80, 0x01, 0x2C, 0x01, 7}, ML_UNAVAILABLE, 0, 0, 0},
      {{1, 0x80, 0x01, 0x2C}, ML_UNAVAILABLE, 0, 0, 0},
  };
  for (const Case& c : cases) {
    uint16_t rows = 9, columns = 9;
    uint8_t flag = 9;
    EXPECT_EQ(card_parse_image_info(c.value.data(), c.value.size(), &rows, &columns, &flag), c.status);
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(columns, c.columns);
    EXPECT_EQ(flag, c.flag);
  }
}

}  // namespace
