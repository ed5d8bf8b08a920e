#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "typeline/template_codec.h"
#include "zylscan/typeline_template.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::unique_ptr<TypelineRecord> blank_record() {
  auto r = std::make_unique<TypelineRecord>();
  *r = TypelineRecord{};
  r->tag = 'A';
  r->firstSection = 4;
  return r;
}

// The record whose template is spelled out byte by byte below: a 5 x 3 block
// grid (non-square, odd cell count), a core and a delta, two minutiae at the
// extremes of their bit fields.
std::unique_ptr<TypelineRecord> sample_record() {
  auto r = blank_record();
  r->width = 161;
  r->height = 192;
  r->patternType = 7;
  r->density = 200;
  r->frequency = 9;
  const std::int16_t lines[8] = {300, 1, 256, 511, 0, 85, 170, 300};
  std::copy(std::begin(lines), std::end(lines), r->typeLines);
  r->grid.columns = 5;
  r->grid.rows = 3;
  const std::uint8_t cells[15] = {0, 7, 8, 119, 127, 255, 112, 64, 16, 24, 32, 40, 48, 56, 99};
  std::copy(std::begin(cells), std::end(cells), r->grid.cells);
  r->singular.count = 2;
  r->singular.points[0] = {300, 257, 200, 1};
  r->singular.points[1] = {1, 511, 255, 0};
  r->minutiae.count = 2;
  r->minutiae.minutiae[0] = {511, 0, 239, 127, 63, 1};
  r->minutiae.minutiae[1] = {5, 300, 0, 3, 10, 0};
  return r;
}

const Bytes kSampleTemplate = {
    'A', 4, 80, 96,                                                // header
    'A', 3, 7, 200, 9,                                             // pattern, density, frequency
    'B', 9, 0x96, 0x00, 0x60, 0x1F, 0xF0, 0x01, 0x55, 0x55, 0x2C,  // 9-bit type-line values
    'C', 9, 3, 5, 0x00, 0x1E, 0xFF, 0xE8, 0x23, 0x45, 0x67,        // rows, columns, 7 code bytes
    'D', 9, 2, 0x96, 0x01, 0x01, 200, 0x00, 0x81, 0xFF, 0xFF,      // core, delta
    'E', 12, 2, 0xFF, 0x80, 0x3F, 239, 0xFF, 0x02, 0xCB, 0x0A, 0, 0x06,
};

Bytes write(const TypelineRecord& r, int* result = nullptr) {
  Bytes out(TYPELINE_TEMPLATE_SIZE, 0);
  const int res = get_byte_template(&r, out.data());
  if (result) *result = res;
  out.resize(static_cast<std::size_t>(res / 100));
  return out;
}

// Reads exactly the given bytes: the vector's heap block ends where the
// template does, so the sanitizers catch any read beyond it.
std::unique_ptr<TypelineRecord> read(const Bytes& bytes) {
  auto r = std::make_unique<TypelineRecord>();
  std::memset(r.get(), 0xA5, sizeof *r);
  zyl::typeline::read_template(bytes, *r);
  return r;
}

Bytes padded(Bytes b) {
  b.resize(TYPELINE_TEMPLATE_SIZE, 0);
  return b;
}

TEST(TypelineTemplate, WritesEverySectionBitForBit) {
  int result = 0;
  EXPECT_EQ(write(*sample_record(), &result), kSampleTemplate);
  EXPECT_EQ(result, 2 + 100 * static_cast<int>(kSampleTemplate.size()));
}

