// Preparation steps and the saturation mask: openings, tails, the cast to
// the border, and the band-filter step's mask and flag.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "support/pgm.h"
#include "zylscan/matchlib_context.h"
#include "zylscan/matchlib_object.h"
#include "zylscan/matchlib_param.h"
#include "zylscan/matchlib_prep_steps.h"

namespace zyl::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kN = 64;

// Ground of values 60..200 whose extreme values lie apart from each other.
Bytes ground() {
  Bytes px(kN * kN);
  for (int y = 0; y < kN; ++y)
    for (int x = 0; x < kN; ++x) px[y * kN + x] = static_cast<std::uint8_t>(60 + (x * 7 + y * 13) % 141);
  return px;
}

void square(Bytes& px, int y0, int x0, int side, std::uint8_t v) {
  for (int y = y0; y < y0 + side; ++y)
    for (int x = x0; x < x0 + side; ++x) px[y * kN + x] = v;
}

struct Result {
  Bytes mask;
  std::uint32_t count = 0;
};

Result build(const Bytes& px) {
  Result r{Bytes(kN * kN, 1), 99};
  EXPECT_EQ(saturation_mask_build(px.data(), kN, kN, r.mask.data(), &r.count), ML_OK);
  return r;
}

int excluded(const Result& r) { return static_cast<int>(std::count(r.mask.begin(), r.mask.end(), 0)); }

TEST(SaturationMask, SinglePixelIsOpenedAwayAndABlockIsKept) {
  Bytes px = ground();
  px[20 * kN + 20] = 255;
  Result one = build(px);
  EXPECT_EQ(one.count, 0u);
  EXPECT_EQ(excluded(one), 0);
  square(px, 20, 20, 3, 255);
  Result block = build(px);
  EXPECT_EQ(block.count, 9u);
  EXPECT_EQ(block.mask[21 * kN + 21], 0);
  // Nothing above 225: no marks whatever the tails.
  Result plain = build(ground());
  EXPECT_EQ(plain.count, 0u);
  EXPECT_EQ(excluded(plain), 0);
}

TEST(SaturationMask, PatchRightOfCentreExcludesTheBandToTheRightBorder) {
  Bytes px = ground();
  square(px, 28, 44, 9, 255);
  Result r = build(px);
  EXPECT_GT(r.count, 0u);
  for (int x = 44; x < kN; ++x) EXPECT_EQ(r.mask[32 * kN + x], 0) << x;
  EXPECT_EQ(r.mask[32 * kN + 10], 1);  // left of the centre
  EXPECT_EQ(r.mask[4 * kN + 32], 1);   // above
  EXPECT_EQ(r.mask[60 * kN + 20], 1);  // below left
}

TEST(SaturationMask, DarkTailsApartFromTheMarksAreKept) {
  Bytes px = ground();
  square(px, 28, 44, 9, 255);
  square(px, 30, 6, 5, 0);  // dark patch on the left, not joined to the bright one
  Result r = build(px);
  for (int y = 30; y < 35; ++y)
    for (int x = 6; x < 11; ++x) EXPECT_EQ(r.mask[y * kN + x], 1) << y << "," << x;
  // Joined to the bright patch, the same dark patch is excluded with it.
  Bytes joined = ground();
  square(joined, 28, 44, 9, 255);
  square(joined, 29, 39, 5, 0);
  Result j = build(joined);
  EXPECT_EQ(j.mask[31 * kN + 39], 0);
}

struct ContextDeleter {
  void operator()(MatchContext* c) const { ctx_release(c); }
};

TEST(PrepSteps, BandFilterBuildsTheMaskOnlyWhenAskedAndRaisesTheFlag) {
  const auto p = zyl::test::read_pgm(zyl::test::test_data("fvc2004_102_1_160.pgm"));
  Bytes px = p.pixels;
  for (int y = 60; y < 80; ++y)
    for (int x = 120; x < 140; ++x) px[y * p.width + x] = 255;
  Bytes out(px.size());
  std::uint8_t* mask = reinterpret_cast<std::uint8_t*>(1);
  int flag = 7;
  ASSERT_EQ(prep_band_filter(nullptr, px.data(), nullptr, p.height, p.width, 500, nullptr,
                             out.data(), &mask, &flag),
            ML_OK);
  EXPECT_EQ(mask, nullptr);
  EXPECT_EQ(flag, 7);
  EXPECT_NE(out, px);

  std::unique_ptr<MatchContext, ContextDeleter> ctx(ctx_create());
  ASSERT_EQ(param_set(ctx.get(), 0xb21c9796, 1), ML_OK);
  ASSERT_EQ(prep_band_filter(ctx.get(), px.data(), nullptr, p.height, p.width, 500, nullptr,
                             out.data(), &mask, &flag),
            ML_OK);
  ASSERT_NE(mask, nullptr);
  EXPECT_EQ(flag, 7);  // the default limit is never passed
  EXPECT_EQ(mask[70 * p.width + 130], 0);
  EXPECT_EQ(mask[70 * p.width + 159], 0);
  EXPECT_EQ(mask[70 * p.width + 20], 1);
  std::free(mask);
  ASSERT_EQ(param_set(ctx.get(), 0xbfaead9e, 100), ML_OK);
  ASSERT_EQ(prep_band_filter(ctx.get(), px.data(), nullptr, p.height, p.width, 500, nullptr,
                             out.data(), &mask, &flag),
            ML_OK);
  EXPECT_EQ(flag, 1);
  std::free(mask);
}

TEST(PrepSteps, EveryStepWritesACopyAndTheListsEndInNull) {
  const auto p = zyl::test::read_pgm(zyl::test::test_data("fvc2004_102_1_160.pgm"));
  for (int l = 0; l < 4; ++l) {
    const ImagePrepDescriptor* list = prep_step_list(l);
    ASSERT_NE(list, nullptr);
    int steps = 0;
    for (; list[steps].routine; ++steps) {
      Bytes out(p.pixels.size(), 0);
      std::uint8_t* mask = nullptr;
      int flag = 0;
      EXPECT_EQ(list[steps].routine(nullptr, p.pixels.data(), nullptr, p.height, p.width, 500,
                                    nullptr, out.data(), &mask, &flag),
                ML_OK);
      EXPECT_EQ(mask, nullptr);
      EXPECT_GT(std::count_if(out.begin(), out.end(), [](auto v) { return v != 0; }), 1000);
    }
    EXPECT_EQ(steps, l == 2 ? 2 : 1);
  }
  EXPECT_EQ(prep_step_list(4), nullptr);
}

}  // namespace
}  // namespace zyl::test
