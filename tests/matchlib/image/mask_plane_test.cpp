// Mask plane: the bit tests and conversions, percentages and the record.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "zylscan/matchlib_image.h"
#include "zylscan/matchlib_mask.h"
#include "zylscan/matchlib_object.h"

namespace {

using Bytes = std::vector<uint8_t>;

MaskPlane* plane_of(int h, int w, const Bytes& cells) {
  MaskPlane* m = mask_create(h, w);
  std::memcpy(mask_cells(m), cells.data(), cells.size());
  return m;
}

TEST(MaskPlane, NewPlaneIsAllClearAndValid) {
  MaskPlane* m = mask_create(3, 5);
  ASSERT_NE(m, nullptr);
  Bytes valid(15, 0);
  EXPECT_EQ(mask_to_valid_bytes(m, valid.data()), ML_OK);
  EXPECT_EQ(valid, Bytes(15, 255));
  for (int i = 0; i < 15; ++i) EXPECT_EQ(mask_cell_is_clear(m, i), 1);
  EXPECT_EQ(mask_valid_percent(m), 100);
  mask_release(m);
}

TEST(MaskPlane, ConversionsTellClearValidAndDisplayCells) {
  const Bytes cells = {0x00, 0x01, 0x02, 0x10, 0x20, 0x40, 0x60, 0x41, 0x08};
  MaskPlane* m = plane_of(1, 9, cells);
  Bytes valid(9), region(9), display(9), extracted(9);
  ASSERT_EQ(mask_to_valid_bytes(m, valid.data()), ML_OK);
  ASSERT_EQ(mask_to_region_bytes(m, region.data()), ML_OK);
  ASSERT_EQ(mask_to_display_bytes(m, display.data()), ML_OK);
  mask_extract_bits(m, 0x41, extracted.data());
  EXPECT_EQ(valid, (Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255}));
  EXPECT_EQ(region, (Bytes{255, 0, 0, 0, 255, 255, 255, 0, 255}));
  EXPECT_EQ(display, (Bytes{255, 0, 0, 0, 96, 128, 128, 0, 192}));
  EXPECT_EQ(extracted, (Bytes{0, 1, 0, 0, 0, 0x40, 0x40, 0x41, 0}));
  // 0x40 alone is clear (part of the finger) but not valid for measuring.
  EXPECT_EQ(mask_cell_is_clear(m, 5), 1);
  EXPECT_EQ(mask_exclusion_bits(m, 7), 0x01);
  EXPECT_EQ(mask_test_bits(m, 0x60, 6), 0x60);
  // Indices outside the plane are ignored.
  EXPECT_EQ(mask_test_bits(m, 0xFF, 9), 0);
  EXPECT_EQ(mask_test_bits(m, 0xFF, -1), 0);
  EXPECT_EQ(mask_cell_is_clear(m, 9), 0);
  mask_set_cell_bits(m, 0x80, 9);
  EXPECT_EQ(mask_to_valid_bytes(m, nullptr), ML_BAD_ARGUMENT);
  EXPECT_EQ(mask_to_region_bytes(nullptr, region.data()), ML_BAD_ARGUMENT);
  mask_release(m);
}