TEST(TypelineTemplate, ReadsEverySectionBack) {
  const auto r = read(kSampleTemplate);
  EXPECT_EQ(r->tag, 'A');
  EXPECT_EQ(r->firstSection, 4);
  EXPECT_EQ(r->width, 160);  // 161 / 2 * 2
  EXPECT_EQ(r->height, 192);
  EXPECT_EQ(r->patternType, 7);
  EXPECT_EQ(r->density, 200);
  EXPECT_EQ(r->frequency, 9);
  const std::int16_t lines[8] = {300, 1, 256, 511, 0, 85, 170, 300};
  EXPECT_TRUE(std::equal(std::begin(lines), std::end(lines), r->typeLines));
  // Rows and columns are not swapped, codes come back as multiples of 8,
  // the odd 15th cell is not stored.
  EXPECT_EQ(r->grid.columns, 5);
  EXPECT_EQ(r->grid.rows, 3);
  const std::uint8_t cells[16] = {0, 0, 8, 112, 255, 255, 112, 64, 16, 24, 32, 40, 48, 56, 0, 0};
  EXPECT_TRUE(std::equal(std::begin(cells), std::end(cells), r->grid.cells));
  ASSERT_EQ(r->singular.count, 2);
  EXPECT_EQ(r->singular.points[0].x, 300);
  EXPECT_EQ(r->singular.points[0].y, 257);
  EXPECT_EQ(r->singular.points[0].direction, 200);
  EXPECT_EQ(r->singular.points[0].kind, 1);
  EXPECT_EQ(r->singular.points[1].x, 1);
  EXPECT_EQ(r->singular.points[1].y, 511);
  EXPECT_EQ(r->singular.points[1].kind, 0);
  ASSERT_EQ(r->minutiae.count, 2);
  const TypelineMinutia& a = r->minutiae.minutiae[0];
  EXPECT_EQ(a.x, 511);
  EXPECT_EQ(a.y, 0);
  EXPECT_EQ(a.direction, 239);
  EXPECT_EQ(a.curvature, 127);
  EXPECT_EQ(a.quality, 63);
  EXPECT_EQ(a.type, 1);
  const TypelineMinutia& b = r->minutiae.minutiae[1];
  EXPECT_EQ(b.x, 5);
  EXPECT_EQ(b.y, 300);
  EXPECT_EQ(b.curvature, 3);
  EXPECT_EQ(b.quality, 10);
  EXPECT_EQ(r->minutiae.meanQuality, (63 + 10) / 2);
  // Everything behind the used parts is cleared.
  EXPECT_EQ(r->minutiae.minutiae[2].x, 0);
  EXPECT_EQ(r->singular.points[2].direction, 0);
}

TEST(TypelineTemplate, ExportedReaderTakesA750ByteBuffer) {
  const Bytes full = padded(kSampleTemplate);
  TypelineRecord r;
  mch_sub_func_02(full.data(), &r);
  EXPECT_EQ(r.minutiae.count, 2);
  EXPECT_EQ(r.grid.rows, 3);
}

TEST(TypelineTemplate, SectionPackersMatchTheTemplateBytes) {
  const auto r = sample_record();
  std::uint8_t b[9];
  comp_typeline(r->typeLines, b);
  EXPECT_TRUE(std::equal(b, b + 9, kSampleTemplate.begin() + 11));
  std::int16_t lines[8];
  decomp_typeline(b, lines);
  EXPECT_TRUE(std::equal(lines, lines + 8, r->typeLines));

  std::uint8_t c[9];
  EXPECT_EQ(comp_block(&r->grid, c), 9);
  EXPECT_TRUE(std::equal(c, c + 9, kSampleTemplate.begin() + 22));
  TypelineBlockGrid grid;
  decomp_block(c, &grid);
  EXPECT_EQ(grid.columns, 5);
  EXPECT_EQ(grid.cells[3], 112);

  std::uint8_t d[17];
  EXPECT_EQ(comp_core(&r->singular, d), 2);
  EXPECT_TRUE(std::equal(d, d + 9, kSampleTemplate.begin() + 33));
  TypelineSingularList points;
  EXPECT_EQ(decomp_core(d, &points), 2);
  EXPECT_EQ(points.points[0].x, 300);
}

TEST(TypelineTemplate, HalvesTheImageSize) {
  auto r = blank_record();
  r->width = 401;
  r->height = 3;
  const Bytes t = write(*r);
  EXPECT_EQ(t[2], 200);
  EXPECT_EQ(t[3], 1);
  EXPECT_EQ(read(t)->width, 400);
  EXPECT_EQ(read(t)->height, 2);
}

