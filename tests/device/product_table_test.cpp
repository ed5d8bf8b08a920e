#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "device/device_record.h"
#include "zyl_config.h"

using namespace zyl::device;

namespace {

// The products the device API knows, typed row by row from the product
// list: a slip in any model code, size, enumeration flag or mode byte of the
// registry shows here.
struct ProductRow {
  std::uint16_t productId;
  int modelCode;
  int width;
  int height;
  bool enumerated;
  int mode;  // algorithm mode set at open, -1 = the process keeps its own
};

constexpr ProductRow kProducts[] = {
    {0x0020, 18, 256, 360, true, -1}, {0x1023, 10, 256, 360, true, -1}, {0x1024, 11, 300, 400, true, -1},
    {0x1061, 12, 160, 160, true, 3},  {0x1124, 13, 300, 400, true, -1}, {0x1200, 17, 192, 192, true, -1},
    {0x2021, 6, 192, 192, true, 3},   {0x2022, 7, 192, 256, true, -1},  {0x2023, 8, 256, 288, true, -1},
    {0x2024, 9, 256, 360, true, -1},  {0x2031, 19, 96, 96, true, 4},    {0x2033, 1, 152, 200, false, -1},
    {0x2034, 2, 192, 192, false, -1}, {0x2041, 3, 180, 256, false, -1}, {0x2042, 4, 256, 288, false, -1},
    {0x2043, 5, 256, 360, true, -1},  {0x7000, 16, 300, 400, true, -1}, {0x9005, 14, 256, 288, true, -1},
};

// The process-wide mode byte is shared with every other test: put it back.
class ProductTable : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = sdk().algorithmMode; }
  void TearDown() override { sdk().algorithmMode = saved_; }

 private:
  std::uint8_t saved_ = 0;
};

TEST_F(ProductTable, EveryProductHasItsModelSizeAndMode) {
  constexpr std::uint8_t kMarker = 77;  // a mode no product sets
  for (const ProductRow& row : kProducts) {
    sdk().algorithmMode = kMarker;
    DeviceRecord record;
    ASSERT_EQ(ApplyProductSettings(record, row.productId, ZYL_VENDOR_ID_1), 0) << std::hex << row.productId;
    EXPECT_EQ(record.modelCode, row.modelCode) << std::hex << row.productId;
    EXPECT_EQ(record.width, row.width) << std::hex << row.productId;
    EXPECT_EQ(record.height, row.height) << std::hex << row.productId;
    EXPECT_EQ(sdk().algorithmMode, row.mode < 0 ? kMarker : row.mode) << std::hex << row.productId;
  }
}

TEST_F(ProductTable, OnlyEnumeratedProductsOfConfiguredVendorsAreScanners) {
  const std::uint16_t vendors[] = {ZYL_VENDOR_ID_1, ZYL_VENDOR_ID_2, ZYL_VENDOR_ID_3, ZYL_VENDOR_ID_4};
  int enumerated = 0;
  for (const ProductRow& row : kProducts) {
    enumerated += row.enumerated;
    for (std::uint16_t vendor : vendors)
      EXPECT_EQ(IsSupportedScanner(vendor, row.productId), row.enumerated)
          << std::hex << vendor << ":" << row.productId;
  }
  EXPECT_EQ(enumerated, 14);

  // Any other vendor's device is no scanner, whatever its product id.
  std::uint16_t foreign = 1;
  while (std::find(std::begin(vendors), std::end(vendors), foreign) != std::end(vendors)) ++foreign;
  for (const ProductRow& row : kProducts) EXPECT_FALSE(IsSupportedScanner(foreign, row.productId));
}

TEST_F(ProductTable, UnknownProductSetsNothing) {
  sdk().algorithmMode = 9;
  DeviceRecord record;
  record.modelCode = 123;
  record.width = 45;
  record.height = 67;
  for (std::uint16_t unknown : {0x0000, 0x1022, 0x2032, 0x2044, 0x9006, 0xFFFF}) {
    EXPECT_EQ(ApplyProductSettings(record, unknown, ZYL_VENDOR_ID_1), -1) << std::hex << unknown;
    EXPECT_FALSE(IsSupportedScanner(ZYL_VENDOR_ID_1, unknown)) << std::hex << unknown;
  }
  EXPECT_EQ(record.modelCode, 123);
  EXPECT_EQ(record.width, 45);
  EXPECT_EQ(record.height, 67);
  EXPECT_EQ(sdk().algorithmMode, 9);
}

}  // namespace
