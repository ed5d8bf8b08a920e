// The small-sensor roads of the engine dispatch: type-line extraction with a
// native template behind it (mode 2) and type-line verification confirmed by
// the native halves (mode 1).
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "api/engine_dispatch.h"
#include "support/pgm.h"
#include "zylscan/devalg.h"
#include "zylscan/nuvel.h"
#include "zylscan/typeline_template.h"
#include "zylscan/xw_operations.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class TypelineDispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = AlgMode;
    ASSERT_EQ(DevAlgCreateCtx(&context_), 1);
  }
  void TearDown() override {
    DevAlgFreeCtx(context_);
    setAlgMode(saved_);
  }
  static zyl::test::GreyImage Print(const char* name) { return zyl::test::read_pgm(zyl::test::test_data(name)); }

  // A combined template of a 160 x 160 crop, extracted in mode 2.
  Bytes Combined(const char* name, int* count = nullptr) {
    setAlgMode(2);
    auto img = Print(name);
    Bytes out(1024, 0xEE);
    std::int32_t length = -7;
    const int n = DevAlgExtract(img.width, img.height, img.pixels.data(), 500, out.data(), &length, context_);
    if (count) *count = n;
    EXPECT_GT(length, 0) << name;
    EXPECT_LE(length, 512) << "the native half fits behind the type-line half";
    return out;
  }

  XWContext* context_ = nullptr;
  std::int32_t saved_ = 0;
};

TEST_F(TypelineDispatchTest, ModeTwoWritesTypelineThenNativeTemplate) {
  auto img = Print("fvc2002_101_1_160.pgm");
  const Bytes captured = img.pixels;
  setAlgMode(2);
  Bytes out(1024, 0xEE);
  std::int32_t length = -7;
  const int n = DevAlgExtract(160, 160, img.pixels.data(), 500, out.data(), &length, context_);
  EXPECT_GT(n, 2) << "the minutiae count of the type-line template";
  EXPECT_LT(n, 100);

  // Byte 0: a type-line template that its reader accepts.
  TypelineRecord record{};
  Bytes typeline(out.begin(), out.begin() + 750);
  mch_sub_func_02(typeline.data(), &record);
  EXPECT_EQ(mch_sub_func_03(&record), 1);

  // Byte 512: the native template of the image as captured, the same one
  // the skeleton road writes for it (bounded to 512 bytes).
  setAlgMode(0);
  Bytes native(1024, 0);
  std::int32_t native_length = 0;
  Bytes pixels = captured;
  ASSERT_EQ(DevAlgExtract(160, 160, pixels.data(), 500, native.data(), &native_length, context_) >= -103, true);
  ASSERT_EQ(length, native_length);
  EXPECT_TRUE(std::equal(native.begin(), native.begin() + native_length, out.begin() + 512));
  // The type-line extractor clears the first 750 bytes; nothing else is
  // written past the native template.
  const auto end = out.begin() + 512 + native_length;
  const auto cleared = out.begin() + std::max<std::ptrdiff_t>(750, 512 + native_length);
  EXPECT_TRUE(std::all_of(end, cleared, [](auto v) { return v == 0; }));
  EXPECT_TRUE(std::all_of(cleared, out.end(), [](auto v) { return v == 0xEE; }));
}

TEST_F(TypelineDispatchTest, ModeTwoFailureIsZeroAndWithoutContextLengthIsUntouched) {
  setAlgMode(2);
  Bytes blank(160 * 160, 255);
  Bytes out(1024, 0);
  std::int32_t length = -7;
  // A blank image yields no usable type-line template: 0, not a status.
  EXPECT_EQ(DevAlgExtract(160, 160, blank.data(), 500, out.data(), &length, context_), 0);

  auto img = Print("fvc2002_101_1_160.pgm");
  length = -7;
  EXPECT_GT(DevAlgExtract(160, 160, img.pixels.data(), 500, out.data(), &length, nullptr), 0);
  EXPECT_EQ(length, -7);
}

TEST_F(TypelineDispatchTest, VerdictLowersByFortyAndNeedsConfirmationFromOneHundred) {
  struct Case {
    int score;
    bool confirmed;
    int expected;
  };
  const Case cases[] = {{0, false, 0},    {40, false, 40},   {41, false, 1},    {99, false, 59},
                        {100, false, 0},  {100, true, 60},   {1000, true, 960}, {1000, false, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(zyl::api::TypelineVerdict(c.score, c.confirmed), c.expected) << c.score << " " << c.confirmed;
}

TEST_F(TypelineDispatchTest, ModeOneMatchesSameFingerAboveOtherFinger) {
  const Bytes a1 = Combined("fvc2000_102_1_160.pgm");
  const Bytes a2 = Combined("fvc2000_102_2_160.pgm");
  const Bytes b = Combined("fvc2002_101_1_160.pgm");
  setAlgMode(1);
  const int self = DevAlgVerify(a1.data(), a1.data(), context_);
  const int same = DevAlgVerify(a1.data(), a2.data(), context_);
  const int other = DevAlgVerify(a1.data(), b.data(), context_);
  EXPECT_GE(self, 500);
  EXPECT_GT(same, other);
  EXPECT_LT(other, 60);
  EXPECT_EQ(DevAlgVerify(nullptr, a1.data(), context_), -4);
}

}  // namespace