TEST(TypelineTemplate, GridsUpTo507CellsKeepTheirTrueLength) {
  struct Case {
    int columns, rows;
    int stored_rows;
    int length_byte;
  };
  const Case cases[] = {
      {5, 5, 5, 14},      // 12 code bytes, the 25th cell dropped
      {12, 12, 12, 74},   // the dispatch layer's largest images
      {22, 23, 23, 255},  // 506 cells: the largest that fits the length byte
      {23, 22, 22, 255},
      {23, 23, 22, 255},  // 529 cells: whole rows up to 507 cells
      {25, 25, 20, 252},  // the largest grid: 20 of 25 rows
      {1, 255, 255, 129},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.columns << " x " << c.rows);
    auto r = blank_record();
    r->grid.columns = static_cast<std::uint8_t>(c.columns);
    r->grid.rows = static_cast<std::uint8_t>(c.rows);
    for (int k = 0; k < c.columns * c.rows && k < TYPELINE_MAX_BLOCKS; ++k)
      r->grid.cells[k] = static_cast<std::uint8_t>(k % 15 * 8);
    r->minutiae.count = 3;
    r->minutiae.minutiae[2] = {17, 19, 23, 29, 31, 1};
    const Bytes t = write(*r);
    ASSERT_EQ(t[20], 'C');
    EXPECT_EQ(t[21], c.length_byte);
    EXPECT_EQ(t[22], c.stored_rows);
    EXPECT_EQ(t[23], c.columns);
    const auto back = read(t);
    EXPECT_EQ(back->grid.rows, c.stored_rows);
    EXPECT_EQ(back->grid.columns, c.columns);
    const int kept = c.stored_rows * c.columns / 2 * 2;
    EXPECT_TRUE(std::equal(back->grid.cells, back->grid.cells + kept, r->grid.cells));
    // The sections behind the grid are found.
    EXPECT_EQ(back->minutiae.count, 3);
    EXPECT_EQ(back->minutiae.minutiae[2].y, 19);
    EXPECT_EQ(mch_sub_func_03(back.get()), 1);
  }
}

TEST(TypelineTemplate, ReadsOldTemplatesOfLargeGridsWhole) {
  // A 23 x 23 grid stored whole (264 code bytes) with only the low byte of
  // its length (266 & 0xFF = 10), followed by sections D and E.
  Bytes t = {'A', 4, 184, 184, 'C', 10, 23, 23};
  for (int k = 0; k < 264; ++k) t.push_back(static_cast<std::uint8_t>(k % 15 << 4 | (k + 1) % 15));
  const Bytes tail = {'D', 5, 1, 10, 0, 20, 30, 'E', 17, 3, 0, 0, 0, 1, 2, 0, 0, 0, 3, 4, 0, 0, 0, 5, 6};
  t.insert(t.end(), tail.begin(), tail.end());
  const auto r = read(t);
  EXPECT_EQ(r->grid.rows, 23);
  EXPECT_EQ(r->grid.columns, 23);
  EXPECT_EQ(r->grid.cells[526], 263 % 15 * 8);
  EXPECT_EQ(r->singular.count, 1);
  EXPECT_EQ(r->singular.points[0].y, 20);
  EXPECT_EQ(r->minutiae.count, 3);
}

TEST(TypelineTemplate, RoundTripsRandomRecords) {
  std::mt19937 rng(1234);
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int iteration = 0; iteration < 300; ++iteration) {
    auto r = blank_record();
    r->width = static_cast<std::int16_t>(2 * uni(0, 255));
    r->height = static_cast<std::int16_t>(2 * uni(0, 255));
    r->patternType = static_cast<std::uint8_t>(uni(0, 10));
    r->density = static_cast<std::uint8_t>(uni(0, 255));
    r->frequency = static_cast<std::uint8_t>(uni(0, 255));
    for (auto& v : r->typeLines) v = static_cast<std::int16_t>(uni(0, 511));
    r->grid.columns = static_cast<std::uint8_t>(uni(0, 22));
    r->grid.rows = static_cast<std::uint8_t>(uni(0, 23));
    const int cells = r->grid.columns * r->grid.rows / 2 * 2;  // an odd last cell is dropped
    for (int k = 0; k < cells; ++k) r->grid.cells[k] = uni(0, 15) == 15 ? 255 : static_cast<std::uint8_t>(uni(0, 14) * 8);
    r->singular.count = static_cast<std::int8_t>(uni(0, 4));
    for (int k = 0; k < r->singular.count; ++k) {
      const bool core = uni(0, 1) == 1;
      r->singular.points[k] = {static_cast<std::int16_t>(uni(0, 511)), static_cast<std::int16_t>(uni(0, 511)),
                               static_cast<std::uint8_t>(core ? uni(0, 239) : 255), static_cast<std::uint8_t>(core)};
    }
    r->minutiae.count = static_cast<std::int8_t>(uni(0, 50));
    int quality_sum = 0;
    for (int k = 0; k < r->minutiae.count; ++k) {
      TypelineMinutia& m = r->minutiae.minutiae[k];
      m = {static_cast<std::int16_t>(uni(0, 511)), static_cast<std::int16_t>(uni(0, 511)),
           static_cast<std::uint8_t>(uni(0, 239)), static_cast<std::uint8_t>(uni(0, 127)),
           static_cast<std::uint8_t>(uni(0, 63)), static_cast<std::uint8_t>(uni(0, 1))};
      quality_sum += m.quality;
    }
    r->minutiae.meanQuality = static_cast<std::uint8_t>(r->minutiae.count ? quality_sum / r->minutiae.count : 0);

    int result = 0;
    const Bytes t = write(*r, &result);
    ASSERT_EQ(result % 100, r->minutiae.count);
    const auto back = read(t);
    ASSERT_EQ(std::memcmp(back.get(), r.get(), sizeof *r), 0) << "iteration " << iteration;
  }
}

