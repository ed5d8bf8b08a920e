// The feature-vector record and its stored form (template kind 87).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "support/allocation_sweep.h"
#include "zylscan/matchlib_featvec.h"
#include "zylscan/matchlib_object.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes write(const FeatureVector* v) {
  std::uint8_t* out = nullptr;
  std::uint16_t size = 0;
  EXPECT_EQ(featvec_write(v, &out, &size), ML_OK);
  Bytes b(out, out + size);
  std::free(out);
  return b;
}

TEST(FeatureVector, StoredLayout) {
  FeatureVector* v = nullptr;
  ASSERT_EQ(featvec_create(300, 400, &v), ML_OK);  // 300 rows, 400 wide
  EXPECT_EQ(write(v), (Bytes{0, 0, 0x01, 0x90, 0x01, 0x2C, 0, 0, 0, 0}));
  v->values = static_cast<std::int32_t*>(std::malloc(2 * sizeof(std::int32_t)));
  v->values[0] = -1;
  v->values[1] = 0x01020304;
  v->count = 2;
  EXPECT_EQ(write(v), (Bytes{0, 0, 0x01, 0x90, 0x01, 0x2C, 0, 0, 0, 2, 0xFF, 0xFF, 0xFF, 0xFF,
                             1, 2, 3, 4}));
  featvec_free(v);
  featvec_free(nullptr);
}

TEST(FeatureVector, WriteThenReadIsTheIdentity) {
  FeatureVector* v = nullptr;
  ASSERT_EQ(featvec_create(7, 9, &v), ML_OK);
  v->reserved1 = 0x1234;
  v->reserved2 = 0xBEEF;
  v->count = 190;
  v->values = static_cast<std::int32_t*>(std::malloc(190 * sizeof(std::int32_t)));
  for (int i = 0; i < 190; ++i) v->values[i] = (i - 95) * 123457;
  const Bytes b = write(v);
  ASSERT_EQ(b.size(), 770u);
  FeatureVector* r = nullptr;
  ASSERT_EQ(featvec_read(b.data(), b.size(), &r), ML_OK);
  EXPECT_EQ(r->width, 9);
  EXPECT_EQ(r->height, 7);
  EXPECT_EQ(r->reserved1, 0x1234);
  EXPECT_EQ(r->reserved2, 0xBEEF);
  ASSERT_EQ(r->count, 190);
  for (int i = 0; i < 190; ++i) EXPECT_EQ(r->values[i], v->values[i]);
  featvec_free(r);
  featvec_free(v);
}

TEST(FeatureVector, RefusesTruncatedAndNullInput) {
  const Bytes two = {0, 0, 0, 1, 0, 1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 2};
  FeatureVector* r = nullptr;
  for (std::size_t n = 1; n < two.size(); ++n) {
    // An exact-size copy, so any over-read shows under the sanitizers.
    std::vector<std::uint8_t> prefix(two.begin(), two.begin() + n);
    EXPECT_EQ(featvec_read(prefix.data(), n, &r), ML_CORRUPT) << n;
    EXPECT_EQ(r, nullptr);
  }
  ASSERT_EQ(featvec_read(two.data(), two.size(), &r), ML_OK);
  EXPECT_EQ(r->values[1], 2);
  featvec_free(r);
  EXPECT_EQ(featvec_read(nullptr, 10, &r), ML_BAD_ARGUMENT);
  EXPECT_EQ(featvec_read(two.data(), 10, nullptr), ML_BAD_ARGUMENT);

  FeatureVector big{};
  big.count = FEATVEC_MAX_VALUES + 1;
  std::vector<std::int32_t> values(big.count);
  big.values = values.data();
  std::uint8_t* out = nullptr;
  std::uint16_t size = 5;
  EXPECT_EQ(featvec_write(&big, &out, &size), ML_BAD_ARGUMENT);
  EXPECT_EQ(size, 0);
}

TEST(FeatureVector, OutOfMemoryLeavesNothingBehind) {
  const std::vector<std::uint8_t> two = {0, 0, 0, 1, 0, 1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 2};
  const int reads = zyl::test::sweep_allocation_failures([&] {
    FeatureVector* r = nullptr;
    const int st = featvec_read(two.data(), two.size(), &r);
    if (zyl::test::allocation_failed()) {
      EXPECT_EQ(st, ML_NO_MEMORY);
      EXPECT_EQ(r, nullptr);
    } else {
      EXPECT_EQ(st, ML_OK);
    }
    featvec_free(r);
  });
  EXPECT_EQ(reads, 2);  // the record and its values
  FeatureVector v{};
  std::uint8_t* out = nullptr;
  std::uint16_t size = 9;
  zyl::matchlib::test_hook::fail_allocation(1);
  EXPECT_EQ(featvec_write(&v, &out, &size), ML_NO_MEMORY);
  EXPECT_TRUE(zyl::test::allocation_failed());
  EXPECT_EQ(size, 0);
}

}  // namespace
