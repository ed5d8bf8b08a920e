#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "template_test_support.h"
#include "zylscan/minutiae_record.h"
#include "zylscan/nuvel.h"
#include "zylscan/template_format.h"
#include "zylscan/typeline_template.h"

namespace {

using namespace zyl::test;

const int32_t kEntries = int32_t(offsetof(TypelineRecord, minutiae.minutiae));

TypelineRecord record_of(std::initializer_list<TypelineMinutia> minutiae) {
  TypelineRecord r{};
  for (const TypelineMinutia& m : minutiae) r.minutiae.minutiae[r.minutiae.count++] = m;
  return r;
}

TEST(TypelineConversion, IsoRecordBytes) {
  const TypelineRecord r = record_of({
      {300, 20, 80, 5, 40, 1},   // 120 degrees -> 85
      {1025, 20, 0, 0, 0, 0},    // outside the record range
      {7, 1024, 239, 0, 63, 0},  // 358 degrees -> 254
      {5, -1, 0, 0, 0, 0},
  });
  std::vector<uint8_t> out(1024, 0xEE);
  int32_t length = 0;
  ASSERT_EQ(TerrakTemplateISO(&r, r.minutiae.count, kEntries, out.data(), &length, 192, 180, 500, 508), 1);
  const std::vector<uint8_t> expected = {
      'F', 'M', 'R', 0, ' ', '2', '0', 0, 0, 0, 0, 42,  // identifiers, length 30 + 2 x 6
      0, 0, 0, 192, 0, 180, 0x01, 0xF4, 0x01, 0xFC,     // equipment, size, resolutions as given
      1, 0, 7, 0, 100, 2,                               // finger position 7, two minutiae
      0x41, 0x2C, 0, 20, 85, 40,                        // type as stored, not plus one
      0x00, 7, 0x04, 0x00, 254, 63,
      0, 0,
  };
  ASSERT_EQ(length, 42);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 42), expected);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 42, out.end()), std::vector<uint8_t>(1024 - 42, 0));
  EXPECT_EQ(ZYL_getFormatType(out.data(), length), ZYL_FORMAT_ISO);
}

TEST(TypelineConversion, NativeTemplateKeepsDirectionsAsStored) {
  const TypelineRecord r = record_of({{100, 50, 80, 0, 0, 1}, {60, 90, 239, 0, 0, 0}});
  std::vector<uint8_t> out(1024, 0xEE);
  int32_t length = 0;
  ASSERT_EQ(TerrakTemplateNuvel(&r, r.minutiae.count, kEntries, out.data(), &length), 1);
  std::vector<uint8_t> expected = nuvel_header(0, 150, 60, 50, 2);
  put_le32(expected, nuvel_word(40, 0, 1, 80));
  put_le32(expected, nuvel_word(0, 40, 0, 239));
  ASSERT_EQ(length, int32_t(expected.size()));
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + length), expected);
}

TEST(TypelineConversion, ReadsOnlyEntriesInsideTheRecord) {
  TypelineRecord r{};
  r.minutiae.count = 50;
  for (int i = 0; i < 50; ++i) r.minutiae.minutiae[i] = {int16_t(i), int16_t(i), 0, 0, 0, 0};
  struct Case {
    int32_t count, offset;
    int iso, nuvel;  // minutiae written
  } cases[] = {
      {50, kEntries, 50, 50},
      {90, kEntries, 50, 50},     // a count beyond the record's 50 entries
      {1000, kEntries + 8, 49, 49},
      {10, -8, 0, 0},
      {10, int32_t(sizeof(TypelineRecord)), 0, 0},
      {-3, kEntries, 0, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(1024);
    int32_t length = 0;
    ASSERT_EQ(TerrakTemplateISO(&r, c.count, c.offset, out.data(), &length, 1, 1, 1, 1), 1);
    EXPECT_EQ(out[27], c.iso) << c.count << " at " << c.offset;
    EXPECT_EQ(length, 30 + 6 * c.iso);
    ASSERT_EQ(TerrakTemplateNuvel(&r, c.count, c.offset, out.data(), &length), 1);
    EXPECT_EQ(GetFeatureNum(out.data()), c.nuvel) << c.count << " at " << c.offset;
  }
}

}  // namespace