TEST(TypelineTemplate, WriterOutputAlwaysReadsBack) {
  // Records at and beyond every limit of the format: counts above the
  // arrays, the largest grid, the last possible first-section offset.
  std::mt19937 rng(99);
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int iteration = 0; iteration < 200; ++iteration) {
    auto r = std::make_unique<TypelineRecord>();
    auto* raw = reinterpret_cast<std::uint8_t*>(r.get());
    for (std::size_t k = 0; k < sizeof *r; ++k) raw[k] = static_cast<std::uint8_t>(uni(0, 255));
    if (iteration % 2) r->firstSection = 255;
    if (iteration % 3 == 0) r->minutiae.count = 50;
    if (iteration % 5 == 0) r->grid.columns = r->grid.rows = 25;
    Bytes out(TYPELINE_TEMPLATE_SIZE, 0);
    const int result = get_byte_template(r.get(), out.data());
    const int length = result / 100;
    ASSERT_LE(length, 749);
    const auto back = read(out);
    EXPECT_EQ(back->minutiae.count, result % 100);
    EXPECT_GE(back->firstSection, 4);
    EXPECT_LE(back->grid.columns * back->grid.rows, 507);
    // A second round changes nothing.
    Bytes again(TYPELINE_TEMPLATE_SIZE, 0);
    EXPECT_EQ(get_byte_template(back.get(), again.data()), result);
    EXPECT_EQ(again, out);
  }
}

TEST(TypelineTemplate, LastMinutiaRecordsStopBeforeTheSectionLimit) {
  // Sections from offset 255 with the largest grid leave room for fewer
  // than 50 minutiae; the writer keeps only those the reader accepts.
  auto r = blank_record();
  r->firstSection = 255;
  r->grid.columns = r->grid.rows = 25;
  r->singular.count = 4;
  r->minutiae.count = 50;
  for (int k = 0; k < 50; ++k) r->minutiae.minutiae[k] = {static_cast<std::int16_t>(k), 7, 1, 2, 3, 0};
  int result = 0;
  const Bytes t = write(*r, &result);
  // A..D end at 255 + 5 + 11 + 254 + 19 = 544; E's records start at 547.
  EXPECT_EQ(result % 100, 40);
  EXPECT_EQ(result / 100, 547 + 5 * 40);
  EXPECT_EQ(read(padded(t))->minutiae.count, 40);
}

struct ReadCase {
  const char* name;
  Bytes bytes;
  int tag;
  int singular_count;
  int minutia_count;
  int grid_cells;
  int usable;
};

// A 750-byte template whose only known section starts at `offset`, behind
// unknown sections that the reader steps over.
Bytes section_at(std::size_t offset, const Bytes& section) {
  Bytes b = {'A', 4, 10, 10};
  while (b.size() < offset) {
    const std::size_t body = std::min<std::size_t>(255, offset - b.size() - 2);
    b.push_back('Q');
    b.push_back(static_cast<std::uint8_t>(body));
    b.resize(b.size() + body, 0);
  }
  b.insert(b.end(), section.begin(), section.end());
  b.resize(TYPELINE_TEMPLATE_SIZE, 0);
  return b;
}

