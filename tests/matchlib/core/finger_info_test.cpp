// Finger information records and attribute values: counting of the static
// defaults, comparison, and the serialised forms.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "zylscan/matchlib_finger_info.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes write_info(const FingerInfo* f) {
  Bytes out(finger_info_write(nullptr, f), 0xEE);
  EXPECT_EQ(finger_info_write(out.data(), f), out.size());
  return out;
}

TEST(FingerInfo, DefaultsSurviveAnyNumberOfReleases) {
  FingerInfo* d = finger_info_default();
  for (int i = 0; i < 5; ++i) finger_info_release(d);
  EXPECT_EQ(finger_info_retain(d), d);
  EXPECT_EQ(finger_info_position(d), 0);
  EXPECT_EQ(finger_info_attribute(d), attribute_default());
  AttributeValue* a = attribute_default();
  attribute_release(a);
  attribute_release(a);
  EXPECT_EQ(attribute_id(a), 0u);
}

TEST(FingerInfo, AttributesCompareByIdOnly) {
  AttributeValue* a = attribute_create_full(7, 1, 0);
  AttributeValue* b = attribute_create_full(7, 2, 1);
  AttributeValue* c = attribute_create(8);
  FingerInfo* fa = finger_info_create_full(3, a, 11);
  FingerInfo* fb = finger_info_create_full(3, b, 11);
  FingerInfo* fc = finger_info_create_full(3, c, 11);
  FingerInfo* fd = finger_info_create_full(3, a, 12);
  EXPECT_EQ(finger_info_equal(fa, fb), 1);
  EXPECT_EQ(finger_info_equal(fa, fc), 0);
  EXPECT_EQ(finger_info_equal(fa, fd), 0);
  EXPECT_EQ(finger_info_equal(fa, nullptr), 0);
  EXPECT_EQ(finger_info_key(fc), (uint64_t{8} << 32) | 3);
  for (FingerInfo* f : {fa, fb, fc, fd}) finger_info_release(f);
  for (AttributeValue* v : {a, b, c}) attribute_release(v);
}

TEST(FingerInfo, WritesTheExactLayout) {
  AttributeValue* a = attribute_create_full(0x01020304, 0x0506, 7);
  FingerInfo* f = finger_info_create_full(0x1A3, a, -2);  // position written as its low byte
  EXPECT_EQ(write_info(f), (Bytes{2, 1, 1, 2, 3, 4, 5, 6, 7, 0xA3, 0xFF, 0xFF, 0xFF, 0xFE, 0, 0,
                                  0, 0, 0}));
  EXPECT_EQ(write_info(finger_info_default()),
            (Bytes{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(write_info(nullptr), Bytes{0});
  finger_info_release(f);
  attribute_release(a);
}

TEST(FingerInfo, ReadsEveryVersionAndRefusesShortInput) {
  struct Case {
    Bytes in;
    uint32_t consumed;
    int32_t position;
    uint32_t id;
  } cases[] = {
      {{0}, 1, 0, 0},
      {{1, 0, 4, 0, 0, 0, 9}, 7, 4, 0},
      {{1, 1, 0, 0, 0, 5, 0, 0, 0, 4, 0, 0, 0, 9}, 14, 4, 5},
      {{2, 1, 0, 0, 0, 5, 0, 0, 0, 4, 0, 0, 0, 9, 0, 0, 0, 0, 0}, 19, 4, 5},
      {{9, 0, 6, 0, 0, 0, 1, 0, 0, 0, 0, 0}, 12, 6, 0},
  };
  for (const auto& c : cases) {
    FingerInfo* f = nullptr;
    EXPECT_EQ(finger_info_read_bounded(c.in.data(), c.in.size(), &f), c.consumed);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(finger_info_position(f), c.position);
    EXPECT_EQ(finger_info_attribute_id(f), c.id);
    finger_info_release(f);
    // Every shorter prefix is refused.
    for (size_t n = 0; n < c.in.size(); ++n) {
      Bytes prefix(c.in.begin(), c.in.begin() + n);
      EXPECT_EQ(finger_info_read_bounded(prefix.data(), n, &f), 0u) << n;
      EXPECT_EQ(f, nullptr);
    }
  }
}

TEST(FingerInfo, RoundTripsWithAndWithoutAttribute) {
  AttributeValue* a = attribute_create_full(99, 3, 1);
  FingerInfo* with = finger_info_create_full(2, a, 1234);
  for (const FingerInfo* f : std::vector<const FingerInfo*>{with, finger_info_default()}) {
    Bytes b = write_info(f);
    FingerInfo* back = nullptr;
    EXPECT_EQ(finger_info_read(b.data(), &back), b.size());
    EXPECT_EQ(finger_info_equal(back, f), 1);
    EXPECT_EQ(attribute_value(finger_info_attribute(back)),
              attribute_value(finger_info_attribute(f)));
    finger_info_release(back);
  }
  FingerInfo* copy = finger_info_copy(with);
  EXPECT_NE(finger_info_attribute(copy), a);
  EXPECT_EQ(finger_info_equal(copy, with), 1);
  finger_info_release(copy);
  finger_info_release(with);
  attribute_release(a);
}

}  // namespace
