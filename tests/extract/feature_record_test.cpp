#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "extract/byte_image.h"
#include "zylscan/feature_record.h"

namespace {

std::unique_ptr<FeatureRecord> filled_record(std::uint8_t fill) {
  auto r = std::make_unique<FeatureRecord>();
  std::memset(r.get(), fill, sizeof(FeatureRecord));
  return r;
}

TEST(ByteImage, IsZeroFilledAndCopiesRowByRow) {
  zyl::extract::OwnedByteImage a(7, 5), b(7, 5);
  ASSERT_TRUE(a && b);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      EXPECT_EQ(a[y][x], 0);
      a[y][x] = static_cast<std::uint8_t>(y * 7 + x);
    }
  EXPECT_EQ(CopyByteImage(7, 5, a.get(), b.get()), 5);
  for (int y = 0; y < 5; ++y) EXPECT_EQ(std::memcmp(a[y], b[y], 7), 0);
}

TEST(ByteImage, RefusesEmptySizes) {
  EXPECT_EQ(CreateByteImage(0, 5), nullptr);
  EXPECT_EQ(CreateByteImage(5, -1), nullptr);
  EXPECT_EQ(FreeImage(nullptr, 3), 0);
}

TEST(CopyFeatures, CopiesCountsColumnsAndBlocksButNothingBeyondTheCounts) {
  auto src = filled_record(0x11);
  src->minutiaCount = 3;
  src->singularCount = 2;
  src->borderDensity = 77;
  src->blockColumns = 20;
  src->blockRows = 30;
  for (int i = 0; i < 3; ++i) {
    src->minutiaX[i] = 10 + i;
    src->minutiaAngle[i] = 200 + i;
    src->minutiaCurvature[i] = 255;
  }
  src->singularKind[1] = -1;
  src->blockDirections[128 * 127 + 127] = 42;

  auto dst = filled_record(0xEE);
  CopyFeatures(dst.get(), src.get());
  EXPECT_EQ(dst->minutiaCount, 3);
  EXPECT_EQ(dst->singularCount, 2);
  EXPECT_EQ(dst->borderDensity, 77);
  EXPECT_EQ(dst->blockColumns, 20u);
  EXPECT_EQ(dst->blockRows, 30u);
  EXPECT_EQ(dst->minutiaX[2], 12);
  EXPECT_EQ(dst->minutiaAngle[0], 200);
  EXPECT_EQ(dst->singularKind[1], -1);
  // All 128 rows of block bytes are copied, whatever the grid size.
  EXPECT_EQ(dst->blockDirections[128 * 127 + 127], 42);
  // Entries past the counts keep what the destination held.
  EXPECT_EQ(dst->minutiaX[3], static_cast<int32_t>(0xEEEEEEEE));
  EXPECT_EQ(dst->singularX[2], static_cast<int32_t>(0xEEEEEEEE));
}

TEST(CopyFeatures, EmptyRecordCopiesOnlyTheBlockGridAndDensity) {
  auto src = filled_record(0x00);
  src->borderDensity = 9;
  src->blockDirections[5] = 17;
  auto dst = filled_record(0xEE);
  CopyFeatures(dst.get(), src.get());
  EXPECT_EQ(dst->minutiaCount, 0);
  EXPECT_EQ(dst->singularCount, 0);
  EXPECT_EQ(dst->borderDensity, 9);
  EXPECT_EQ(dst->blockDirections[5], 17);
  EXPECT_EQ(dst->minutiaX[0], static_cast<int32_t>(0xEEEEEEEE));
}

TEST(CopyFeatures, ClampsCorruptCountsToTheColumns) {
  auto src = filled_record(0x22);
  src->minutiaCount = 5000;
  src->singularCount = -3;
  auto dst = filled_record(0x00);
  CopyFeatures(dst.get(), src.get());  // must not read or write past the columns
  EXPECT_EQ(dst->minutiaCount, 1024);
  EXPECT_EQ(dst->singularCount, 0);
}

}  // namespace