TEST(TypelineTemplate, ReaderHandlesDamagedAndUnusualTemplates) {
  const Bytes e3 = {'E', 17, 3, 0, 0, 0, 1, 2, 0, 0, 0, 3, 4, 0, 0, 0, 5, 6};
  auto with_e3 = [&](Bytes head) {
    head.insert(head.end(), e3.begin(), e3.end());
    return head;
  };
  const ReadCase cases[] = {
      {"all zeros", Bytes(750, 0), 0, 0, 0, 0, 0},
      {"empty input", {}, 0, 0, 0, 0, 0},
      {"header only", {'A', 4, 10, 10}, 'A', 0, 0, 0, 0},
      {"three minutiae", with_e3({'A', 4, 10, 10}), 'A', 0, 3, 0, 1},
      {"section E of length 2", {'A', 4, 10, 10, 'E', 2, 0}, 'A', 0, 0, 0, 0},
      {"section E below 7 bytes", {'A', 4, 10, 10, 'E', 6, 1, 0, 0, 0, 0, 0}, 'A', 0, 0, 0, 0},
      {"first section at 9", with_e3({'A', 9, 10, 10, 'E', 99, 9, 9, 9}), 'A', 0, 3, 0, 1},
      {"zero-length sections skipped", with_e3({'A', 4, 10, 10, 'Z', 0, 0, 0}), 'A', 0, 3, 0, 1},
      {"unknown section skipped", with_e3({'A', 4, 10, 10, 'Q', 2, 'E', 2}), 'A', 0, 3, 0, 1},
      {"four singular points", with_e3({'A', 4, 10, 10, 'D', 17, 4, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4}),
       'A', 4, 3, 0, 1},
      {"five singular points", with_e3({'A', 4, 10, 10, 'D', 21, 5, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4,
                                        0, 0, 0, 5}),
       0, 4, 3, 0, 0},
      {"negative singular count", with_e3({'A', 4, 10, 10, 'D', 1, 0xFF}), 0, 0, 3, 0, 0},
      {"singular points cut short", {'A', 4, 10, 10, 'D', 9, 2, 0, 0, 0, 1, 0}, 'A', 0, 0, 0, 0},
      {"grid of 625 cells", with_e3([] {
         Bytes b = {'A', 4, 200, 200, 'C', (312 + 2) & 0xFF, 25, 25};
         b.resize(b.size() + 312, 0x11);
         return b;
       }()),
       'A', 0, 3, 624, 1},
      {"grid of 676 cells", with_e3({'A', 4, 10, 10, 'C', 4, 26, 26, 0, 0}), 0, 0, 3, 0, 0},
      {"grid cut short", {'A', 4, 10, 10, 'C', 12, 5, 4, 0x11, 0x11}, 'A', 0, 0, 0, 0},
      {"sixty minutiae declared", [] {
         Bytes b = {'A', 4, 10, 10, 'E', 255, 60};
         b.resize(b.size() + 300, 0x40);
         return b;
       }(),
       'A', 0, 50, 0, 1},
      {"negative minutia count", {'A', 4, 10, 10, 'E', 17, 0xF0, 0, 0, 0, 1, 2, 0, 0, 0, 3, 4}, 'A', 0, 0, 0, 0},
      {"minutiae cut short", {'A', 4, 10, 10, 'E', 17, 3, 0, 0, 0, 1, 2, 0, 0, 0, 3, 4, 0, 0}, 'A', 0, 2, 0, 0},
      // Unknown sections skipped up to 740, then a section E that would end at 752.
      {"section reaching offset 750", section_at(740, {'E', 10, 1, 0, 0, 0, 1, 2}), 'A', 0, 0, 0, 0},
      // Ending at 749 it is read, but its third record would pass offset 750.
      {"section ending at 749", section_at(734, {'E', 13, 3, 0, 0, 0, 1, 2, 0, 0, 0, 3, 4, 0, 0, 0, 5, 6}),
       'A', 0, 2, 0, 0},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = read(c.bytes);
    EXPECT_EQ(r->tag, c.tag);
    EXPECT_EQ(r->singular.count, c.singular_count);
    EXPECT_EQ(r->minutiae.count, c.minutia_count);
    EXPECT_EQ(r->grid.columns * r->grid.rows / 2 * 2, c.grid_cells);
    EXPECT_EQ(mch_sub_func_03(r.get()), c.usable);
  }
}

TEST(TypelineTemplate, RepeatedSectionOverwritesTheEarlierOne) {
  const Bytes t = {'A', 4, 10, 10, 'A', 3, 1, 2, 3, 'C', 4, 2, 2, 0x12, 0x34, 'A', 3, 4, 5, 6, 'C', 3, 1, 2, 0x56};
  const auto r = read(t);
  EXPECT_EQ(r->patternType, 4);
  EXPECT_EQ(r->frequency, 6);
  EXPECT_EQ(r->grid.rows, 1);
  EXPECT_EQ(r->grid.columns, 2);
  EXPECT_EQ(r->grid.cells[0], 40);
  EXPECT_EQ(r->grid.cells[2], 0);  // nothing left of the first grid
}

