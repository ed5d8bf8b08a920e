#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "typeline/template_codec.h"
#include "zylscan/typeline_template.h"
#include "zylscan/typeline_tools.h"

namespace {

using Template = std::vector<std::uint8_t>;

struct Part {
  int height = 160;
  int columns = 12;
  int rows = 10;
  int singular = 0;
  int minutiae = 0;
  int first_y = 10;  // y of minutia k is first_y + k
  int quality = 20;
};

Template make_template(const Part& p) {
  auto r = std::make_unique<TypelineRecord>();
  *r = TypelineRecord{};
  r->tag = 'A';
  r->firstSection = 4;
  r->width = 192;
  r->height = static_cast<std::int16_t>(p.height);
  r->grid.columns = static_cast<std::uint8_t>(p.columns);
  r->grid.rows = static_cast<std::uint8_t>(p.rows);
  for (int k = 0; k < p.columns * p.rows && k < TYPELINE_MAX_BLOCKS; ++k) r->grid.cells[k] = 8;
  r->singular.count = static_cast<std::int8_t>(p.singular);
  for (int k = 0; k < p.singular; ++k)
    r->singular.points[k] = {static_cast<std::int16_t>(100 + k), static_cast<std::int16_t>(50 + k), 30, 1};
  r->minutiae.count = static_cast<std::int8_t>(p.minutiae);
  for (int k = 0; k < p.minutiae; ++k)
    r->minutiae.minutiae[k] = {static_cast<std::int16_t>(k), static_cast<std::int16_t>(p.first_y + k),
                               static_cast<std::uint8_t>(k), 5, static_cast<std::uint8_t>(p.quality), 1};
  Template t(TYPELINE_TEMPLATE_SIZE, 0);
  get_byte_template(r.get(), t.data());
  return t;
}

std::unique_ptr<TypelineRecord> decode(const Template& t) {
  auto r = std::make_unique<TypelineRecord>();
  mch_sub_func_02(t.data(), r.get());
  return r;
}

std::unique_ptr<TypelineRecord> merge(const Part& a, const Part& b, int shift) {
  Template out(TYPELINE_TEMPLATE_SIZE, 0);
  EXPECT_EQ(MergeTerrakTemplate(make_template(a).data(), make_template(b).data(), shift, out.data()), 1);
  return decode(out);
}

int le16(const std::uint8_t* p) { return static_cast<std::int16_t>(p[0] | p[1] << 8); }

TEST(TypelineTools, MinutiaeListHasItsFixedLayout) {
  Part p;
  p.minutiae = 50;
  p.first_y = 300;
  const Template t = make_template(p);
  std::uint8_t list[TYPELINE_MINUTIA_LIST_SIZE + 1];
  std::memset(list, 0xEE, sizeof list);
  ExtractTerrakMinutias(t.data(), list);
  EXPECT_EQ(list[0], 50);
  EXPECT_EQ(list[1], 20);  // mean quality
  for (int k = 0; k < 50; ++k) {
    const std::uint8_t* e = list + 2 + 8 * k;
    EXPECT_EQ(le16(e), k);
    EXPECT_EQ(le16(e + 2), 300 + k);
    EXPECT_EQ(e[4], k);   // direction
    EXPECT_EQ(e[5], 5);   // curvature
    EXPECT_EQ(e[6], 20);  // quality
    EXPECT_EQ(e[7], 1);   // type
  }
  EXPECT_EQ(list[401], 1);  // the last record's type byte ends the list
  EXPECT_EQ(list[402], 0xEE);
}

TEST(TypelineTools, MinutiaeListRecordsBeyondTheCountAreZero) {
  Part p;
  p.minutiae = 3;
  std::uint8_t list[TYPELINE_MINUTIA_LIST_SIZE];
  std::memset(list, 0xEE, sizeof list);
  ExtractTerrakMinutias(make_template(p).data(), list);
  EXPECT_EQ(list[0], 3);
  for (int i = 2 + 8 * 3; i < TYPELINE_MINUTIA_LIST_SIZE; ++i) ASSERT_EQ(list[i], 0) << i;
}

TEST(TypelineTools, CountsMinutiae) {
  Part p;
  p.minutiae = 37;
  int count = -5;
  EXPECT_EQ(GetTerrakTempNumMinutiaes(make_template(p).data(), &count), 37);
  EXPECT_EQ(count, 37);
  const Template zeros(TYPELINE_TEMPLATE_SIZE, 0);
  EXPECT_EQ(GetTerrakTempNumMinutiaes(zeros.data(), nullptr), 0);
  EXPECT_EQ(GetTerrakTempNumMinutiaes(nullptr, &count), -1);
}

TEST(TypelineTools, MergeTakesSingularPointsUpToFour) {
  struct Case {
    int a, b, merged;
  };
  const Case cases[] = {{3, 2, 4}, {1, 2, 3}, {0, 4, 4}, {4, 1, 4}, {0, 0, 0}};
  for (const Case& c : cases) {
    Part a, b;
    a.singular = c.a;
    b.singular = c.b;
    const auto r = merge(a, b, 40);
    ASSERT_EQ(r->singular.count, c.merged) << c.a << "+" << c.b;
    for (int k = 0; k < c.a; ++k) EXPECT_EQ(r->singular.points[k].y, 50 + k);
    for (int k = c.a; k < c.merged; ++k) EXPECT_EQ(r->singular.points[k].y, 50 + (k - c.a) + 40);
  }
}

TEST(TypelineTools, MergeTakesMinutiaeUpToFiftyAndShiftsTheLowerPart) {
  Part a, b;
  a.minutiae = 30;
  a.quality = 20;
  b.minutiae = 30;
  b.quality = 40;
  const auto r = merge(a, b, 100);
  ASSERT_EQ(r->minutiae.count, 50);
  for (int k = 0; k < 30; ++k) EXPECT_EQ(r->minutiae.minutiae[k].y, 10 + k);
  for (int k = 30; k < 50; ++k) {
    EXPECT_EQ(r->minutiae.minutiae[k].x, k - 30);
    EXPECT_EQ(r->minutiae.minutiae[k].y, 10 + (k - 30) + 100);
  }
  // The reader recomputes the mean from the merged minutiae.
  EXPECT_EQ(r->minutiae.meanQuality, (30 * 20 + 20 * 40) / 50);
  EXPECT_EQ(r->height, 320);
  EXPECT_EQ(mch_sub_func_03(r.get()), 1);
}

TEST(TypelineTools, MergeStacksTheBlockGrids) {
  Part a, b;
  const auto r = merge(a, b, 160);
  EXPECT_EQ(r->grid.columns, 12);
  EXPECT_EQ(r->grid.rows, 20);
  for (int k = 0; k < 120; ++k) ASSERT_EQ(r->grid.cells[k], 8) << k;
  for (int k = 120; k < 240; ++k) ASSERT_EQ(r->grid.cells[k], 0) << k;
}

TEST(TypelineTools, MergedGridStaysWithinTheRecord) {
  struct Case {
    int columns, rows, merged_rows;
  };
  // 25 x 50 cells would not fit the 625 cells; 22 x 40 fits them but not the
  // template's 507, so the writer keeps 23 whole rows.
  const Case cases[] = {{25, 25, 20}, {22, 20, 23}, {12, 10, 20}};
  for (const Case& c : cases) {
    Part a, b;
    a.columns = b.columns = c.columns;
    a.rows = b.rows = c.rows;
    a.minutiae = b.minutiae = 5;
    const auto r = merge(a, b, 10);
    EXPECT_EQ(r->grid.columns, c.columns);
    EXPECT_EQ(r->grid.rows, c.merged_rows);
    EXPECT_EQ(r->minutiae.count, 10);  // sections behind the grid are still found
  }
}

TEST(TypelineTools, MergeDropsPointsShiftedOutOfTheTemplateRange) {
  Part a, b;
  a.minutiae = 2;
  b.minutiae = 5;
  b.first_y = 300;  // b's minutiae at y 300..304
  b.singular = 2;   // at y 50, 51
  const auto r = merge(a, b, 210);  // 510, 511 stay; 512.. are dropped
  ASSERT_EQ(r->minutiae.count, 4);
  EXPECT_EQ(r->minutiae.minutiae[2].y, 510);
  EXPECT_EQ(r->minutiae.minutiae[3].y, 511);
  EXPECT_EQ(r->singular.count, 2);
  EXPECT_EQ(r->singular.points[1].y, 261);

  const auto up = merge(a, b, -301);  // only y 301.. survive an upward shift
  EXPECT_EQ(up->minutiae.count, 2 + 4);
  EXPECT_EQ(up->minutiae.minutiae[2].y, 0);
  EXPECT_EQ(up->singular.count, 0);
}

TEST(TypelineTools, MergeOfDamagedTemplatesStaysInBounds) {
  Template junk(TYPELINE_TEMPLATE_SIZE, 0xFF);
  Template zeros(TYPELINE_TEMPLATE_SIZE, 0);
  Template out(TYPELINE_TEMPLATE_SIZE, 0);
  EXPECT_EQ(MergeTerrakTemplate(junk.data(), zeros.data(), 1 << 30, out.data()), 1);
  EXPECT_EQ(MergeTerrakTemplate(zeros.data(), zeros.data(), 0, out.data()), 1);
  EXPECT_EQ(mch_sub_func_03(decode(out).get()), 0);
  EXPECT_EQ(MergeTerrakTemplate(nullptr, zeros.data(), 0, out.data()), -1);
  EXPECT_EQ(MergeTerrakTemplate(zeros.data(), zeros.data(), 0, nullptr), -1);
}

}  // namespace