TEST(MaskPlane, MapOperationsSetAssignAndClearBits) {
  const Bytes map = {0, 5, 0, 1};
  struct Case {
    const char* name;
    void (*op)(MaskPlane*, const Bytes&);
    Bytes expected;
  } cases[] = {
      {"set where set", [](MaskPlane* m, const Bytes& b) { mask_set_bits_where_set(m, 0x02, b.data()); },
       {0x20, 0x03, 0x01, 0x22}},
      {"set where clear", [](MaskPlane* m, const Bytes& b) { mask_set_bits_where_clear(m, 0x02, b.data()); },
       {0x22, 0x03, 0x03, 0x20}},
      {"assign where set", [](MaskPlane* m, const Bytes& b) { mask_assign_bits_where_set(m, 0x21, b.data()); },
       {0x00, 0x23, 0x00, 0x21}},
      {"assign where clear", [](MaskPlane* m, const Bytes& b) { mask_assign_bits_where_clear(m, 0x21, b.data()); },
       {0x21, 0x02, 0x21, 0x00}},
      {"outside where set", [](MaskPlane* m, const Bytes& b) { mask_set_outside_where_set(m, b.data()); },
       {0x20, 0x13, 0x01, 0x30}},
      {"assign outside", [](MaskPlane* m, const Bytes& b) { mask_assign_outside(m, b.data()); },
       {0x20, 0x13, 0x01, 0x30}},
      {"clear bits", [](MaskPlane* m, const Bytes&) { mask_clear_bits(m, 0x21); },
       {0x00, 0x02, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    MaskPlane* m = plane_of(2, 2, {0x20, 0x03, 0x01, 0x20});
    c.op(m, map);
    EXPECT_EQ(Bytes(mask_cells(m), mask_cells(m) + 4), c.expected) << c.name;
    mask_release(m);
  }
  mask_set_bits_where_set(nullptr, 1, map.data());  // ignored
}

TEST(MaskPlane, PercentagesCountOverAllCellsOrTheRegion) {
  // 8 cells: 2 outside the region, 3 background inside it, 1 strong mark,
  // 2 untouched.
  MaskPlane* m = plane_of(2, 4, {0x01, 0x03, 0x02, 0x02, 0x02, 0x40, 0x00, 0x00});
  EXPECT_EQ(mask_bits_percent(m, 0x02), 4 * 100 / 8);
  EXPECT_EQ(mask_bits_percent_in_region(m, 0x12), 3 * 100 / 6);
  EXPECT_EQ(mask_valid_percent(m), 2 * 100 / 8);
  GrayImage* img = image_create_with_mask(2, 4, 500, 500, nullptr, 0, m);
  EXPECT_EQ(image_background_percent(img), 50);
  EXPECT_EQ(image_mask_bit40_percent(img), 16);
  EXPECT_EQ(image_usable_percent(img), 25);
  image_release(img);
  mask_release(m);

  MaskPlane* empty = mask_create(0, 7);
  MaskPlane* outside = plane_of(1, 2, {0x01, 0x01});
  EXPECT_EQ(mask_bits_percent(empty, 0xFF), 0);
  EXPECT_EQ(mask_bits_percent_in_region(outside, 0xFF), 0);
  GrayImage* maskless = image_create(2, 2, 500, 500, nullptr, 0);
  EXPECT_EQ(image_usable_percent(maskless), 0);
  image_release(maskless);
  mask_release(empty);
  mask_release(outside);
}

TEST(MaskPlane, RecordLayoutAndRoundTrip) {
  EXPECT_EQ(mask_write(nullptr, nullptr), 1u);
  uint8_t zero = 0xEE;
  EXPECT_EQ(mask_write(&zero, nullptr), 1u);
  EXPECT_EQ(zero, 0);
  MaskPlane* none = reinterpret_cast<MaskPlane*>(1);
  EXPECT_EQ(mask_read(&zero, &none), 1u);
  EXPECT_EQ(none, nullptr);

  MaskPlane* m = plane_of(2, 3, {1, 2, 3, 0x10, 0x20, 0x40});
  Bytes out(mask_write(nullptr, m));
  ASSERT_EQ(out.size(), 11u);
  EXPECT_EQ(mask_write(out.data(), m), 11u);
  EXPECT_EQ(out, (Bytes{1, 0, 2, 0, 3, 1, 2, 3, 0x10, 0x20, 0x40}));
  MaskPlane* back = nullptr;
  EXPECT_EQ(mask_read(out.data(), &back), 11u);
  EXPECT_EQ(mask_equal(back, m), 1);
  EXPECT_EQ(mask_equal(back, nullptr), 0);
  mask_release(back);
  for (size_t n = 0; n < out.size(); ++n) {
    EXPECT_EQ(mask_read_bounded(out.data(), n, &back), 0u) << n;
    EXPECT_EQ(back, nullptr);
  }
  mask_release(m);
}

TEST(MaskPlane, RetainAndCloneCountIndependently) {
  MaskPlane* m = mask_create(2, 2);
  EXPECT_EQ(mask_retain(m), m);
  EXPECT_EQ(object_refcount(m), 2);
  MaskPlane* c = mask_clone(m);
  EXPECT_EQ(object_refcount(c), 1);
  mask_set_cell_bits(c, 1, 0);
  EXPECT_EQ(mask_equal(m, c), 0);
  mask_release(m);
  mask_release(m);
  mask_release(c);
  EXPECT_EQ(mask_create(-1, 2), nullptr);
  EXPECT_EQ(mask_create(2, 65536), nullptr);
}

}  // namespace