TEST(TypelineTemplate, TruncatedInputIsReadOnlyAsFarAsItGoes) {
  const Bytes whole = write(*sample_record());
  for (std::size_t n = 0; n <= whole.size(); ++n) {
    const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    const auto r = read(part);
    // Each section is there only when its bytes are.
    EXPECT_EQ(r->density, n >= 9 ? 200 : 0) << n;
    EXPECT_EQ(r->grid.rows, n >= 31 ? 3 : 0) << n;
    EXPECT_EQ(r->singular.count, n >= 42 ? 2 : 0) << n;
    EXPECT_EQ(r->minutiae.count, n >= 55 ? 2 : n >= 50 ? 1 : 0) << n;
  }
}

TEST(TypelineTemplate, ValidityTest) {
  struct Case {
    int tag, singular, pattern, minutiae, usable;
  };
  const Case cases[] = {
      {'A', 0, 0, 3, 1},  {'A', 4, 10, 50, 1}, {'B', 0, 0, 3, 0},  {'A', 5, 0, 3, 0},
      {'A', -1, 0, 3, 0}, {'A', 0, 11, 3, 0},  {'A', 0, 0, 2, 0},  {'A', 0, 0, 51, 0},
      {'A', 0, 0, -5, 0},
  };
  for (const Case& c : cases) {
    TypelineRecord r{};
    r.tag = static_cast<std::uint8_t>(c.tag);
    r.singular.count = static_cast<std::int8_t>(c.singular);
    r.patternType = static_cast<std::uint8_t>(c.pattern);
    r.minutiae.count = static_cast<std::int8_t>(c.minutiae);
    EXPECT_EQ(mch_sub_func_03(&r), c.usable) << c.tag << " " << c.singular << " " << c.pattern << " " << c.minutiae;
  }
  EXPECT_EQ(mch_sub_func_03(nullptr), 0);
}

TEST(TypelineTemplate, MeanQualityIsTruncated) {
  TypelineMinutiaList list{};
  EXPECT_EQ(mch_sub_func_04(&list), 0);
  list.count = 3;
  list.minutiae[0].quality = 10;
  list.minutiae[1].quality = 11;
  list.minutiae[2].quality = 13;
  list.minutiae[3].quality = 63;  // beyond the count
  EXPECT_EQ(mch_sub_func_04(&list), 11);
}

TEST(TypelineTemplate, SplitsCoresAndDeltasInRecordOrder) {
  auto point = [](int x, int kind) {
    return TypelineSingularPoint{static_cast<std::int16_t>(x), 0, static_cast<std::uint8_t>(kind ? 10 : 255),
                                 static_cast<std::uint8_t>(kind)};
  };
  struct Case {
    std::vector<int> kinds;
    bool with_deltas;
    int cores;
    int deltas;
    std::vector<int> core_x;
  };
  const Case cases[] = {
      {{1, 0, 1, 0}, true, 2, 2, {0, 2}},
      {{1, 1, 1, 0}, true, 2, 0, {0, 1}},  // the third core ends the walk
      {{0, 0, 0, 1}, true, 0, 2, {}},      // so does the third delta
      {{0, 0, 0, 1}, false, 1, 0, {3}},    // without a delta list deltas are skipped
      {{}, true, 0, 0, {}},
  };
  for (const Case& c : cases) {
    TypelineSingularList list{};
    list.count = static_cast<std::int8_t>(c.kinds.size());
    for (std::size_t k = 0; k < c.kinds.size(); ++k) list.points[k] = point(static_cast<int>(k), c.kinds[k]);
    TypelineSingularPoint cores[2] = {}, deltas[2] = {};
    int delta_count = -1;
    EXPECT_EQ(mch_sub_func_01(&list, cores, c.with_deltas ? deltas : nullptr, &delta_count), c.cores);
    EXPECT_EQ(delta_count, c.deltas);
    for (std::size_t k = 0; k < c.core_x.size(); ++k) EXPECT_EQ(cores[k].x, c.core_x[k]);
  }
}

TEST(TypelineTemplate, NullArgumentsAreRefused) {
  TypelineRecord r{};
  std::uint8_t out[750];
  EXPECT_EQ(get_byte_template(nullptr, out), -1);
  EXPECT_EQ(get_byte_template(&r, nullptr), -1);
  std::memset(&r, 0x5A, sizeof r);
  mch_sub_func_02(nullptr, &r);
  EXPECT_EQ(r.tag, 0);
  mch_sub_func_02(out, nullptr);
  EXPECT_EQ(mch_sub_func_01(nullptr, nullptr, nullptr, nullptr), 0);
}

}  // namespace
